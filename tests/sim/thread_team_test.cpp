// The thread team of a global step's loops.
#include "sim/thread_team.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

// Every item of every job is done exactly once, by a thread of the team,
// through thousands of jobs in a row (the pace of a time loop); blocks and
// chunks cover the count as well.
TEST(ThreadTeam, EveryItemOnceInEveryJob) {
    for (int threads : {1, 2, 3, 5}) {
        CThreadTeam team(threads);
        std::vector<std::atomic<int>> done(1000);
        for (int job = 0; job < 2000; ++job) {
            const int count = job % 7 == 0 ? 0 : 1 + job % 997;
            team.ForRanges(count, 1 + job % 13, [&](int begin, int end, int thread) {
                EXPECT_TRUE(thread >= 0 && thread < threads) << thread;
                for (int item = begin; item < end; ++item)
                    done[item].fetch_add(1, std::memory_order_relaxed);
            });
            if (job % 2)
                team.ForBlocks(count, [&](int begin, int end) {
                    for (int item = begin; item < end; ++item)
                        done[item].fetch_add(1, std::memory_order_relaxed);
                });
            for (int item = 0; item < 1000; ++item)
                ASSERT_EQ(done[item].exchange(0), item < count ? 1 + job % 2 : 0)
                    << threads << " threads, job " << job << ", item " << item;
        }
    }
}

// A failure leaves its job and comes out of the call; the team goes on.
TEST(ThreadTeam, AFailureIsRethrownAfterTheJob) {
    CThreadTeam team(2);
    EXPECT_THROW(team.ForChunks(50, 1,
                                [&](int item, int) {
                                    if (item == 17)
                                        throw std::runtime_error("item 17");
                                }),
                 std::runtime_error);
    std::atomic<int> sum{0};
    team.ForChunks(50, 3, [&](int item, int) { sum += item; });
    EXPECT_EQ(sum.load(), 49 * 50 / 2);
}

} // namespace
