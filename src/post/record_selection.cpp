#include "post/record_selection.h"

#include "post/result_exception.h"

#include <cstdlib>

namespace {

std::string RangeText(int recordCount) {
    return recordCount > 0 ? "0.." + std::to_string(recordCount - 1) : "none (no records)";
}

// text is one end of item; an error shows text as given, or the item when
// text is empty ("3-").
int ParseRecord(const std::string& text, const std::string& item, int recordCount,
                const std::string& option) {
    if (text == "last") {
        if (recordCount <= 0)
            throw ResultException(option + ": \"last\" but the run has no records");
        return recordCount - 1;
    }
    const bool negative = text.size() > 1 && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        throw ResultException(option + ": \"" + (text.empty() ? item : text) +
                              "\" is not a record index");
    if (negative)
        throw ResultException(option + ": record " + text + " is negative (the records are " +
                              RangeText(recordCount) + ")");
    // More digits than an int holds are out of range as surely as any.
    if (digits.size() > 9 || std::atoi(digits.c_str()) >= recordCount)
        throw ResultException(option + ": record " + text + " outside " + RangeText(recordCount));
    return std::atoi(digits.c_str());
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
        // A leading '-' is a sign, the next one joins a range ("-1" is refused
        // as negative, not read as a range without its start).
        const size_t dash = item.find('-', 1);
        const int first = ParseRecord(item.substr(0, dash), item, recordCount, option);
        const int last = dash == std::string::npos
                             ? first
                             : ParseRecord(item.substr(dash + 1), item, recordCount, option);
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
