// The post-processing tools' reading of a run's result files (and refusing
// those that do not fit, naming the file), the record times of an unfinished
// run, and record selections. Their runs are tested end to end.
#include "post/record_selection.h"
#include "post/result_exception.h"
#include "post/run_results.h"
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

using namespace kova_test;

namespace {

// The failure of opening the run at base: "" when it opens.
std::string OpenFailure(const std::string& base) {
    try {
        CRunResults run(base);
    } catch (const ResultException& e) {
        return e.Detail();
    }
    return "";
}

TEST(ResultFiles, AFinishedRunGivesItsTimesAndEveryValueInPlace) {
    TempDir dir;
    const std::string base = dir.File("run");
    CResultFixture fx;
    fx.Write(base);
    CRunResults run(base);
    EXPECT_TRUE(run.m_files.IsFinished());
    EXPECT_EQ(run.UnfinishedNotice(), "");
    EXPECT_EQ(run.m_files.RecordTimes(), fx.times);
    EXPECT_EQ(run.m_grid.m_colCoord, fx.colCoord);
    std::vector<double> values;
    for (const int r : {4, 1, 0}) { // out of order: each read seeks afresh
        run.m_files.ReadRecord(r, values);
        ASSERT_EQ(values.size(), 120u);
        for (int n = 0; n < fx.Nodes(); ++n)
            for (int k = 0; k < fx.Comp(); ++k)
                ASSERT_EQ(Bits(values[n * 10 + k]), Bits(fx.Value(r, n, k))) << r << " " << n;
    }
    EXPECT_THROW(run.m_files.ReadRecord(5, values), ResultException);
    EXPECT_THROW(run.m_files.ReadRecord(-1, values), ResultException);
}

// A run that failed after its third record: the count comes from the data
// file, the times from a replay of the loop's cadence (or, with a computed
// step, the nominal output times).
TEST(ResultFiles, AnUnfinishedRunTakesItsCountFromTheDataFile) {
    for (const double step : {1.0, 0.0}) {
        TempDir dir;
        const std::string base = dir.File("run");
        CResultFixture fx;
        fx.globalStep = step;
        fx.times = step > 0 ? std::vector<double>{0, 3, 5} : std::vector<double>{0, 2.5, 5};
        fx.Write(base, false);
        CRunResults run(base);
        EXPECT_FALSE(run.m_files.IsFinished());
        EXPECT_EQ(run.m_files.TimesReplayed(), step > 0);
        EXPECT_EQ(run.m_files.RecordTimes(), fx.times);
        const std::string notice = run.UnfinishedNotice();
        EXPECT_NE(notice.find("run.kvt holds only the marker of an unfinished run"),
                  std::string::npos);
        EXPECT_NE(notice.find(step > 0 ? "3 records taken from the length of" : "estimated"),
                  std::string::npos)
            << notice;
    }
}

TEST(ResultFiles, FilesThatDoNotFitAreRefusedNamingTheFile) {
    TempDir dir;
    const std::string base = dir.File("run");
    const std::string kvt = base + ".kvt", kvo = base + ".kvo", kvi = base + ".kvi";
    const CResultFixture fx;
    const std::vector<unsigned char> times = fx.TimeBytes(), data = fx.DataBytes();
    auto bytes = [](std::vector<unsigned char> v, size_t at, unsigned char b) {
        v[at] = b;
        return v;
    };
    CResultFixture moreEntries = fx;
    moreEntries.immobile = 2;
    const struct {
        std::string file;
        std::function<void()> spoil;
        std::string part;
    } rows[] = {
        {kvt,
         [&] {
             WriteBinaryFile(kvt, {times.begin(), times.begin() + 2});
         },
         "2 bytes, too short"},
        {kvt,
         [&] {
             WriteBinaryFile(kvt, {times.begin(), times.begin() + 20});
         },
         "20 bytes, too short"},
        {kvt,
         [&] {
             WriteBinaryFile(kvt, {times.begin(), times.end() - 8});
         },
         "68 bytes, but its record count 5 needs 36 + 8 x 5 = 76"},
        {kvt,
         [&] {
             WriteBinaryFile(kvt, {1, 0, 0, 0});
         },
         "not the unfinished-run marker 0"},
        {kvt, [&] { WriteBinaryFile(kvt, bytes(times, 3, 0xFF)); }, "is negative"},
        {kvt, [&] { WriteBinaryFile(kvt, bytes(times, 8, 5)); },
         "grid 3 x 5 does not match the 3 x 4 grid"},
        {kvt, [&] { std::remove(kvt.c_str()); }, "cannot open the time file"},
        {kvt, [&] { std::remove(kvt.c_str()), std::filesystem::create_directory(kvt); },
         "not a regular file"},
        {kvo,
         [&] {
             WriteBinaryFile(kvo, {data.begin(), data.end() - 960});
         },
         "3840 bytes, but " + kvt + " lists 5 records of 960 bytes"},
        {kvo,
         [&] {
             WriteBinaryFile(kvo, {data.begin(), data.end() - 1});
         },
         "4799 bytes"},
        {kvo,
         [&] {
             auto longer = data;
             longer.push_back(0);
             WriteBinaryFile(kvo, longer);
         },
         "4801 bytes"},
        {kvo, [&] { WriteTextFile(kvi, moreEntries.ModelText()); }, "(12 nodes x 11 entries x 8)"},
        {kvo,
         [&] {
             WriteBinaryFile(kvt, {0, 0, 0, 0}),
                 WriteBinaryFile(kvo, {data.begin(), data.end() - 100});
         },
         "not a whole number of records of 960 bytes"},
        {kvo, [&] { std::remove(kvo.c_str()); }, "cannot open the data file"},
        {kvi, [&] { WriteTextFile(kvi, "3 4 1 2 0 1\n0 10 x"); }, "does not read: Bad File"},
        {kvi, [&] { std::remove(kvi.c_str()); }, "cannot open the model file"},
    };
    for (const auto& row : rows) {
        std::filesystem::remove_all(dir.File("run.kvt"));
        fx.Write(base);
        row.spoil();
        const std::string detail = OpenFailure(base);
        EXPECT_EQ(detail.rfind(row.file, 0), 0u) << detail;
        EXPECT_NE(detail.find(row.part), std::string::npos) << detail;
    }
}

TEST(RecordSelection, ListsRangesAndLastOrTheProblem) {
    EXPECT_EQ(ParseRecordSelection("all", 3), std::vector<int>({0, 1, 2}));
    EXPECT_EQ(ParseRecordSelection("all", 0), std::vector<int>());
    EXPECT_EQ(ParseRecordSelection("4,0,2-3", 5), std::vector<int>({4, 0, 2, 3}));
    EXPECT_EQ(ParseRecordSelection("3-last", 5), std::vector<int>({3, 4}));
    EXPECT_EQ(ParseRecordSelection("1,1,0-2", 5), std::vector<int>({1, 0, 2})); // each once
    const std::pair<const char*, const char*> bad[] = {
        {"5", "record 5 outside 0..4"},          {"x", "\"x\" is not a record index"},
        {"1,", "\"\" is not a record index"},    {"-1", "\"\" is not a record"},
        {"3-1", "range \"3-1\" runs backwards"}, {"1-9", "record 9 outside 0..4"},
        {"99999999999", "is not a record index"}};
    for (const auto& [text, part] : bad) {
        try {
            ParseRecordSelection(text, 5, "--record");
            ADD_FAILURE() << "accepted \"" << text << "\"";
        } catch (const ResultException& e) {
            EXPECT_EQ(e.Detail().rfind("--record: ", 0), 0u) << e.Detail();
            EXPECT_NE(e.Detail().find(part), std::string::npos) << e.Detail();
        }
    }
    EXPECT_THROW(ParseRecordSelection("last", 0), ResultException);
}

} // namespace
