#include "post/model_grid.h"
#include "post/result_exception.h"
#include "post/result_files.h"
#include "post/run_results.h"
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace kova_test;

namespace {

// Opens the run at base and expects a ResultException whose detail names
// `file` and contains `part`.
void ExpectRefused(const std::string& base, const std::string& file, const std::string& part) {
    try {
        CRunResults run(base);
        ADD_FAILURE() << "no failure; expected one naming " << file << " with \"" << part << "\"";
    } catch (const ResultException& e) {
        EXPECT_EQ(e.Detail().rfind(file, 0), 0u) << e.Detail();
        EXPECT_NE(e.Detail().find(part), std::string::npos) << e.Detail();
    }
}

void ExpectModelRefused(const std::string& base, const std::string& start) {
    try {
        CRunResults run(base);
        ADD_FAILURE() << "no failure; expected \"" << start << "\"";
    } catch (const ResultException& e) {
        EXPECT_EQ(e.Detail().rfind(start, 0), 0u) << e.Detail();
        EXPECT_NE(e.Detail().find("(file " + base + ".kvi)"), std::string::npos) << e.Detail();
    }
}

TEST(ResultFiles, FinishedRunGivesTimesAndEveryValueInPlace) {
    TempDir dir;
    const std::string base = dir.File("run");
    CResultFixture fx;
    fx.Write(base);

    CRunResults run(base);
    EXPECT_TRUE(run.m_files.IsFinished());
    EXPECT_EQ(run.UnfinishedNotice(), "");
    ASSERT_EQ(run.m_files.RecordCount(), 5);
    EXPECT_EQ(run.m_files.RecordTimes(), fx.times);
    EXPECT_EQ(run.m_grid.m_nComp, 10);
    EXPECT_EQ(run.m_grid.m_colCoord, fx.colCoord);

    std::vector<double> values;
    for (const int r : {4, 1, 0}) { // out of order: each read seeks afresh
        run.m_files.ReadRecord(r, values);
        ASSERT_EQ(values.size(), 120u);
        for (int n = 0; n < fx.Nodes(); ++n)
            for (int k = 0; k < fx.Comp(); ++k)
                ASSERT_EQ(Bits(values[static_cast<size_t>(n * 10 + k)]), Bits(fx.Value(r, n, k)))
                    << "record " << r << " node " << n << " entry " << k;
    }
    EXPECT_THROW(run.m_files.ReadRecord(5, values), ResultException);
    EXPECT_THROW(run.m_files.ReadRecord(-1, values), ResultException);
}

TEST(ResultFiles, UnfinishedRunTakesItsCountFromTheDataFileAndReplaysTheTimes) {
    TempDir dir;
    const std::string base = dir.File("run");
    CResultFixture fx;
    fx.times = {0.0, 3.0, 5.0}; // a run that failed after its third record
    fx.Write(base, false);

    CRunResults run(base);
    EXPECT_FALSE(run.m_files.IsFinished());
    ASSERT_EQ(run.m_files.RecordCount(), 3);
    EXPECT_TRUE(run.m_files.TimesReplayed());
    EXPECT_EQ(run.m_files.RecordTimes(), fx.times);
    const std::string notice = run.UnfinishedNotice();
    EXPECT_NE(notice.find("run.kvt holds only the marker of an unfinished run"), std::string::npos)
        << notice;
    EXPECT_NE(notice.find("3 records taken from the length of"), std::string::npos) << notice;
}

TEST(ResultFiles, UnfinishedRunWithComputedStepGetsNominalTimes) {
    TempDir dir;
    const std::string base = dir.File("run");
    CResultFixture fx;
    fx.globalStep = 0.0;
    fx.times = {0.0, 2.5};
    fx.Write(base, false);

    CRunResults run(base);
    EXPECT_FALSE(run.m_files.TimesReplayed());
    EXPECT_EQ(run.m_files.RecordTimes(), std::vector<double>({0.0, 2.5}));
    EXPECT_NE(run.UnfinishedNotice().find("estimated"), std::string::npos);
}

TEST(ResultFiles, BadTimeFilesAreRefusedNamingTheTimeFile) {
    TempDir dir;
    const std::string base = dir.File("run");
    CResultFixture fx;
    fx.Write(base);
    const std::string kvt = base + ".kvt";
    std::vector<unsigned char> good = fx.TimeBytes();

    WriteBinaryFile(kvt, std::vector<unsigned char>(good.begin(), good.begin() + 2));
    ExpectRefused(base, kvt, "2 bytes, too short");
    WriteBinaryFile(kvt, std::vector<unsigned char>(good.begin(), good.begin() + 20));
    ExpectRefused(base, kvt, "20 bytes, too short");
    WriteBinaryFile(kvt, std::vector<unsigned char>(good.begin(), good.end() - 8));
    ExpectRefused(base, kvt, "68 bytes, but its record count 5 needs 36 + 8 x 5 = 76");
    WriteBinaryFile(kvt, {1, 0, 0, 0});
    ExpectRefused(base, kvt, "not the unfinished-run marker 0");

    std::vector<unsigned char> negative = good;
    negative[3] = 0xFF; // count -16777211
    WriteBinaryFile(kvt, negative);
    ExpectRefused(base, kvt, "is negative");

    std::vector<unsigned char> otherGrid = good;
    otherGrid[8] = 5; // 3 x 5 columns
    WriteBinaryFile(kvt, otherGrid);
    ExpectRefused(base, kvt, "grid 3 x 5 does not match the 3 x 4 grid");

    std::remove(kvt.c_str());
    ExpectRefused(base, kvt, "cannot open the time file");
    std::filesystem::create_directory(kvt);
    ExpectRefused(base, kvt, "not a regular file");
}

TEST(ResultFiles, DataFilesThatDoNotFitAreRefusedNamingTheDataFile) {
    TempDir dir;
    const std::string base = dir.File("run");
    CResultFixture fx;
    fx.Write(base);
    const std::string kvo = base + ".kvo";
    const std::vector<unsigned char> data = fx.DataBytes();

    // One record short, one byte short, one byte over.
    WriteBinaryFile(kvo, std::vector<unsigned char>(data.begin(), data.end() - 960));
    ExpectRefused(base, kvo, "3840 bytes, but " + base + ".kvt lists 5 records of 960 bytes");
    WriteBinaryFile(kvo, std::vector<unsigned char>(data.begin(), data.end() - 1));
    ExpectRefused(base, kvo, "4799 bytes");
    std::vector<unsigned char> longer = data;
    longer.push_back(0);
    WriteBinaryFile(kvo, longer);
    ExpectRefused(base, kvo, "4801 bytes");

    // A model with another number of entries than the run had.
    CResultFixture moreEntries = fx;
    moreEntries.immobile = 2;
    WriteTextFile(base + ".kvi", moreEntries.ModelText());
    WriteBinaryFile(kvo, data);
    ExpectRefused(base, kvo, "(12 nodes x 11 entries x 8)");
    WriteTextFile(base + ".kvi", fx.ModelText());

    // Unfinished: the last record cut short.
    WriteBinaryFile(base + ".kvt", {0, 0, 0, 0});
    WriteBinaryFile(kvo, std::vector<unsigned char>(data.begin(), data.end() - 100));
    EXPECT_EQ(CRunResults(base).m_files.SkippedBytes(), 860); // read up to the cut, not refused

    std::remove(kvo.c_str());
    ExpectRefused(base, kvo, "cannot open the data file");
}

TEST(ResultFiles, ModelFileProblemsNameTheModelFile) {
    TempDir dir;
    const std::string base = dir.File("run");
    CResultFixture fx;
    fx.Write(base);
    WriteTextFile(base + ".kvi", "3 4 1 2 0 1\n0 10 x");
    // The model file's failures read as a run's: the detail, then the file.
    const std::string file = " (file " + base + ".kvi)";
    ExpectModelRefused(base, "Bad File: missing or malformed number in the header times");
    std::remove((base + ".kvi").c_str());
    ExpectModelRefused(base,
                       "Bad File: the model file cannot be read: No such file or directory" + file);
}

TEST(ModelGrid, ReadsTheGridQuietly) {
    TempDir dir;
    const std::string base = dir.File("two");
    WriteTextFile(base + ".kvi", TWO_NODE_MODEL);
    testing::internal::CaptureStdout();
    const CModelGrid grid = LoadModelGrid(base);
    // The reader's allocation line must not mix into a tool's own output.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(grid.m_nRows, 1);
    EXPECT_EQ(grid.m_nCols, 2);
    EXPECT_EQ(grid.m_nComp, 8);
    EXPECT_EQ(grid.m_nMobile, 1);
    EXPECT_EQ(grid.m_colCoord, std::vector<double>({0.0, 10.0}));
    EXPECT_EQ(grid.m_globalStep, 0.1);
}

} // namespace
