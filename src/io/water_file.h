// BASE.water.csv, the water balance of the flow field as volume rates, one
// block per interval between consecutive records:
//
//   time_start,time_end,term,rate
//
// terms fixed_head_inflow, fixed_head_outflow, sources, sinks and their sum,
// discrepancy; rates in the model's length cubed per its time unit
// (positive in, negative out) over the aquifer's thickness; numbers have 17
// significant digits. Written with the mass budget (the same rows sit at the
// head of the budget's first interval, in its column mass, for the readers
// that take them from there). Each interval reaches the system before the
// run goes on.
#pragma once

#include "io/run_output.h"

#include <string>
#include <vector>

std::string WaterFileName(const std::string& base);

class CWaterFile : public CTableOutput {
public:
    explicit CWaterFile(const std::string& base) : CTableOutput(WaterFileName(base)) {}

    void Start() override;
    // Writes the interval the time loop closed at this record (none at the first).
    void WriteRecord(CSimulation& s) override;
    void Finish(const CSimulation& s) override;

protected:
    std::vector<double> Carried() const override { return {static_cast<double>(m_written)}; }
    void TakeCarried(const std::vector<double>& carried, const CSimulation& s) override;

private:
    int m_written = 0; // intervals written
};
