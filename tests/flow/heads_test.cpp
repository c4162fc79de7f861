#include "flow/heads.h"

#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "support/model_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <typeinfo>

using namespace kova_test;

namespace {

double& Slot(CSimulation& sim, int i, int j, int k) {
    return sim.m_stateNew[static_cast<size_t>(i * sim.m_nCols + j) * sim.m_nComp + k];
}

void ExpectRelNear(double actual, double expected, const char* what) {
    EXPECT_NEAR(actual, expected, 1e-12 * std::fabs(expected)) << what;
}

TEST(CellWidths, EdgeCellsReachTheirOneNeighbourInnerCellsHalfway) {
    const double coords[] = {0.0, 10.0, 30.0};
    double widths[3] = {};
    ComputeCellWidths(widths, coords, 3);
    EXPECT_EQ(widths[0], 10.0);
    EXPECT_EQ(widths[1], 15.0);
    EXPECT_EQ(widths[2], 20.0);

    const double two[] = {2.0, 5.0};
    double twoWidths[2] = {};
    ComputeCellWidths(twoWidths, two, 2);
    EXPECT_EQ(twoWidths[0], 3.0);
    EXPECT_EQ(twoWidths[1], 3.0);

    const double one[] = {7.0};
    double oneWidth[1] = {};
    ComputeCellWidths(oneWidth, one, 1);
    EXPECT_EQ(oneWidth[0], 1.0);
}

// One row, two fixed-head nodes at 0 and 10 with heads 10 and 0.
TEST(InitialHeads, TwoFixedNodesGetOppositeSourceRates) {
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModelText(sim, TWO_NODE_MODEL);
    InitHeads(sim);

    EXPECT_EQ(sim.m_rowWidth[0], 1.0);
    EXPECT_EQ(sim.m_colWidth[0], 10.0);
    EXPECT_EQ(sim.m_colWidth[1], 10.0);
    EXPECT_EQ(Slot(sim, 0, 0, SLOT_HEAD), 10.0);
    EXPECT_EQ(Slot(sim, 0, 1, SLOT_HEAD), 0.0);
    // Conductance 0.1: the source rate per unit pore volume is 0.1 x 10 / (0.3 x 10).
    ExpectRelNear(Slot(sim, 0, 0, SLOT_SOURCE), 1.0 / 3.0, "source of (0, 0)");
    ExpectRelNear(Slot(sim, 0, 1, SLOT_SOURCE), -1.0 / 3.0, "source of (0, 1)");
    for (int j = 0; j < 2; ++j) {
        EXPECT_EQ(Slot(sim, 0, j, SLOT_FLUXROW), 0.0) << j;
        EXPECT_EQ(Slot(sim, 0, j, SLOT_FLUXCOL), 0.0) << j;
    }
    // Another sweep changes nothing.
    EXPECT_EQ(RelaxNodeHead(sim, 0, 0) + RelaxNodeHead(sim, 0, 1), 0.0);
    EXPECT_EQ(control.GetStatus().value(), "Computing Inital Heads ...");
}

// A row of unevenly spaced nodes between two fixed heads: the head falls
// linearly with the coordinate and the two fixed nodes exchange equal volumes.
TEST(InitialHeads, HeadsFallLinearlyBetweenFixedEnds) {
    CTestModel model;
    model.cols = 5;
    model.colCoord = {0.0, 1.0, 3.0, 6.0, 10.0};
    model.opzero = 1e-13;
    model.overrides = {{0, 0, SLOT_HEAD, 10.0}};
    model.fixedHeads = {{0, 0}, {0, 4}};
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModel(sim, model);
    InitHeads(sim);

    for (int j = 0; j < 5; ++j)
        EXPECT_NEAR(Slot(sim, 0, j, SLOT_HEAD), 10.0 - model.colCoord[j], 1e-12) << "node " << j;
    const double q0 = 0.3 * sim.m_colWidth[0] * Slot(sim, 0, 0, SLOT_SOURCE);
    const double q4 = 0.3 * sim.m_colWidth[4] * Slot(sim, 0, 4, SLOT_SOURCE);
    EXPECT_GT(q0, 0.0);
    ExpectRelNear(-q4, q0, "volume sources of the two fixed nodes");
    ExpectRelNear(q0, 1.0, "flow through the row: K x gradient x width 1");
}

// A 4 x 3 grid with uneven spacing, uneven conductivities, a well and a fixed
// edge: every computed head balances the flows to its neighbours.
TEST(InitialHeads, ComputedHeadsBalanceEveryNode) {
    CTestModel model;
    model.rows = 4;
    model.cols = 3;
    model.rowCoord = {0.0, 2.0, 5.0, 6.0};
    model.colCoord = {0.0, 1.5, 4.0};
    model.opzero = 1e-12;
    model.overrides = {{0, 0, SLOT_HEAD, 5.0},    {0, 1, SLOT_HEAD, 6.0},    {0, 2, SLOT_HEAD, 7.0},
                       {2, 1, SLOT_SOURCE, -0.2}, {1, 1, SLOT_KROW, 3.0},    {2, 2, SLOT_KCOL, 0.5},
                       {3, 0, SLOT_KROW, 2.0},    {1, 2, SLOT_POROSITY, 0.2}};
    model.fixedHeads = {{0, 0}, {0, 1}, {0, 2}};
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModel(sim, model);
    InitHeads(sim);

    auto conductance = [&](int i, int j, int bi, int bj, int slot) {
        const double ka = Slot(sim, i, j, slot);
        const double kb = Slot(sim, bi, bj, slot);
        const double w = slot == SLOT_KROW ? sim.m_colWidth[j] : sim.m_rowWidth[i];
        const double d = slot == SLOT_KROW ? std::fabs(sim.m_rowCoord[bi] - sim.m_rowCoord[i])
                                           : std::fabs(sim.m_colCoord[bj] - sim.m_colCoord[j]);
        return 2.0 * ka * kb * w / ((ka + kb) * d);
    };
    for (int i = 1; i < 4; ++i) {
        for (int j = 0; j < 3; ++j) {
            double balance = 0.0;
            const double h = Slot(sim, i, j, SLOT_HEAD);
            const int nb[4][3] = {{i - 1, j, SLOT_KROW},
                                  {i + 1, j, SLOT_KROW},
                                  {i, j - 1, SLOT_KCOL},
                                  {i, j + 1, SLOT_KCOL}};
            for (const auto& b : nb)
                if (b[0] >= 0 && b[0] < 4 && b[1] >= 0 && b[1] < 3)
                    balance += conductance(i, j, b[0], b[1], b[2]) *
                               (Slot(sim, b[0], b[1], SLOT_HEAD) - h);
            balance += Slot(sim, i, j, SLOT_POROSITY) * sim.m_rowWidth[i] * sim.m_colWidth[j] *
                       Slot(sim, i, j, SLOT_SOURCE);
            EXPECT_NEAR(balance, 0.0, 1e-9) << "node (" << i << ", " << j << ") head " << h;
        }
    }
    // Water taken by the well comes in through the fixed row.
    double fixedInflow = 0.0;
    for (int j = 0; j < 3; ++j)
        fixedInflow += 0.3 * sim.m_rowWidth[0] * sim.m_colWidth[j] * Slot(sim, 0, j, SLOT_SOURCE);
    const double well = 0.3 * sim.m_rowWidth[2] * sim.m_colWidth[1] * 0.2;
    EXPECT_NEAR(fixedInflow, well, 1e-9);
}

// The elimination works in m_work, row r at r x (2 m_nCols + 1) with the
// diagonal at offset m_nCols; the time loop's first step starts from what is
// left there.
TEST(InitialHeads, BandMatrixIsLeftInTheWorkArrayAsLaidOut) {
    CTestModel model;
    model.cols = 3;
    model.overrides = {{0, 0, SLOT_HEAD, 4.0}};
    model.fixedHeads = {{0, 0}, {0, 2}};
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModel(sim, model);
    InitHeads(sim);

    const int width = 7;
    const double* work = sim.m_work.get();
    EXPECT_EQ(work[3], 1.0);                    // fixed row 0: unit diagonal
    EXPECT_EQ(work[width + 2], 0.0);            // (1, 0) eliminated
    EXPECT_EQ(work[width + 3], 1.0);            // (1, 1) divided by its pivot
    EXPECT_EQ(work[width + 4], -0.5);           // (1, 2): G / -2G
    EXPECT_EQ(work[2 * width + 3], 1.0);        // fixed row 2
    EXPECT_EQ(Slot(sim, 0, 1, SLOT_HEAD), 2.0); // halfway between 4 and 0
}

TEST(InitialHeads, IsolatedNodeGetsHeadZeroAndZeroRowConductivityFreezesANode) {
    CTestModel model;
    model.cols = 3;
    model.overrides = {{0, 0, SLOT_HEAD, 4.0}, {0, 1, SLOT_HEAD, 9.0},    {0, 1, SLOT_KCOL, 0.0},
                       {0, 2, SLOT_KROW, 0.0}, {0, 2, SLOT_SOURCE, 0.75}, {0, 2, SLOT_HEAD, 1.0}};
    model.fixedHeads = {{0, 0}, {0, 2}};
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModel(sim, model);
    InitHeads(sim);

    // (0, 1) has no conductivity towards its column neighbours: isolated.
    EXPECT_EQ(Slot(sim, 0, 1, SLOT_HEAD), 0.0);
    // (0, 2) has a zero row conductivity: the sweeps never touch it.
    EXPECT_EQ(Slot(sim, 0, 2, SLOT_SOURCE), 0.75);
    EXPECT_EQ(Slot(sim, 0, 2, SLOT_HEAD), 1.0);
    EXPECT_EQ(RelaxNodeHead(sim, 0, 2), 0.0);
}

// Values for which another grouping of the conductance or the volume source,
// or another neighbour order in the sums, changes the last bits of the head.
TEST(InitialHeads, RelaxedHeadIsExactToTheLastBit) {
    CTestModel model;
    model.rows = 3;
    model.cols = 3;
    model.rowCoord = {0.0, 1.5, 2.2};
    model.colCoord = {0.0, 2.4, 4.2};
    model.overrides = {
        {1, 1, SLOT_KROW, 0.26}, {0, 1, SLOT_KROW, 4.1},      {2, 1, SLOT_KROW, 2.6},
        {1, 1, SLOT_KCOL, 3.1},  {1, 0, SLOT_KCOL, 2.5},      {1, 2, SLOT_KCOL, 4.7},
        {0, 1, SLOT_HEAD, 2.1},  {2, 1, SLOT_HEAD, 5.0},      {1, 0, SLOT_HEAD, 3.4},
        {1, 2, SLOT_HEAD, 1.4},  {1, 1, SLOT_POROSITY, 0.43}, {1, 1, SLOT_SOURCE, 0.28}};
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModel(sim, model);
    ComputeCellWidths(sim.m_rowWidth.get(), sim.m_rowCoord.get(), 3);
    ComputeCellWidths(sim.m_colWidth.get(), sim.m_colCoord.get(), 3);
    RelaxNodeHead(sim, 1, 1);
    EXPECT_EQ(Slot(sim, 1, 1, SLOT_HEAD), 2.8855624482847766);
}

TEST(InitialHeads, CancelStopsTheSweepsAfterTheDirectSolve) {
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModelText(sim, TWO_NODE_MODEL);
    control.Cancel();
    InitHeads(sim);
    // No sweep ran: the fixed nodes keep their input source rates.
    EXPECT_EQ(Slot(sim, 0, 0, SLOT_SOURCE), 0.0);
    EXPECT_EQ(Slot(sim, 0, 1, SLOT_SOURCE), 0.0);
    EXPECT_EQ(control.GetStatus().value(), "Initalizing Hydraulic Heads ...");
}

TEST(InitialHeads, SweepsThatNeverSettleAreAComputationalError) {
    CTestModel model;
    model.cols = 2;
    model.fixedHeads = {{0, 0}};
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModel(sim, model);
    sim.m_opzero = -1.0; // no change sum is ever at or below it (the reader refuses it)
    try {
        InitHeads(sim);
        FAIL() << "expected ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_NE(e.Detail().find("1000 sweeps"), std::string::npos) << e.Detail();
        EXPECT_NE(e.Detail().find("change sum 0"), std::string::npos) << e.Detail();
    }
}

TEST(InitialHeads, UnknownNodeTypeIsReportedAndEndsTheRunAsAnInternalError) {
    CRecordingSink sink;
    CRunControl control("m");
    control.SetMessageSink(&sink);
    CSimulation sim(&control);
    LoadModelText(sim, TWO_NODE_MODEL);
    sim.m_nodeType[1] = 7;
    try {
        RelaxNodeHead(sim, 0, 1);
        FAIL() << "expected Exception";
    } catch (const Exception& e) {
        EXPECT_EQ(typeid(e), typeid(Exception)) << "reported as the general exception";
        EXPECT_NE(e.Detail().find("(0, 1) has type 7"), std::string::npos) << e.Detail();
    }
    ASSERT_EQ(sink.captions.size(), 1u);
    EXPECT_EQ(sink.captions[0], "KOVA Compute");
    EXPECT_EQ(sink.texts[0], "ERROR-WRONG TYPE OF NODE, NOT HEAD or NORMAL");
}

} // namespace
