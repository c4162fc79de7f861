#include "post/record_selection.h"
#include "post/record_times.h"
#include "post/result_exception.h"

#include <gtest/gtest.h>

namespace {

CModelGrid Cadence(double start, double end, double interval, double step) {
    CModelGrid grid;
    grid.m_startTime = start;
    grid.m_endTime = end;
    grid.m_outputInterval = interval;
    grid.m_globalStep = step;
    return grid;
}

TEST(RecordTimes, ReplayFollowsTheFirstStepThatReachesEachOutputTime) {
    const CRecordTimes t = ReconstructRecordTimes(Cadence(0, 10, 2.5, 1), 5);
    EXPECT_TRUE(t.m_replayed);
    EXPECT_EQ(t.m_times, std::vector<double>({0, 3, 5, 8, 10}));
}

TEST(RecordTimes, AnOutputTimeAlreadyPassedMovesToTheTimeReachedPlusTheInterval) {
    // After the step to 4 the next output time 2 lies behind; it becomes 5.
    const CRecordTimes t = ReconstructRecordTimes(Cadence(0, 8, 1, 4), 3);
    EXPECT_EQ(t.m_times, std::vector<double>({0, 4, 8}));
}

TEST(RecordTimes, ReplayAddsTheStepAsTheLoopDoes) {
    // 0.1 added thirty times is not 3.0; the record carries the sum.
    const CRecordTimes t = ReconstructRecordTimes(Cadence(0, 3, 3, 0.1), 2);
    double sum = 0.0;
    while (sum < 3.0)
        sum += 0.1;
    EXPECT_EQ(t.m_times, std::vector<double>({0.0, sum}));
}

TEST(RecordTimes, WithoutAUsableStepTheNominalTimesAreUsed) {
    for (const double step : {0.0, -1.0, 1e-12}) { // computed step; far too many steps
        const CRecordTimes t = ReconstructRecordTimes(Cadence(1, 100, 10, step), 3);
        EXPECT_FALSE(t.m_replayed) << step;
        EXPECT_EQ(t.m_times, std::vector<double>({1, 11, 21})) << step;
    }
    EXPECT_TRUE(ReconstructRecordTimes(Cadence(0, 1, 1, 1), 0).m_times.empty());
}

TEST(RecordSelection, AllListsRangesAndLast) {
    EXPECT_EQ(ParseRecordSelection("all", 3), std::vector<int>({0, 1, 2}));
    EXPECT_EQ(ParseRecordSelection("all", 0), std::vector<int>());
    EXPECT_EQ(ParseRecordSelection("4,0,2-3", 5), std::vector<int>({4, 0, 2, 3}));
    EXPECT_EQ(ParseRecordSelection("last", 5), std::vector<int>({4}));
    EXPECT_EQ(ParseRecordSelection("3-last", 5), std::vector<int>({3, 4}));
    EXPECT_EQ(ParseRecordSelection("1,1,0-2", 5), std::vector<int>({1, 0, 2})); // each once
}

TEST(RecordSelection, BadListsNameTheOptionAndTheProblem) {
    const struct {
        const char* text;
        const char* part;
    } cases[] = {{"5", "record 5 outside 0..4"},     {"x", "\"x\" is not a record index"},
                 {"", "\"\" is not a record index"}, {"1,", "\"\" is not a record index"},
                 {"-1", "\"\" is not a record"},     {"3-1", "range \"3-1\" runs backwards"},
                 {"1-9", "record 9 outside 0..4"},   {"99999999999", "is not a record index"}};
    for (const auto& c : cases) {
        try {
            ParseRecordSelection(c.text, 5, "--record");
            ADD_FAILURE() << "accepted \"" << c.text << "\"";
        } catch (const ResultException& e) {
            EXPECT_EQ(e.Detail().rfind("--record: ", 0), 0u) << e.Detail();
            EXPECT_NE(e.Detail().find(c.part), std::string::npos)
                << "\"" << c.text << "\": " << e.Detail();
        }
    }
    EXPECT_THROW(ParseRecordSelection("last", 0), ResultException);
}

} // namespace
