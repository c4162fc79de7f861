#include "model/exceptions.h"
#include "model/simulation.h"
#include "run/platform.h"
#include "run/run_control.h"
#include "rxn/rxn_set.h"

#include <gtest/gtest.h>

namespace {

struct Model {
    CRunControl control{"m"};
    CSimulation sim{&control};
    Model(int rows, int cols, int immobile, int mobile) {
        sim.m_nRows = rows;
        sim.m_nCols = cols;
        sim.m_nImmobile = immobile;
        sim.m_nMobile = mobile;
        sim.m_outputInterval = 1.0;
    }
};

TEST(SimulationStorage, CountsAndWorkSizeFollowTheGrid) {
    Model m(3, 4, 1, 2);
    m.sim.m_nRxnSets = 2;
    m.sim.m_nRxn = 3;
    testing::internal::CaptureStdout();
    ASSERT_EQ(m.sim.AllocateArrays(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "     112 for Coorinates\n");
    EXPECT_EQ(m.sim.m_nComp, 10);
    EXPECT_EQ(m.sim.m_nNodes, 12);
    EXPECT_EQ(m.sim.m_nValues, 120);
    EXPECT_EQ(m.sim.m_nDispCoef, 72);
    EXPECT_EQ(m.sim.m_workSize, 240); // max(9 x 12, 2 x 120)
    EXPECT_EQ(m.sim.m_transportDelta, m.sim.m_work.get() + 120);
    EXPECT_EQ(m.sim.m_state, m.sim.m_work.get());
    EXPECT_EQ(m.sim.m_rxns.size(), 3u);
    for (const auto& r : m.sim.m_rxns)
        EXPECT_EQ(r, nullptr);
    EXPECT_EQ(m.sim.m_rxnSets.size(), 2u); // made by the reader after the arrays
    EXPECT_EQ(m.control.GetStatus().value(), "Allocating Arrays ...");
}

TEST(SimulationStorage, BandMatrixCanSetTheWorkSize) {
    Model m(2, 10, 1, 0); // m_nComp 8: (2 x 10 + 1) x 20 = 420 > 2 x 160
    testing::internal::CaptureStdout();
    ASSERT_EQ(m.sim.AllocateArrays(), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(m.sim.m_workSize, 420);
}

TEST(SimulationStorage, InitialValues) {
    Model m(2, 3, 0, 1);
    testing::internal::CaptureStdout();
    ASSERT_EQ(m.sim.AllocateArrays(), 1);
    testing::internal::GetCapturedStdout();
    for (int n = 0; n < m.sim.m_nNodes; ++n) {
        EXPECT_EQ(m.sim.m_localFraction[n], 1.0);
        EXPECT_EQ(m.sim.m_localHold[n], 0);
        EXPECT_EQ(m.sim.m_nodeType[n], NODE_NORMAL);
    }
    for (int t = 0; t < m.sim.m_workSize; ++t)
        ASSERT_EQ(m.sim.m_work[t], 0.0);
    for (int t = 0; t < m.sim.m_nDispCoef; ++t)
        ASSERT_EQ(m.sim.m_dispCoef[t], 0.0);
}

TEST(SimulationStorage, OutputTimesCapacity) {
    Model m(1, 1, 0, 0);
    m.sim.m_startTime = 0.0;
    m.sim.m_endTime = 10.0;
    m.sim.m_outputInterval = 4.0; // trunc(2.5 + 2) = 4
    testing::internal::CaptureStdout();
    ASSERT_EQ(m.sim.AllocateArrays(), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(m.sim.m_outputTimes.capacity(), 4u);
    EXPECT_TRUE(m.sim.m_outputTimes.empty());

    Model backwards(1, 1, 0, 0); // end before start: still room for a record
    backwards.sim.m_startTime = 10.0;
    backwards.sim.m_endTime = 0.0;
    testing::internal::CaptureStdout();
    ASSERT_EQ(backwards.sim.AllocateArrays(), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_GE(backwards.sim.m_outputTimes.capacity(), 1u);
}

TEST(SimulationStorage, NoMobileComponentsAllocatesNoTransportArrays) {
    Model m(2, 2, 1, 0);
    testing::internal::CaptureStdout();
    ASSERT_EQ(m.sim.AllocateArrays(), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(m.sim.m_dispCoef, nullptr);
    EXPECT_EQ(m.sim.m_dispersivityL, nullptr);
    EXPECT_EQ(m.sim.m_diffusion, nullptr);
    m.sim.FreeArrays();
    EXPECT_EQ(m.sim.m_work, nullptr);
    EXPECT_TRUE(m.sim.m_rxnSets.empty());
}

TEST(SimulationStorage, CancelledRunAllocatesNothing) {
    Model m(3, 3, 0, 1);
    m.control.Cancel();
    testing::internal::CaptureStdout();
    EXPECT_EQ(m.sim.AllocateArrays(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(m.sim.m_work, nullptr);
    EXPECT_FALSE(m.control.GetStatus().has_value());
    m.sim.FreeArrays(); // frees nothing and does not fail
}

TEST(SimulationStorage, SizesBeyond32BitsAreRefusedBeforeAllocating) {
    Model m(65536, 65536, 0, 0);
    EXPECT_THROW(m.sim.AllocateArrays(), InputException);
    EXPECT_EQ(m.sim.m_work, nullptr);

    Model wide(1, 200000000, 0, 0); // band (2 x cols + 1) x nodes overflows
    EXPECT_THROW(wide.sim.AllocateArrays(), InputException);
}

TEST(SimulationStorage, ArraysBeyondPhysicalMemoryAreRefused) {
    Model m(40000, 40000, 0, 0); // 1.6e9 nodes: far beyond any test machine
    try {
        m.sim.AllocateArrays();
        FAIL() << "expected InputException";
    } catch (const InputException& e) {
        EXPECT_NE(e.Detail().find("exceeds the limit"), std::string::npos) << e.Detail();
    }
    // Every count fits 32 bits, but the arrays need about 30 GiB.
    if (PhysicalMemoryBytes() > 28ull << 30)
        GTEST_SKIP() << "this machine has more memory than the test model needs";
    Model big(10000000, 1, 0, 60);
    try {
        big.sim.AllocateArrays();
        FAIL() << "expected InputException";
    } catch (const InputException& e) {
        EXPECT_NE(e.Detail().find("MiB of memory"), std::string::npos) << e.Detail();
    }
    EXPECT_EQ(big.sim.m_work, nullptr);
}

} // namespace
