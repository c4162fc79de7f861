// BASE.obs.csv: the state of the observation wells of the extension file at
// the start and after every global step:
//
//   time,NAME:ENTRY,...
//
// one column per well and entry in the order given; numbers have 17
// significant digits, so at a record's time they read back as the record's
// values bit for bit. The rows reach the system at every record.
#pragma once

#include "io/run_output.h"
#include "io/safe_file.h"

#include <string>
#include <vector>

std::string ObservationFileName(const std::string& base);

class CObservationFile : public CTableOutput {
public:
    explicit CObservationFile(const std::string& base) : CTableOutput(ObservationFileName(base)) {}

    // The first record's state is the first row; later rows come after steps.
    void WriteRecord(CSimulation& s) override;
    void AfterStep(const CSimulation& s) override;
    void Finish(const CSimulation& s) override;

protected:
    std::vector<double> Carried() const override { return {m_started ? 1.0 : 0.0}; }
    void TakeCarried(const std::vector<double>& carried, const CSimulation& s) override;

private:
    void WriteHeader(const CSimulation& s);
    void WriteRow(const CSimulation& s);

    bool m_started = false;
};
