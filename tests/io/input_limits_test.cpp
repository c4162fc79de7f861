// Counts in a model file that ask for more than the machine or the format
// can give: refused at the header, naming the limit, before anything is
// allocated; record counts that the file does not back stop at the first
// missing record.
#include "io/reader.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "support/in_process.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace kova_test;

namespace {

// The rest of a one-node model without mobile components, for headers that
// name one row, one column, no reactions and one set.
const char* const ONE_NODE_BODY = "0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n0\n0\n0\n0\n0 0\n";

TEST(InputLimits, GridsBeyondThirtyTwoBitsFailAtTheHeader) {
    const struct {
        const char* header;
        const char* detail;
    } cases[] = {
        {"1000000000 1 0 1 0 1",
         "number of state values 8000000000 exceeds the limit of 2147483647"},
        {"31623 31623 0 0 0 1", "number of state values 7000098903 exceeds the limit"},
        {"2147483647 2 0 0 0 1", "number of nodes 4294967294 exceeds the limit of 2147483647"},
        {"1 1 2147483647 2147483647 0 1", "state entries per node 4294967301 exceeds"},
        // The band would not fit either, so the step arrays alone size the buffer.
        {"1 150000000 3 0 0 1", "work buffer size 3000000000 exceeds"},
    };
    for (const auto& c : cases) {
        CModelReader r;
        const std::string detail =
            r.Failure<InputException>(std::string(c.header) + "\n" + ONE_NODE_BODY);
        EXPECT_NE(detail.find(c.detail), std::string::npos) << c.header << ": " << detail;
        EXPECT_EQ(r.sim.m_work, nullptr) << c.header;
        EXPECT_EQ(r.sim.m_stateNew, nullptr) << c.header;
    }
}

TEST(InputLimits, ArraysBeyondTheMemoryBudgetFailAtTheHeader) {
    CModelReader r;
    r.sim.m_memoryLimit = 1 << 20;
    // 10000 nodes: the band matrix alone is 201 x 10000 doubles, 16 MB.
    const std::string detail = r.Failure<InputException>("100 100 0 1 0 1\n0 10 1 0.1 1e-6\n");
    EXPECT_NE(detail.find("MiB, more than the 1 MiB of memory available"), std::string::npos)
        << detail;
    EXPECT_EQ(r.sim.m_work, nullptr);
    EXPECT_TRUE(r.sim.m_rxnSets.empty());

    CModelReader fits;
    fits.sim.m_memoryLimit = 1 << 20;
    EXPECT_NO_THROW(
        ReadInput(fits.sim, *ModelStream(std::string("1 1 0 0 0 1\n") + ONE_NODE_BODY)));
}

TEST(InputLimits, ReactionAndSetCountsHaveANamedLimit) {
    CModelReader rxns;
    EXPECT_EQ(rxns.Failure<InputException>("1 1 0 0 1000000 1\n0 10 1 0.1 1e-6\n"),
              "reactions 1000000 above the limit of 65536 (field 5)");
    EXPECT_TRUE(rxns.sim.m_rxns.empty());
    EXPECT_EQ(rxns.sim.m_work, nullptr);

    CModelReader sets;
    EXPECT_EQ(sets.Failure<InputException>("1 1 0 0 0 1000000\n0 10 1 0.1 1e-6\n"),
              "reaction sets 1000000 above the limit of 65536 (field 6)");
    EXPECT_TRUE(sets.sim.m_rxnSets.empty());

    // At the limit the header passes; the file then lacks the first record.
    CModelReader atLimit;
    const std::string detail = atLimit.Failure<BadFileException>(
        "1 1 0 0 65536 1\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n0\n0\n");
    EXPECT_NE(detail.find("type code in reaction record 0"), std::string::npos) << detail;
    EXPECT_EQ(atLimit.sim.m_rxns.size(), static_cast<size_t>(RXN_MAX_REACTIONS));
}

// Every set sizes five work arrays of one state vector each when its record
// is read; the header's count of sets is charged for them up front.
TEST(InputLimits, TheSetsWorkArraysCountAgainstTheMemory) {
    CModelReader many;
    many.sim.m_memoryLimit = 64 << 20;
    // 1000 sets x 5 x 100007 doubles: 4 GB.
    const std::string detail =
        many.Failure<InputException>("1 1 100000 0 0 1000\n0 10 1 0.1 1e-6\n");
    EXPECT_NE(detail.find("MiB of memory available"), std::string::npos) << detail;
    EXPECT_EQ(many.sim.m_work, nullptr);

    CModelReader one;
    one.sim.m_memoryLimit = 64 << 20;
    const std::string next =
        one.Failure<BadFileException>("1 1 100000 0 0 1\n0 10 1 0.1 1e-6\n0\n0\n");
    EXPECT_NE(next.find("default state vector"), std::string::npos) << next;
}

// Counts that promise more records than the file holds cost one failed read.
TEST(InputLimits, RecordCountsStopAtTheFirstMissingRecord) {
    const std::string front = "1 1 0 0 1 1\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n";
    const struct {
        std::string text;
        const char* detail;
    } cases[] = {
        {"1 1 0 0 0 1\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n2147483647\n0 0 0 1\n",
         "state override 1 (field 16)"},
        {"1 1 0 0 0 1\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n0\n2147483647\n",
         "fixed-head node 0 (field 17)"},
        {"1 1 0 0 0 1\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n0\n0\n0\n2147483647\n",
         "reaction-set override 0 (field 20)"},
        {front + "0\n0\n14  0 0 0 0 0 0 0  1 -1 -1 2147483647  0 1  1 1\n",
         "missing rule curve point 2 in reaction record 0"},
        {front + "0\n0\n2  0 0 0 0 0 0 0  1 0 1\n0\n0\n2147483647 0 0\n",
         "missing equilibrium reaction index 2 in reaction set record 0"},
    };
    for (const auto& c : cases) {
        CModelReader r;
        const std::string detail = r.Failure<BadFileException>(c.text);
        EXPECT_NE(detail.find(c.detail), std::string::npos) << c.text << "\n" << detail;
    }
}

} // namespace
