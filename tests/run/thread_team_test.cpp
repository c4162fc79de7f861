#include "run/thread_team.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Holds each thread in its first range until all have one, so that the
// jobs below are shared whatever the machine's load (at most 10 s).
class CGate {
public:
    explicit CGate(int threads) : m_threads(threads) {}
    void Enter() {
        m_in.fetch_add(1);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_in.load() < m_threads && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
    }

private:
    int m_threads;
    std::atomic<int> m_in{0};
};

struct CRangesCase {
    int threads;
    int count;
    int chunk;
};

class ThreadTeamRanges : public ::testing::TestWithParam<CRangesCase> {};

// Every item is taken exactly once, in ranges of the chunk (the last one
// shorter), however the threads' shares split them.
TEST_P(ThreadTeamRanges, TakeEveryItemOnce) {
    const CRangesCase c = GetParam();
    CThreadTeam team(c.threads);
    for (int job = 0; job < 50; ++job) {
        std::vector<std::atomic<int>> taken(static_cast<size_t>(c.count));
        std::atomic<int> badRanges{0};
        team.ForRanges(c.count, c.chunk, [&](int begin, int end, int thread) {
            const int chunk = c.chunk < 1 ? 1 : c.chunk;
            if (begin % chunk != 0 || end - begin > chunk || end <= begin ||
                (end - begin < chunk && end != c.count) || thread < 0 || thread >= c.threads)
                badRanges.fetch_add(1);
            for (int item = begin; item < end; ++item)
                taken[static_cast<size_t>(item)].fetch_add(1);
        });
        ASSERT_EQ(badRanges.load(), 0);
        for (int item = 0; item < c.count; ++item)
            ASSERT_EQ(taken[static_cast<size_t>(item)].load(), 1) << "item " << item;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ThreadTeamRanges,
                         ::testing::Values(CRangesCase{1, 10, 3}, CRangesCase{2, 1, 4},
                                           CRangesCase{2, 7, 1}, CRangesCase{2, 1000, 256},
                                           CRangesCase{3, 5, 2}, CRangesCase{3, 100, 1},
                                           CRangesCase{4, 3, 1}, CRangesCase{5, 97, 0},
                                           CRangesCase{8, 4096, 16}));

// One thread takes the ranges in ascending order, as the serial loops do.
TEST(ThreadTeam, OneThreadTakesTheRangesInOrder) {
    CThreadTeam team(1);
    std::vector<int> begins;
    team.ForRanges(10, 3, [&](int begin, int, int) { begins.push_back(begin); });
    EXPECT_EQ(begins, (std::vector<int>{0, 3, 6, 9}));
}

// A thread held up in its first range has the rest of its share taken by
// the other, from the back; the other's own share it never touches.
TEST(ThreadTeam, AHeldUpThreadHasItsShareTaken) {
    CThreadTeam team(2);
    for (int job = 0; job < 3; ++job) {
        std::vector<int> byThread(20, -1);
        CGate gate(2);
        std::vector<bool> first(2, true);
        team.ForRanges(20, 1, [&](int begin, int, int thread) {
            if (first[static_cast<size_t>(thread)]) {
                first[static_cast<size_t>(thread)] = false;
                gate.Enter();
                if (thread == 1)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            byThread[static_cast<size_t>(begin)] = thread;
        });
        std::vector<int> expected(20, 0);
        expected[10] = 1;
        EXPECT_EQ(byThread, expected);
    }
}

// Share t of a job over 3 threads: ranges [ranges t / 3, ranges (t + 1) / 3).
int ShareOf(int range, int ranges) {
    int t = 0;
    while (range >= ranges * (t + 1) / 3)
        ++t;
    return t;
}

// Whatever the timing: a thread takes its own share from the front in
// ascending order, the others' from the back in descending order, so the
// owner's ranges of a share are a head of it and the others' its tail.
TEST(ThreadTeam, OwnSharesFromTheFrontOthersFromTheBack) {
    constexpr int threads = 3;
    constexpr int ranges = 40;
    CThreadTeam team(threads);
    for (int job = 0; job < 50; ++job) {
        std::vector<std::vector<int>> taken(threads);
        CGate gate(threads);
        team.ForRanges(ranges, 1, [&](int begin, int, int thread) {
            std::vector<int>& mine = taken[static_cast<size_t>(thread)];
            if (mine.empty())
                gate.Enter();
            mine.push_back(begin);
            for (volatile int spin = 0; spin < (begin * 7919 + job) % 3000; ++spin) {
            }
        });
        std::vector<int> owner(ranges, -1);
        for (int t = 0; t < threads; ++t) {
            int lastOwn = -1;
            std::vector<int> lastOther(threads, ranges);
            for (const int range : taken[static_cast<size_t>(t)]) {
                owner[static_cast<size_t>(range)] = t;
                const int share = ShareOf(range, ranges);
                if (share == t) {
                    EXPECT_EQ(range, lastOwn < 0 ? ranges * t / threads : lastOwn + 1);
                    lastOwn = range;
                } else {
                    EXPECT_LT(range, lastOther[static_cast<size_t>(share)]);
                    lastOther[static_cast<size_t>(share)] = range;
                }
            }
        }
        for (int range = 1; range < ranges; ++range) {
            const int a = owner[static_cast<size_t>(range - 1)];
            const int b = owner[static_cast<size_t>(range)];
            const int share = ShareOf(range, ranges);
            ASSERT_NE(b, -1);
            // Within a share, no range of the owner follows one of another.
            if (ShareOf(range - 1, ranges) == share) {
                EXPECT_FALSE(a != share && b == share) << "range " << range << ", job " << job;
            }
        }
    }
}

struct CSharesCase {
    const char* name;
    int count;
    int chunk;
    std::vector<int> firsts; // first(1), first(2)
    std::vector<std::pair<int, int>> ranges;
};

class ThreadTeamShares : public ::testing::TestWithParam<CSharesCase> {};

// Ranges start at each share's first item, the last of a share ends at the
// next share's; starts out of order or past the end are clamped.
TEST_P(ThreadTeamShares, CutRangesFromEachShareStart) {
    const CSharesCase c = GetParam();
    CThreadTeam team(3);
    std::vector<std::pair<int, int>> taken;
    std::mutex taking;
    team.ForShares(
        c.count, c.chunk, [&](int t) { return c.firsts[static_cast<size_t>(t - 1)]; },
        [&](int begin, int end, int) {
            const std::lock_guard<std::mutex> lock(taking);
            taken.emplace_back(begin, end);
        });
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(taken, c.ranges);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, ThreadTeamShares,
    ::testing::Values(
        CSharesCase{
            "uneven", 30, 7, {11, 20}, {{0, 7}, {7, 11}, {11, 18}, {18, 20}, {20, 27}, {27, 30}}},
        CSharesCase{"empty_middle", 10, 4, {5, 5}, {{0, 4}, {4, 5}, {5, 9}, {9, 10}}},
        CSharesCase{"clamped", 10, 6, {12, 3}, {{0, 6}, {6, 10}}},
        CSharesCase{"one_range_each", 9, 9, {2, 4}, {{0, 2}, {2, 4}, {4, 9}}}),
    [](const ::testing::TestParamInfo<CSharesCase>& param) {
        return std::string(param.param.name);
    });

} // namespace
