// Numbers that are not finite, and finite numbers whose sums and differences
// are not: a number the stream cannot read is a bad file naming its field; a
// coordinate distance, a cell area or a run duration that overflows is an
// input error naming its fields; a clock that would pass the largest double
// ends the run as a computational error. Large but usable values still run.
#include "model/exceptions.h"
#include "support/in_process.h"
#include "support/run_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace kova_test;

namespace {

// A one-row model with one mobile component, no fixed heads, no reactions
// and one empty set, in its fields.
struct ModelText : CModelFields {
    ModelText() {
        defaults = "0 0 0.3 0 0 0 0 0"; // no conductivity: no fixed head holds the heads
        overrides = "1  0 0 7 1";
        fixedHeads = "0";
    }
};

// How a run of a model text ended, with its time file.
struct CRunEnd : CInProcessRun {
    std::vector<unsigned char> kvt;
};

CRunEnd RunText(const std::string& text) {
    TempDir dir;
    const std::string base = dir.File("model");
    WriteTextFile(base + ".kvi", text);
    return {RunInProcess(base), ReadBinaryFile(base + ".kvt")};
}

TEST(NonFiniteInput, NumbersTheStreamCannotHoldAreBadFilesNamingTheField) {
    for (const char* bad : {"nan", "inf", "-inf", "1e999", "-1e999"}) {
        const std::string b = bad;
        const struct {
            ModelText model;
            const char* field;
        } cases[] = {
            {[&] {
                 ModelText m;
                 m.times = b + " 10 1 0.1 1e-6";
                 return m;
             }(),
             "header times"},
            {[&] {
                 ModelText m;
                 m.times = "0 10 1 " + b + " 1e-6";
                 return m;
             }(),
             "header times"},
            {[&] {
                 ModelText m;
                 m.times = "0 10 1 0.1 " + b;
                 return m;
             }(),
             "header times"},
            {[&] {
                 ModelText m;
                 m.rowCoords = b;
                 return m;
             }(),
             "row coordinates (field 12)"},
            {[&] {
                 ModelText m;
                 m.colCoords = "0 " + b;
                 return m;
             }(),
             "column coordinates"},
            {[&] {
                 ModelText m;
                 m.transport = "1 " + b + " 0";
                 return m;
             }(),
             "transport"},
            {[&] {
                 ModelText m;
                 m.defaults = "0 0 " + b + " 1 1 0 0 0";
                 return m;
             }(),
             "default state vector (field 15)"},
            {[&] {
                 ModelText m;
                 m.overrides = "1  0 0 7 " + b;
                 return m;
             }(),
             "state override 0"},
            {[&] {
                 ModelText m;
                 m.header = "1 2 0 1 1 1";
                 m.reactions = "2  0 0 0 0 0 0 0 1  1 7 " + b;
                 return m;
             }(),
             "Bad File in reaction record 0"},
        };
        for (const auto& c : cases) {
            const std::string detail = ReadFailure<BadFileException>(c.model.Text());
            EXPECT_NE(detail.find(c.field), std::string::npos) << bad << ": " << detail << "\n"
                                                               << c.model.Text();
        }
    }
}

TEST(NonFiniteInput, CoordinateDistancesThatOverflowAreRefused) {
    ModelText m;
    m.colCoords = "-1e308 1e308";
    EXPECT_EQ(ReadFailure<InputException>(m.Text()),
              "column coordinates (field 13): the distance between index 0 (-1e+308) and index "
              "1 (1e+308) overflows");

    // Neighbours 1e308 apart, but the middle cell spans both distances.
    m.header = "3 1 0 1 0 1";
    m.rowCoords = "-1e308 0 1e308";
    m.colCoords = "0";
    EXPECT_NE(ReadFailure<InputException>(m.Text()).find(
                  "row coordinates (field 12): the distance between index 0"),
              std::string::npos);

    // Every distance a node uses is finite although the whole span is not.
    m.header = "5 1 0 1 0 1";
    m.rowCoords = "-1e308 -1e307 0 1e307 1e308";
    ExpectReads(m.Text());
}

TEST(NonFiniteInput, CellAreasThatOverflowAreRefused) {
    ModelText m;
    m.header = "2 2 0 1 0 1";
    m.rowCoords = "0 1e200";
    m.colCoords = "0 1e200";
    const std::string detail = ReadFailure<InputException>(m.Text());
    EXPECT_NE(detail.find("give an area that overflows (fields 12-13)"), std::string::npos)
        << detail;
    m.rowCoords = "0 1e150";
    m.colCoords = "0 1e150";
    ExpectReads(m.Text());
}

// A duration beyond the largest double is usable with a step of the input;
// the stable step, never larger than the duration, would be infinite.
TEST(NonFiniteInput, ADurationThatOverflowsNeedsAGlobalStepOfTheInput) {
    ModelText m;
    m.times = "-1e308 1e308 4e307 0 1e-6";
    EXPECT_NE(ReadFailure<InputException>(m.Text()).find("overflows (fields 7-8)"),
              std::string::npos);
    m.times = "-1e308 1e308 4e307 -1 1e-6";
    EXPECT_NE(ReadFailure<InputException>(m.Text()).find("overflows (fields 7-8)"),
              std::string::npos);

    m.times = "-1e308 1e308 4e307 2e307 1e-6";
    const CRunEnd end = RunText(m.Text());
    ASSERT_EQ(end.error, "") << (end.details.empty() ? "" : end.details[0]);
    ASSERT_GE(end.kvt.size(), 36u);
    const int32_t records = IntAt(end.kvt, 0);
    EXPECT_EQ(records, 6); // at -1e308, then every two steps of 2e307
    EXPECT_EQ(DoubleAt(end.kvt, 36), -1e308);
    EXPECT_GE(DoubleAt(end.kvt, 20), 1e308);
}

TEST(NonFiniteInput, AClockThatWouldPassTheLargestDoubleIsAComputationalError) {
    ModelText m;
    m.times = "1e308 1.7e308 5e307 1e308 1e-6";
    const CRunEnd end = RunText(m.Text());
    EXPECT_EQ(end.error, "Computational Error");
    ASSERT_EQ(end.details.size(), 1u);
    EXPECT_EQ(end.details[0], "the model time overflows: time 1e+308 plus the global step 1e+308");
    EXPECT_EQ(end.kvt.size(), 4u) << "the time file keeps its marker";
}

} // namespace
