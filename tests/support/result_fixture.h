// A run's three files (model, time file, data file) written by hand in the
// documented layout, so the post-processing tools can be tested without a
// run. The values are chosen to need all 17 digits, and a few are awkward on
// purpose: -0, a subnormal, the largest double, a NaN and an infinity.
#pragma once

#include <string>
#include <vector>

namespace kova_test {

struct CResultFixture {
    int rows = 3;
    int cols = 4;
    int immobile = 1;
    int mobile = 2;
    std::vector<double> rowCoord = {0.0, 5.0, 20.0};
    std::vector<double> colCoord = {0.0, 1.0, 3.0, 7.5};
    double startTime = 0.0;
    double endTime = 10.0;
    double outputInterval = 2.5;
    double globalStep = 1.0;
    std::vector<double> times = {0.0, 3.0, 5.0, 8.0, 10.0}; // what that cadence writes

    int Comp() const { return 7 + immobile + mobile; }
    int Nodes() const { return rows * cols; }
    // Entry k of node n at record r.
    double Value(int r, int n, int k) const;

    std::string ModelText() const;
    std::vector<unsigned char> TimeBytes() const; // the finished time file
    std::vector<unsigned char> DataBytes() const; // every record

    // Writes BASE.kvi, BASE.kvo and BASE.kvt; an unfinished run gets the
    // 4-byte marker as its time file.
    void Write(const std::string& base, bool finished = true) const;
};

void WriteBinaryFile(const std::string& path, const std::vector<unsigned char>& bytes);

// The bits of a double, for exact comparisons that also hold for -0 and NaN.
unsigned long long Bits(double value);

} // namespace kova_test
