#include "support/result_fixture.h"

#include "support/test_support.h"

#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace kova_test {

namespace {

// Appends the bytes of value as they lie in memory (little-endian).
template <typename T> void Put(std::vector<unsigned char>& out, T value) {
    unsigned char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

} // namespace

unsigned long long Bits(double value) {
    unsigned long long bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double CResultFixture::Value(int r, int n, int k) const {
    const double awkward[] = {-0.0, 4.9406564584124654e-324, std::numeric_limits<double>::max(),
                              std::numeric_limits<double>::quiet_NaN(),
                              -std::numeric_limits<double>::infinity()};
    if (r == 1 && n == 0 && k < 5)
        return awkward[k];
    return (r + 1) * 1000.0 + n * 10.0 + k + (k + 1) / 7.0 + 0.1 * r;
}

std::string CResultFixture::ModelText() const {
    std::ostringstream out;
    out.precision(17);
    out << rows << ' ' << cols << ' ' << immobile << ' ' << mobile << " 0 1\n"
        << startTime << ' ' << endTime << ' ' << outputInterval << ' ' << globalStep << " 1e-6\n";
    for (const auto* coords : {&rowCoord, &colCoord}) {
        for (double c : *coords)
            out << c << ' ';
        out << '\n';
    }
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
    for (int32_t count : {static_cast<int32_t>(times.size()), rows, cols})
        Put(out, count);
    for (double t : {startTime, times.empty() ? endTime : times.back(), outputInterval})
        Put(out, t);
    for (const double t : times)
        Put(out, t);
    return out;
}

std::vector<unsigned char> CResultFixture::DataBytes() const {
    std::vector<unsigned char> out;
    for (int r = 0; r < static_cast<int>(times.size()); ++r)
        for (int n = 0; n < Nodes(); ++n)
            for (int k = 0; k < Comp(); ++k)
                Put(out, Value(r, n, k));
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
