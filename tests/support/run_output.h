// Reading a run's output files in tests: numbers at byte offsets, and a
// finished run's time file and data file decoded whole. Both files are
// little-endian, as is every machine the tests run on, so a number is copied
// out as it lies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kova_test {

// The int32 or the double that starts at offset; throws std::out_of_range
// when the bytes end before it.
int32_t IntAt(const std::vector<unsigned char>& bytes, size_t offset);
double DoubleAt(const std::vector<unsigned char>& bytes, size_t offset);

// A finished run's two files: the time file's header (record count, rows,
// columns at bytes 0, 4 and 8), its record times (from byte 36) and every
// record of the data file, one after another.
struct CRunOutput {
    int32_t nRecords = 0;
    int32_t nRows = 0;
    int32_t nCols = 0;
    int nComp = 0;
    std::vector<double> times;
    std::vector<double> values; // empty when the data file's size disagrees

    // Entry k of node (i, j) in record r.
    double At(int r, int i, int j, int k) const {
        const size_t node = static_cast<size_t>(i) * nCols + j;
        const size_t perRecord = static_cast<size_t>(nRows) * nCols * nComp;
        return values[r * perRecord + node * nComp + k];
    }
};

// Reads BASE.kvt and BASE.kvo of a run with nComp entries per node. A time
// file without its header, or sizes that disagree with it, are test failures
// naming label.
CRunOutput ReadRunOutput(const std::string& base, int nComp, const std::string& label = "");

} // namespace kova_test
