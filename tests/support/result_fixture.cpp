#include "support/result_fixture.h"

#include "support/test_support.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace kova_test {

namespace {

void PutBytes(std::vector<unsigned char>& out, uint64_t value, int count) {
    for (int b = 0; b < count; ++b)
        out.push_back(static_cast<unsigned char>((value >> (8 * b)) & 0xFF));
}

void PutInt(std::vector<unsigned char>& out, int32_t value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutBytes(out, bits, 4);
}

void PutDouble(std::vector<unsigned char>& out, double value) {
    PutBytes(out, Bits(value), 8);
}

std::string Joined(const std::vector<double>& values) {
    std::ostringstream out;
    out.precision(17);
    for (size_t k = 0; k < values.size(); ++k)
        out << (k ? " " : "") << values[k];
    return out.str();
}

} // namespace

unsigned long long Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double CResultFixture::Value(int r, int n, int k) const {
    if (r == 1 && n == 0) {
        switch (k) {
        case 0:
            return -0.0;
        case 1:
            return 4.9406564584124654e-324;
        case 2:
            return std::numeric_limits<double>::max();
        case 3:
            return std::numeric_limits<double>::quiet_NaN();
        case 4:
            return -std::numeric_limits<double>::infinity();
        default:
            break;
        }
    }
    return (r + 1) * 1000.0 + n * 10.0 + k + (k + 1) / 7.0 + 0.1 * r;
}

std::string CResultFixture::ModelText() const {
    std::ostringstream out;
    out.precision(17);
    out << rows << ' ' << cols << ' ' << immobile << ' ' << mobile << " 0 1\n"
        << startTime << ' ' << endTime << ' ' << outputInterval << ' ' << globalStep << " 1e-6\n"
        << Joined(rowCoord) << '\n'
        << Joined(colCoord) << '\n';
    for (int m = 0; m < mobile; ++m)
        out << "1 0.1 0\n";
    out << "10 0 0.3 1 1 0 0";
    for (int k = 7; k < Comp(); ++k)
        out << " 0";
    out << "\n0\n0\n0\n0\n0 0\n";
    return out.str();
}

std::vector<unsigned char> CResultFixture::TimeBytes() const {
    std::vector<unsigned char> out;
    PutInt(out, static_cast<int32_t>(times.size()));
    PutInt(out, rows);
    PutInt(out, cols);
    PutDouble(out, startTime);
    PutDouble(out, times.empty() ? endTime : times.back());
    PutDouble(out, outputInterval);
    for (const double t : times)
        PutDouble(out, t);
    return out;
}

std::vector<unsigned char> CResultFixture::DataBytes() const {
    std::vector<unsigned char> out;
    for (int r = 0; r < static_cast<int>(times.size()); ++r)
        for (int n = 0; n < Nodes(); ++n)
            for (int k = 0; k < Comp(); ++k)
                PutDouble(out, Value(r, n, k));
    return out;
}

void CResultFixture::Write(const std::string& base, bool finished) const {
    WriteTextFile(base + ".kvi", ModelText());
    WriteBinaryFile(base + ".kvo", DataBytes());
    WriteBinaryFile(base + ".kvt", finished ? TimeBytes() : std::vector<unsigned char>(4, 0));
}

void WriteBinaryFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace kova_test
