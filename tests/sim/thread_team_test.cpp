#include "run/thread_team.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Every item of every job is done exactly once, by a thread of the team,
// through thousands of jobs in a row (the pace of a time loop).
TEST(ThreadTeam, EveryItemOnceInEveryJob) {
    for (int threads : {1, 2, 3, 5}) {
        CThreadTeam team(threads);
        EXPECT_EQ(team.Size(), threads);
        std::vector<std::atomic<int>> done(1000);
        for (int job = 0; job < 2000; ++job) {
            const int count = job % 7 == 0 ? 0 : 1 + job % 997;
            team.ForRanges(count, 1 + job % 13, [&](int begin, int end, int thread) {
                EXPECT_GE(thread, 0);
                EXPECT_LT(thread, threads);
                for (int item = begin; item < end; ++item)
                    done[item].fetch_add(1, std::memory_order_relaxed);
            });
            for (int item = 0; item < 1000; ++item) {
                const int expected = item < count ? 1 : 0;
                ASSERT_EQ(done[item].exchange(0), expected)
                    << threads << " threads, job " << job << ", item " << item;
            }
        }
    }
}

TEST(ThreadTeam, BlocksAndChunksCoverTheCount) {
    CThreadTeam team(3);
    std::vector<int> hits(101, 0);
    team.ForBlocks(101, [&](int begin, int end) {
        for (int item = begin; item < end; ++item)
            hits[item] += 1;
    });
    team.ForChunks(101, 4, [&](int item, int) { hits[item] += 10; });
    for (int item = 0; item < 101; ++item)
        EXPECT_EQ(hits[item], 11) << "item " << item;
    EXPECT_EQ(team.BlockSize(101), 5); // 24 ranges
    EXPECT_EQ(team.BlockSize(0), 0);
}

// A failure leaves its job and comes out of the call; the team goes on.
TEST(ThreadTeam, AFailureIsRethrownAfterTheJob) {
    CThreadTeam team(2);
    try {
        team.ForChunks(50, 1, [&](int item, int) {
            if (item == 17)
                throw std::runtime_error("item 17");
        });
        FAIL() << "no failure";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "item 17");
    }
    std::atomic<int> sum{0};
    team.ForChunks(50, 3, [&](int item, int) { sum += item; });
    EXPECT_EQ(sum.load(), 49 * 50 / 2);
}

} // namespace
