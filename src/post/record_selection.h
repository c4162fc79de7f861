// Which records a tool works on: "all", or a comma-separated list of record
// indices and ranges ("0,3,5-8"), where "last" stands for the last record.
#pragma once

#include <string>
#include <vector>

// The selected records in the order given (a range ascending), each once.
// Throws ResultException, naming the option, for a malformed list or an
// index outside 0..recordCount-1.
std::vector<int> ParseRecordSelection(const std::string& text, int recordCount,
                                      const std::string& option = "--records");
