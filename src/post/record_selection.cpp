#include "post/record_selection.h"

#include "post/result_exception.h"

#include <cstdlib>

namespace {

std::string RangeText(int recordCount) {
    return recordCount > 0 ? "0.." + std::to_string(recordCount - 1) : "none (no records)";
}

int ParseRecord(const std::string& item, int recordCount, const std::string& option) {
    if (item == "last") {
        if (recordCount <= 0)
            throw ResultException(option + ": \"last\" but the run has no records");
        return recordCount - 1;
    }
    if (item.empty() || item.size() > 9 ||
        item.find_first_not_of("0123456789") != std::string::npos)
        throw ResultException(option + ": \"" + item + "\" is not a record index");
    const int r = std::atoi(item.c_str());
    if (r >= recordCount)
        throw ResultException(option + ": record " + item + " outside " + RangeText(recordCount));
    return r;
}

} // namespace

std::vector<int> ParseRecordSelection(const std::string& text, int recordCount,
                                      const std::string& option) {
    std::vector<int> records;
    if (text == "all") {
        for (int r = 0; r < recordCount; ++r)
            records.push_back(r);
        return records;
    }
    std::vector<bool> taken(static_cast<size_t>(recordCount > 0 ? recordCount : 0), false);
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        const size_t dash = item.find('-');
        const int first = ParseRecord(item.substr(0, dash), recordCount, option);
        const int last = dash == std::string::npos
                             ? first
                             : ParseRecord(item.substr(dash + 1), recordCount, option);
        if (last < first)
            throw ResultException(option + ": range \"" + item + "\" runs backwards");
        for (int r = first; r <= last; ++r) {
            if (!taken[static_cast<size_t>(r)])
                records.push_back(r);
            taken[static_cast<size_t>(r)] = true;
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return records;
}
