// The initial heads (band elimination, sparse solve, sweeps), the fluxes
// between the nodes and the dispersion coefficients of the transport.
#include "heads/head_terms.h"
#include "heads/heads.h"
#include "heads/sparse_solve.h"
#include "model/exceptions.h"
#include "model/index.h"
#include "model/phase_times.h"
#include "support/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

using namespace kova_test;

namespace {

// One row of nodes: heads and source rates per unit pore volume of each node.
TEST(Heads, RowsOfNodesBetweenFixedHeads) {
    const double third = 1.0 / 3;
    const struct {
        const char* what;
        CTestModel model;
        std::vector<double> heads, sources;
    } rows[] = {
        // clang-format off
        // Conductance 0.1 between heads 10 and 0: 0.1 x 10 / (0.3 x 10).
        {"two fixed nodes", CTestModel().Grid(1, 2, {0}, {0, 10}).Set(0, 0, 0, 10).Fixed(0,
         0).Fixed(0, 1),
         {10, 0}, {third, -third}},
        // Uneven spacing: the head falls linearly with the coordinate; the
        // fixed ends exchange K x gradient x width 1 = 1.
        {"a linear fall", CTestModel().Grid(1, 5, {0}, {0, 1, 3, 6, 10}).Set(0, 0, 0, 10).Fixed(0,
         0)
             .Fixed(0, 4), {10, 9, 7, 4, 0}, {1 / (0.3 * 1), 0, 0, 0, -1 / (0.3 * 4)}},
        // (0, 1) has no conductivity towards its neighbours: isolated, head 0.
        // (0, 2) has a zero row conductivity: no sweep touches it.
        {"an isolated and a frozen node", CTestModel().Grid(1, 3).Set(0, 0, 0, 4).Set(0, 1, 0, 9)
             .Set(0, 1, SLOT_KCOL, 0).Set(0, 2, SLOT_KROW, 0).Set(0, 2, SLOT_SOURCE, 0.75)
             .Set(0, 2, 0, 1).Fixed(0, 0).Fixed(0, 2), {4, 0, 1}, {0, 0, 0.75}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CTestModel model = row.model;
        model.opzero = 1e-13;
        CEngine engine;
        engine.Read(model);
        engine.Heads();
        for (int j = 0; j < row.model.cols; ++j) {
            EXPECT_NEAR(engine.At(0, j, SLOT_HEAD), row.heads[ToSize(j)], 1e-12) << "node " << j;
            EXPECT_NEAR(engine.At(0, j, SLOT_SOURCE), row.sources[ToSize(j)], 1e-12)
                << "node " << j;
            EXPECT_EQ(engine.At(0, j, SLOT_FLUXROW), 0.0);
            EXPECT_EQ(engine.At(0, j, SLOT_FLUXCOL), 0.0);
        }
    }
}

// A 4 x 3 grid with uneven spacing, uneven conductivities, a well and a fixed
// first row: every computed head balances the flows to its neighbours, and
// the well's water comes in through the fixed row; by either solve.
TEST(Heads, ComputedHeadsBalanceEveryNode) {
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
    for (int64_t bandLimit : {HEAD_BAND_MAX_BYTES, int64_t(0)}) {
        CEngine e;
        e.sim.m_settings.m_headBandMaxBytes = bandLimit;
        e.Read(model);
        e.Heads();
        const CSimulation& s = e.sim;
        // The harmonic-mean conductance of the face to (bi, bj).
        auto conductance = [&](int i, int j, int bi, int bj, int slot) {
            const double ka = e.At(i, j, slot), kb = e.At(bi, bj, slot);
            const double w =
                slot == SLOT_KROW ? s.m_grid.m_colWidth.get()[j] : s.m_grid.m_rowWidth.get()[i];
            const double d =
                slot == SLOT_KROW
                    ? std::fabs(s.m_grid.m_rowCoord.get()[bi] - s.m_grid.m_rowCoord.get()[i])
                    : std::fabs(s.m_grid.m_colCoord.get()[bj] - s.m_grid.m_colCoord.get()[j]);
            return 2.0 * ka * kb * w / ((ka + kb) * d);
        };
        for (int i = 1; i < 4; ++i) {
            for (int j = 0; j < 3; ++j) {
                const double h = e.At(i, j, SLOT_HEAD);
                double balance = e.At(i, j, SLOT_POROSITY) * s.m_grid.m_rowWidth.get()[i] *
                                 s.m_grid.m_colWidth.get()[j] * e.At(i, j, SLOT_SOURCE);
                const int nb[4][3] = {{i - 1, j, SLOT_KROW},
                                      {i + 1, j, SLOT_KROW},
                                      {i, j - 1, SLOT_KCOL},
                                      {i, j + 1, SLOT_KCOL}};
                for (const auto& b : nb)
                    if (b[0] >= 0 && b[0] < 4 && b[1] >= 0 && b[1] < 3)
                        balance += conductance(i, j, b[0], b[1], b[2]) * (e.At(b[0], b[1], 0) - h);
                EXPECT_NEAR(balance, 0.0, 1e-9) << "node (" << i << ", " << j << ")";
            }
        }
        double inflow = 0.0;
        for (int j = 0; j < 3; ++j)
            inflow += 0.3 * s.m_grid.m_rowWidth.get()[0] * s.m_grid.m_colWidth.get()[j] *
                      e.At(0, j, SLOT_SOURCE);
        EXPECT_NEAR(inflow, 0.3 * s.m_grid.m_rowWidth[2] * s.m_grid.m_colWidth[1] * 0.2, 1e-9);
    }
}

// Fixed heads along the first column and at two inner nodes, a well, a
// recharge node, a node without conductivity, random conductivities and
// spacings.
CTestModel RandomGrid(int rows, int cols, std::mt19937_64& random) {
    CTestModel model;
    model.rows = rows;
    model.cols = cols;
    model.opzero = 1e-12;
    std::uniform_real_distribution<double> spacing(0.5, 3.0), k(0.5, 50.0), head(15.0, 20.0);
    for (int i = 0; i < rows; ++i)
        model.rowCoord.push_back(i ? model.rowCoord.back() + spacing(random) : 0.0);
    for (int j = 0; j < cols; ++j)
        model.colCoord.push_back(j ? model.colCoord.back() + spacing(random) : 0.0);
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            model.overrides.push_back({i, j, SLOT_KROW, k(random)});
            model.overrides.push_back({i, j, SLOT_KCOL, k(random)});
        }
        model.overrides.push_back({i, 0, SLOT_HEAD, head(random)});
        model.fixedHeads.push_back({i, 0});
    }
    model.overrides.push_back({rows / 2, cols / 2, SLOT_HEAD, head(random)});
    model.fixedHeads.push_back({rows / 2, cols / 2});
    model.overrides.push_back({rows - 1, cols - 1, SLOT_HEAD, 12.0});
    model.fixedHeads.push_back({rows - 1, cols - 1});
    model.overrides.push_back({rows / 3, cols - 2, SLOT_SOURCE, -0.8});
    model.overrides.push_back({rows - 2, cols / 3, SLOT_SOURCE, 0.3});
    model.overrides.push_back({1, cols - 3, SLOT_KROW, 0.0});
    model.overrides.push_back({1, cols - 3, SLOT_KCOL, 0.0});
    return model;
}

// Heads and source rates by the band elimination (limit above the band) or
// by the sparse or AMG solve (limit below it).
// negativeAt: a node (row 3, column 4) whose conductivity along the rows is
// set to -0.5 after reading, which the reader refuses: the one way to
// unsymmetric equations, the LU path of the sparse solve.
std::vector<double> SolveHeads(const CTestModel& model, int64_t bandLimit, EHeadSolve expected,
                               bool negative = false) {
    CEngine e;
    e.sim.m_settings.m_headBandMaxBytes = bandLimit;
    e.sim.m_settings.m_headAmg = expected == EHeadSolve::AMG;
    e.sim.m_settings.m_headSparseMaxNodes = 0;
    e.Read(model);
    if (negative)
        e.At(3, 4, SLOT_KROW) = -0.5;
    EXPECT_EQ(e.sim.m_headSolve, expected);
    e.Heads();
    // Conjugate gradients need symmetric equations: the others are factored.
    if (expected == EHeadSolve::AMG) {
        EXPECT_EQ(e.sim.m_headSolve, negative ? EHeadSolve::SPARSE : EHeadSolve::AMG);
    }
    std::vector<double> out;
    for (int i = 0; i < model.rows; ++i)
        for (int j = 0; j < model.cols; ++j) {
            out.push_back(e.At(i, j, SLOT_HEAD));
            out.push_back(e.At(i, j, SLOT_SOURCE));
            // The sparse and AMG solves leave the first predictor's doubles at 0.
            if (expected != EHeadSolve::BAND) {
                for (int k = 0; k < e.sim.m_nComp; ++k)
                    EXPECT_EQ(e.sim.m_state[(i * model.cols + j) * e.sim.m_nComp + k], 0.0);
            }
        }
    return out;
}

TEST(Heads, TheSparseSolveAgreesWithTheBandElimination) {
    std::mt19937_64 random(1234);
    const int shapes[][2] = {{5, 7}, {9, 4}, {12, 12}, {3, 20}};
    for (const auto& shape : shapes) {
        const CTestModel model = RandomGrid(shape[0], shape[1], random);
        const bool negative = shape[0] == 12;
        const std::vector<double> band =
            SolveHeads(model, HEAD_BAND_MAX_BYTES, EHeadSolve::BAND, negative);
        const std::vector<double> sparse = SolveHeads(model, 0, EHeadSolve::SPARSE, negative);
        double largest = 0.0;
        for (size_t t = 1; t < band.size(); t += 2)
            largest = std::fmax(largest, std::fabs(band[t]));
        for (size_t t = 0; t < band.size(); ++t)
            EXPECT_NEAR(sparse[t], band[t], 1e-12 * (t % 2 ? largest : std::fabs(band[t])))
                << shape[0] << " x " << shape[1] << (t % 2 ? " source" : " head") << " of node "
                << t / 2;
    }
    // The limit is on the band matrix's bytes: 8 x (2 x 5 + 1) x 20 nodes.
    CTestModel small;
    small.rows = 4;
    small.cols = 5;
    small.fixedHeads = {{0, 0}};
    SolveHeads(small, 8 * 11 * 20, EHeadSolve::BAND);
    SolveHeads(small, 8 * 11 * 20 - 1, EHeadSolve::SPARSE);
    if (HEAD_AMG_BUILT)
        SolveHeads(small, 8 * 11 * 20 - 1, EHeadSolve::AMG);
}

// The band's bytes of a model: 8 x (2 x cols + 1) x nodes.
int64_t BandBytes(const CTestModel& model) {
    return int64_t(8) * (2 * model.cols + 1) * model.rows * model.cols;
}

// Just above the band's limit the AMG solve takes over: its heads within
// 1e-10 relative of the sparse factorization's (and so of the band's), the
// fixed heads' source rates within 1e-10 of the largest, after a few sweeps.
// A grid with a negative conductivity has unsymmetric equations, which the
// AMG solve leaves to the sparse LU: the same bits.
TEST(Heads, TheAmgSolveAgreesWithTheSparseSolve) {
    if (!HEAD_AMG_BUILT)
        GTEST_SKIP() << "built without hypre";
    std::mt19937_64 random(99);
    const int shapes[][2] = {{30, 40}, {45, 25}, {12, 12}};
    for (const auto& shape : shapes) {
        const CTestModel model = RandomGrid(shape[0], shape[1], random);
        const bool negative = shape[0] == 12;
        const int64_t limit = BandBytes(model) - 1;
        const std::vector<double> sparse = SolveHeads(model, limit, EHeadSolve::SPARSE, negative);
        const std::vector<double> amg = SolveHeads(model, limit, EHeadSolve::AMG, negative);
        if (negative) {
            EXPECT_EQ(amg, sparse);
            continue;
        }
        double largest = 0.0;
        for (size_t t = 1; t < sparse.size(); t += 2)
            largest = std::fmax(largest, std::fabs(sparse[t]));
        for (size_t t = 0; t < sparse.size(); ++t)
            EXPECT_NEAR(amg[t], sparse[t], 1e-10 * (t % 2 ? largest : std::fabs(sparse[t])))
                << shape[0] << " x " << shape[1] << (t % 2 ? " source" : " head") << " of node "
                << t / 2;
    }
}

// Every node of a grid above the band's limit, solved by AMG and the sweeps,
// balances its water to the model's tolerance: a computed head the flows to
// its neighbours and its source (what one more sweep would move it by, over
// its total conductance, at most opzero), a fixed head the flows with its
// source rate; and the water of the whole grid adds up to 0.
TEST(Heads, AmgHeadsBalanceEveryNodeToTheModelsTolerance) {
    if (!HEAD_AMG_BUILT)
        GTEST_SKIP() << "built without hypre";
    std::mt19937_64 random(2026);
    for (const double opzero : {1e-6, 1e-11}) {
        CTestModel model = RandomGrid(64, 80, random);
        model.opzero = opzero;
        CEngine e;
        e.sim.m_settings.m_headBandMaxBytes = BandBytes(model) - 1;
        e.sim.m_settings.m_headSparseMaxNodes = 0;
        e.Read(model);
        ASSERT_EQ(e.sim.m_headSolve, EHeadSolve::AMG);
        e.Heads();
        const CSimulation& s = e.sim;
        EXPECT_EQ(s.m_headSolve, EHeadSolve::AMG);
        EXPECT_LE(s.m_times.m_headResidual, HEAD_AMG_RESIDUAL);
        EXPECT_GT(s.m_times.m_headIterations, 0);
        EXPECT_LE(s.m_times.m_headSweeps, 3) << "opzero " << opzero;
        double water = 0.0;
        double scale = 0.0;
        for (int i = 0; i < model.rows; ++i) {
            for (int j = 0; j < model.cols; ++j) {
                const int n = i * model.cols + j;
                const CNodeView node(s.m_stateNew.get() + n * s.m_nComp);
                double total = 0.0;
                double outflow = 0.0;
                ForEachConductance(s, i, j, [&](int b, double g) {
                    total += g;
                    outflow += g * (node.Head() - NodeOf(s.m_stateNew.get(), s.m_nComp, b).Head());
                });
                if (total == 0.0)
                    continue;
                const double source = VolumeSource(s, i, j, node);
                EXPECT_LE(std::fabs(source - outflow) / total, opzero)
                    << "node (" << i << ", " << j << ")"
                    << (s.m_grid.m_nodeType[ToSize(n)] == NODE_HEAD ? " fixed" : "");
                water += source;
                scale += std::fabs(source);
            }
        }
        EXPECT_LE(std::fabs(water), 1e-9 * scale);
    }
}

// When the sweeps after the AMG solve do not settle, their failure says
// where the AMG solve stopped: at its residual (the two disagree on whether
// the heads are settled) or above it. The other solves add nothing.
TEST(Heads, UnsettledSweepsSayWhereTheAmgSolveStopped) {
    const struct {
        EHeadSolve solve;
        double residual;
        const char* tail;
    } rows[] = {
        {EHeadSolve::BAND, 0.0, "above opzero 0.25"},
        {EHeadSolve::SPARSE, 0.0, "above opzero 0.25"},
        {EHeadSolve::AMG, 2.5e-14,
         "above opzero 0.25, though the AMG solve before them had settled the heads to a "
         "relative residual of 2.5e-14 (its target 1e-13) in 17 iterations"},
        {EHeadSolve::AMG, 3e-9,
         "above opzero 0.25; nor had the AMG solve before them settled the heads: it stopped at "
         "a relative residual of 3e-09 after 17 iterations, above its 1e-13"},
    };
    for (const auto& row : rows) {
        CSimulation s(nullptr);
        s.m_settings.m_opzero = 0.25;
        s.m_headSolve = row.solve;
        s.m_times.m_headResidual = row.residual;
        s.m_times.m_headIterations = 17;
        try {
            ThrowHeadsUnsettled(s, 0.5);
            ADD_FAILURE() << "no failure";
        } catch (const ComputeException& failure) {
            const std::string text = failure.Detail();
            EXPECT_EQ(text, std::string("initial heads did not settle in 1000 sweeps: last change "
                                        "sum 0.5 ") +
                                row.tail);
        }
    }
}

TEST(Heads, SparseSystemsSolveAndKnowTheirSymmetry) {
    auto rows = [](std::vector<int> start, std::vector<int> column, std::vector<double> value) {
        CSparseRows a;
        a.m_n = 2;
        a.m_rowStart = std::move(start);
        a.m_column = std::move(column);
        a.m_value = std::move(value);
        return a;
    };
    EXPECT_TRUE(IsSymmetric(rows({0, 2, 4}, {0, 1, 0, 1}, {4, 1, 1, 3})));
    EXPECT_FALSE(IsSymmetric(rows({0, 2, 4}, {0, 1, 0, 1}, {4, 1, 1.0000000000000002, 3})));
    EXPECT_FALSE(IsSymmetric(rows({0, 2, 3}, {0, 1, 1}, {4, 1, 3})));
    EXPECT_FALSE(IsSymmetric(rows({0, 2, 4}, {0, 1, 0, 1}, {4, NAN, NAN, 3})));
    const std::vector<double> x =
        SolveSparseSystem(rows({0, 2, 4}, {0, 1, 0, 1}, {4, 1, 2, 3}), {6, 7}, "test");
    ASSERT_EQ(x.size(), 2u);
    EXPECT_NEAR(x[0], 1.1, 1e-15);
    EXPECT_NEAR(x[1], 1.6, 1e-15);
}

TEST(Heads, HeadsThatCannotBeFoundAreFailures) {
    // A zero-conductivity wall cuts columns 2 and 3 off the fixed first column.
    CTestModel walled = CTestModel().Grid(3, 4).Set(1, 3, SLOT_SOURCE, 0.5);
    for (int i = 0; i < 3; ++i)
        walled.Set(i, 1, SLOT_KCOL, 0).Set(i, 1, SLOT_KROW, 0).Fixed(i, 0);
    const CTestModel unsettled = CTestModel().Grid(1, 2).Fixed(0, 0);
    CTestModel batch = CTestModel().Grid(3, 4);
    batch.conductivity = 0.0;
    const CTestModel huge = CTestModel()
                                .Grid(1, 3)
                                .Set(0, 0, SLOT_HEAD, 1e308)
                                .Set(0, 2, SLOT_HEAD, -1e308)
                                .Fixed(0, 0)
                                .Fixed(0, 2);
    const struct {
        CTestModel model;
        int64_t bandLimit;
        int nodeType; // given to node 1 after reading
        std::string failure;
    } rows[] = {
        // clang-format off
        {walled, 0, -1, "compute: the heads of the 6 coupled nodes from node (0, 2) on are held by "
                        "no fixed head: the head equations have no unique solution"},
        {unsettled, HEAD_BAND_MAX_BYTES, -1,
         "compute: initial heads did not settle in 1000 sweeps: last change sum 0 above opzero -1"},
        // Reported as the node guard's own message, then as a general failure.
        {unsettled, HEAD_BAND_MAX_BYTES, 7,
         "general: node (0, 1) has type 7, neither NODE_NORMAL nor NODE_HEAD"},
        // The band elimination refuses them too, and a grid without any fixed head.
        {walled, HEAD_BAND_MAX_BYTES, -1, "compute: the heads of the 6 coupled nodes from node "
                                          "(0, 2) on are held by no fixed head"},
        {CTestModel().Grid(2, 3), HEAD_BAND_MAX_BYTES, -1, "compute: the heads of the 6 coupled "
                                                           "nodes from node (0, 0) on are held"},
        {CTestModel().Grid(2, 3), 0, -1, "compute: the heads of the 6 coupled nodes from node "
                                         "(0, 0) on are held by no fixed head"},
        // Nodes without any conductance are batch reactors: nothing to hold.
        {batch, HEAD_BAND_MAX_BYTES, -1, ""},
        {batch, 0, -1, ""},
        // Heads beyond the largest double.
        {huge, HEAD_BAND_MAX_BYTES, -1,
         "compute: the initial source rate of node (0, 0) is inf, not a finite number"},
        {huge, 0, -1, "compute: the initial source rate of node (0, 0) is inf"},
        // With a fixed head among them the walled-off nodes have their heads.
        {walled.Fixed(2, 3), 0, -1, ""},
        {walled, HEAD_BAND_MAX_BYTES, -1, ""},
        // clang-format on
    };
    for (const auto& row : rows) {
        CEngine e;
        e.sim.m_settings.m_headBandMaxBytes = row.bandLimit;
        e.Read(row.model);
        if (row.failure.find("settle") != std::string::npos)
            e.sim.m_settings.m_opzero =
                -1.0; // no change sum is ever at or below it (the reader refuses it)
        if (row.nodeType >= 0)
            e.sim.m_grid.m_nodeType[1] = static_cast<unsigned char>(row.nodeType);
        const std::string outcome = Outcome([&] { e.Heads(); });
        // The whole outcome, or (for a failure) its start.
        EXPECT_TRUE(row.failure.empty() ? outcome.empty() : outcome.rfind(row.failure, 0) == 0)
            << outcome << " (band limit " << row.bandLimit << ")";
        EXPECT_EQ(e.sink.texts,
                  std::vector<std::string>(row.nodeType < 0 ? 0 : 1,
                                           "ERROR-WRONG TYPE OF NODE, NOT HEAD or NORMAL"));
    }
}

// The elimination as written down first: each pivot row divided by its
// diagonal, then taken from every row below it within the band, a row whose
// multiplier is 0 skipped.
void EliminatePivotByPivot(std::vector<double>& matrix, std::vector<double>& rhs, int band) {
    const int width = 2 * band + 1;
    const int nodes = static_cast<int>(rhs.size());
    for (int r = 0; r < nodes; ++r) {
        double* rowR = &matrix[ToSize(r * width + band)];
        const double p = rowR[0];
        for (int c = 0; c <= band; ++c)
            rowR[c] = rowR[c] / p;
        rhs[ToSize(r)] = rhs[ToSize(r)] / p;
        for (int k = 1; k <= band && r + k < nodes; ++k) {
            double* rowK = &matrix[ToSize((r + k) * width + band - k)];
            const double f = -rowK[0];
            if (f == 0.0)
                continue;
            for (int c = 0; c <= band; ++c)
                rowK[c] = rowK[c] + f * rowR[c];
            rhs[ToSize(r + k)] = rhs[ToSize(r + k)] + f * rhs[ToSize(r)];
        }
    }
}

// The band elimination takes the pivot rows in blocks, in vector lanes and on
// threads, and the back substitution sums four rows at once; every entry of
// the eliminated matrix, every right-hand side and every solution must have
// the bits of taking one pivot row after the other and one row after the
// other. Bands narrower than,
// as wide as and wider than a block, and wide enough for the threads;
// conductivities over four orders of magnitude, some of them 0, so that some
// multipliers are 0; a fixed first row and wells.
TEST(Heads, TheBandSolveGivesTheBitsOfOneRowAfterTheOther) {
    // 12 x 13 nodes: the last block of pivot rows ends 13 rows above the end
    // (on row 143 of 156), where the reach of the block ends with the matrix.
    for (int cols : {1, 2, 3, HEAD_BAND_BLOCK - 1, HEAD_BAND_BLOCK, HEAD_BAND_BLOCK + 1, 13, 17,
                     HEAD_BAND_THREADS_MIN_WIDTH, HEAD_BAND_THREADS_MIN_WIDTH + 33}) {
        CTestModel model = CTestModel().Grid(12, cols);
        std::mt19937_64 random(static_cast<uint64_t>(cols));
        std::uniform_real_distribution<double> exponent(-2.0, 2.0);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int i = 0; i < model.rows; ++i)
            for (int j = 0; j < cols; ++j) {
                model.Set(i, j, SLOT_KROW, std::pow(10.0, exponent(random)));
                model.Set(i, j, SLOT_KCOL,
                          unit(random) < 0.3 ? 0.0 : std::pow(10.0, exponent(random)));
                model.Set(i, j, SLOT_HEAD, i == 0 ? 20.0 + j % 5 : 0.0);
                if (i == 0)
                    model.Fixed(0, j);
            }
        model.Set(3, cols / 2, SLOT_SOURCE, -0.3).Set(7, cols - 1, SLOT_SOURCE, 0.2);
        for (int threads : {1, 2, 3}) {
            SCOPED_TRACE(std::to_string(cols) + " columns, " + std::to_string(threads) +
                         " threads");
            CEngine e;
            e.sim.m_nThreads = threads;
            e.Read(model);
            ASSERT_EQ(e.sim.m_headSolve, EHeadSolve::BAND);
            AssembleBandMatrix(e.sim);
            const int nodes = e.sim.m_nNodes;
            std::vector<double> matrix(e.sim.m_work.get(),
                                       e.sim.m_work.get() + nodes * (2 * cols + 1));
            std::vector<double> rhs;
            for (int n = 0; n < nodes; ++n)
                rhs.push_back(e.sim.m_stateNew[ToSize(n * e.sim.m_nComp + SLOT_FLUXCOL)]);
            EliminatePivotByPivot(matrix, rhs, cols);
            // Nothing past the last row is read or written: what lies there
            // would be taken for entries of a further row.
            for (size_t v = matrix.size(); v < ToSize(e.sim.m_workSize); ++v)
                e.sim.m_work[v] = 7.0;
            EliminateBand(e.sim);
            for (size_t v = 0; v < matrix.size(); ++v)
                ASSERT_EQ(std::memcmp(&matrix[v], &e.sim.m_work[v], sizeof(double)), 0)
                    << "matrix value " << v << " is " << e.sim.m_work[v] << " instead of "
                    << matrix[v];
            for (size_t v = matrix.size(); v < ToSize(e.sim.m_workSize); ++v)
                ASSERT_EQ(e.sim.m_work[v], 7.0) << "work value " << v;
            // The back substitution, row after row from the last, each row's
            // products from the last column of its band to the first.
            std::vector<double> x(ToSize(nodes));
            for (int r = nodes - 1; r >= 0; --r) {
                double sum = rhs[ToSize(r)];
                for (int k = std::min(cols, nodes - r - 1); k >= 1; --k)
                    sum = sum - x[ToSize(r + k)] * matrix[ToSize(r * (2 * cols + 1) + cols + k)];
                x[ToSize(r)] = sum;
            }
            BackSubstitute(e.sim);
            for (int n = 0; n < nodes; ++n)
                ASSERT_EQ(std::memcmp(&x[ToSize(n)],
                                      &e.sim.m_stateNew[ToSize(n * e.sim.m_nComp + SLOT_FLUXROW)],
                                      sizeof(double)),
                          0)
                    << "solution of node " << n;
            for (int n = 0; n < nodes; ++n)
                ASSERT_EQ(std::memcmp(&rhs[ToSize(n)],
                                      &e.sim.m_stateNew[ToSize(n * e.sim.m_nComp + SLOT_FLUXCOL)],
                                      sizeof(double)),
                          0)
                    << "right-hand side of node " << n;
        }
    }
}

// The fluxes and the coefficients (Drr, Dcc, Drc) of every node, from heads
// given in the model.
TEST(FlowField, FluxesAndCoefficientsOfEachNode) {
    struct CNodeFlow {
        int i, j;
        double qr, qc, drr, dcc, drc;
    };
    const double r10 = std::sqrt(10.0);
    const struct {
        const char* what;
        CTestModel model;
        std::vector<CNodeFlow> nodes;
    } rows[] = {
        // clang-format off
        // Harmonic mean 2 x 3 x 1 / 4 = 1.5 times the gradient 4 / 2.
        {"harmonic mean", CTestModel().Grid(1, 3, {0}, {0, 2, 3}).Set(0, 0, 0, 7).Set(0, 1, 0, 3)
             .Set(0, 1, SLOT_KCOL, 3).Set(0, 2, 0, 1).Set(0, 2, SLOT_KCOL, 0),
         {{0, 0, 0, 3, 0, 0, 0}, {0, 1, 0, 0, 0, 0, 0}}},
        // One row: Drr is Dm at the first node and 0 elsewhere.
        {"one row", CTestModel().Grid(1, 3, {0}, {0, 4, 6}).Mobile(2, 0.5, 0.01).Set(0, 0, 0, 6)
             .Set(0, 1, 0, 4).Set(0, 2, 0, 3),
         {{0, 0, 0, 0.5, 0.01, 2 * 0.5 / 0.3 + 0.01, 0}, {0, 1, 0, 0.5, 0, 2 * 0.5 / 0.3 + 0.01, 0},
          {0, 2, 0, 0, 0, 0.01, 0}}},
        // Two columns: a node of the last row and column has no flow, only Dm.
        {"two columns", CTestModel().Grid(2, 2, {0, 1}, {0, 2}).Mobile(1, 0.2, 0.05)
             .Set(0, 0, 0, 20).Set(0, 1, 0, 14).Set(1, 0, 0, 17).Set(1, 1, 0, 11),
         {{1, 1, 0, 0, 0.05, 0.05, 0}}},
        // Heads 20 - 3 x - y: fluxes 3 and 1 along both axes. The first row's
        // Dcc ignores the row flux and the first column's Drr the column flux.
        {"both axes", CTestModel().Grid(3, 3, {0, 1, 3}, {0, 2, 3}).Mobile(1, 0.2, 0.05)
             .Set(0, 0, 0, 20).Set(0, 1, 0, 18).Set(0, 2, 0, 17).Set(1, 0, 0, 17).Set(1, 1, 0, 15)
             .Set(1, 2, 0, 14).Set(2, 0, 0, 11).Set(2, 1, 0, 9).Set(2, 2, 0, 8),
         {{1, 1, 3, 1, (9 + 0.2) / (r10 * 0.3) + 0.05, (1 + 1.8) / (r10 * 0.3) + 0.05,
          0.8 * 3 / (r10 * 0.3)},
          {0, 1, 3, 1, (9 + 0.2) / (r10 * 0.3) + 0.05, 1 / 0.3 + 0.05, 0.8 * 3 / (r10 * 0.3)},
          {1, 0, 3, 1, 3 / 0.3 + 0.05, (1 + 1.8) / (r10 * 0.3) + 0.05, 0.8 * 3 / (r10 * 0.3)},
          {2, 2, 0, 0, 0.05, 0.05, 0}}},
        {"equal heads: diffusion only", CTestModel().Grid(2, 3).Mobile(1, 0.1, 0.25).Set(0, 0, 0, 4)
             .Set(0, 1, 0, 4).Set(0, 2, 0, 4).Set(1, 0, 0, 4).Set(1, 1, 0, 4).Set(1, 2, 0, 4),
         {{0, 0, 0, 0, 0.25, 0.25, 0}, {1, 2, 0, 0, 0.25, 0.25, 0}}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CEngine e;
        e.Read(row.model);
        e.Flow();
        for (const CNodeFlow& n : row.nodes) {
            EXPECT_EQ(e.At(n.i, n.j, SLOT_FLUXROW), n.qr) << n.i << ", " << n.j;
            EXPECT_EQ(e.At(n.i, n.j, SLOT_FLUXCOL), n.qc) << n.i << ", " << n.j;
            if (row.model.nMobile == 0)
                continue;
            const double* c = e.sim.m_dispCoef.get() + 3 * (n.i * row.model.cols + n.j);
            EXPECT_NEAR(c[0], n.drr, 1e-13) << "Drr at " << n.i << ", " << n.j;
            EXPECT_NEAR(c[1], n.dcc, 1e-13) << "Dcc at " << n.i << ", " << n.j;
            EXPECT_NEAR(c[2], n.drc, 1e-13) << "Drc at " << n.i << ", " << n.j;
        }
    }
}

} // namespace
