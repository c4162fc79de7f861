// A run as the tools see it: the model's grid and entry names from BASE.kvi
// and the checked result files BASE.kvt and BASE.kvo.
#pragma once

#include "post/model_grid.h"
#include "post/result_files.h"

#include <string>
#include <vector>

class CRunResults {
public:
    // Throws ResultException naming the file that is missing or does not fit.
    explicit CRunResults(const std::string& base);

    // One line telling that the run did not finish and where the record count
    // and times came from; empty for a finished run.
    std::string UnfinishedNotice() const;
    // One line telling that the data file of an unfinished run ends inside a
    // record, which is left out; empty when every record is whole.
    std::string SkippedRecordNotice() const;

    const std::string m_base;
    const CModelGrid m_grid;
    const std::vector<std::string> m_names;
    CResultFiles m_files;
};
