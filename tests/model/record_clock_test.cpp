// The record clock: the output times of a run that lands on them, and the
// cadence of one that does not.
#include "model/record_clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The output times from k on, until the clock stops moving (the end).
std::vector<double> TimesOf(CRecordClock clock) {
    std::vector<double> times = {clock.Next()};
    while (clock.Advance(clock.Next()))
        times.push_back(clock.Next());
    return times;
}

struct CExactCase {
    const char* name;
    double start, interval, end;
    std::vector<double> given; // empty: every interval
    int k;                     // the first output time
    std::vector<double> expected;
};

class ExactClock : public ::testing::TestWithParam<CExactCase> {};

TEST_P(ExactClock, LandsOnEachOutputTimeThenTheEnd) {
    const CExactCase& c = GetParam();
    const CRecordClock clock =
        CRecordClock::Exact(c.start, c.interval, c.end, c.given.empty() ? nullptr : &c.given, c.k);
    EXPECT_TRUE(clock.Lands());
    EXPECT_EQ(TimesOf(clock), c.expected);
}

const CExactCase EXACT_CASES[] = {
    {"end_on_the_grid", 0.0, 10.0, 30.0, {}, 0, {0.0, 10.0, 20.0, 30.0}},
    {"end_off_the_grid", 0.0, 10.0, 25.0, {}, 0, {0.0, 10.0, 20.0, 25.0}},
    // start + k x interval, not sums of intervals: 0.1 x 3 is 0.30000000000000004
    // either way, but 10 additions of 0.1 are not 1.
    {"multiples_not_sums", 0.0, 0.1, 1.0, {}, 9, {0.9, 1.0}},
    {"from_a_later_time", 5.0, 2.0, 11.0, {}, 2, {9.0, 11.0}},
    {"interval_past_the_end", 0.0, 50.0, 30.0, {}, 0, {0.0, 30.0}},
    {"given_times_then_the_end",
     0.0,
     10.0,
     250.0,
     {1.5, 60.0, 100.0},
     0,
     {0.0, 1.5, 60.0, 100.0, 250.0}},
    {"given_times_ending_at_the_end", 0.0, 10.0, 100.0, {1.5, 100.0}, 0, {0.0, 1.5, 100.0}},
    {"given_times_from_k", 0.0, 10.0, 250.0, {1.5, 60.0}, 2, {60.0, 250.0}},
};

INSTANTIATE_TEST_SUITE_P(RecordClock, ExactClock, ::testing::ValuesIn(EXACT_CASES),
                         [](const ::testing::TestParamInfo<CExactCase>& p) {
                             return std::string(p.param.name);
                         });

// Without exact times, a step that passes an output time records where it
// ends, and the next output time is an interval after the one passed (or
// after the time reached, when that is further).
TEST(RecordClock, TheRunsOwnCadenceDoesNotLand) {
    CRecordClock clock(0.0, 10.0);
    EXPECT_FALSE(clock.Lands());
    EXPECT_TRUE(clock.Advance(0.0));
    EXPECT_TRUE(clock.Pending(9.9));
    EXPECT_FALSE(clock.Pending(10.3));
    clock.Advance(10.3);
    EXPECT_EQ(clock.Next(), 20.0);
    clock.Advance(35.0);
    EXPECT_EQ(clock.Next(), 45.0);
}

} // namespace
