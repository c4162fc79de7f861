#include "support/run_output.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace kova_test {

namespace {

template <typename T> T ValueAt(const std::vector<unsigned char>& bytes, size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        throw std::out_of_range("no " + std::to_string(sizeof(T)) + "-byte number at offset " +
                                std::to_string(offset) + " of " + std::to_string(bytes.size()) +
                                " bytes");
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

} // namespace

int32_t IntAt(const std::vector<unsigned char>& bytes, size_t offset) {
    return ValueAt<int32_t>(bytes, offset);
}

double DoubleAt(const std::vector<unsigned char>& bytes, size_t offset) {
    return ValueAt<double>(bytes, offset);
}

CRunOutput ReadRunOutput(const std::string& base, int nComp, const std::string& label) {
    CRunOutput out;
    const std::vector<unsigned char> kvt = ReadBinaryFile(base + ".kvt");
    if (kvt.size() < 36) {
        ADD_FAILURE() << label << ": the time file holds no header (" << kvt.size() << " bytes)";
        return out;
    }
    out.nRecords = IntAt(kvt, 0);
    out.nRows = IntAt(kvt, 4);
    out.nCols = IntAt(kvt, 8);
    out.nComp = nComp;
    EXPECT_EQ(kvt.size(), 36u + 8u * out.nRecords) << label;
    for (int r = 0; r < out.nRecords && 36u + 8u * (r + 1) <= kvt.size(); ++r)
        out.times.push_back(DoubleAt(kvt, 36 + 8 * r));

    const std::vector<unsigned char> kvo = ReadBinaryFile(base + ".kvo");
    const size_t expected = static_cast<size_t>(out.nRecords) * out.nRows * out.nCols * nComp * 8;
    EXPECT_EQ(kvo.size(), expected) << label;
    if (kvo.size() == expected) {
        out.values.resize(kvo.size() / 8);
        std::memcpy(out.values.data(), kvo.data(), kvo.size());
    }
    return out;
}

} // namespace kova_test
