// BASE.budget.csv, the mass budget (model/mass_budget.h) as a table:
//
//   time_start,time_end,entry,term,mass
//
// one row per interval between consecutive records, entry and term: for each
// immobile and mobile entry in state order storage_start, storage_end, the
// change terms (sinks, transport, porosity, reaction R TYPE) and the
// discrepancy. The first interval begins with the rows of entry "water":
// the steady flow's volume rates fixed_head_inflow, fixed_head_outflow,
// sources, sinks and their discrepancy. Numbers have 17 significant digits.
// Each interval reaches the system before the run goes on. At the end of the
// run a summary per entry goes to the run control for the front end to show.
#pragma once

#include "io/run_output.h"
#include "io/safe_file.h"

#include <string>
#include <vector>

std::string BudgetFileName(const std::string& base);

class CBudgetFile : public CTableOutput {
public:
    explicit CBudgetFile(const std::string& base) : CTableOutput(BudgetFileName(base)) {}

    void Start() override;
    // Writes the interval the time loop closed at this record (none at the first).
    void WriteRecord(CSimulation& s) override;
    void Finish(const CSimulation& s) override;

    // The summary of the intervals written: initial and final storage, the
    // mass in and out, by reaction and the discrepancy per entry.
    std::string Summary(const CSimulation& s) const;

protected:
    std::vector<double> Carried() const override;
    void TakeCarried(const std::vector<double>& carried, const CSimulation& s) override;

private:
    void WriteWater(const CSimulation& s);
    void WriteInterval(const CSimulation& s);
    void Row(double start, double end, const std::string& entry, const char* term, double mass);

    int m_written = 0;           // intervals written
    std::vector<double> m_total; // per term, over the intervals written
    std::vector<double> m_initial;
    std::vector<double> m_largest;     // per entry: the largest storage seen
    std::vector<double> m_discrepancy; // per entry, over the intervals written
    std::vector<std::string> m_names;  // per entry, made at the first interval
};
