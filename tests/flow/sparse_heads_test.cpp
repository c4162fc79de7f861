// The sparse solve of the head equations against the band elimination, on
// grids small enough for both (the band limit lowered to force the sparse
// path).
#include "flow/heads.h"
#include "flow/sparse_solve.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "support/model_builder.h"

#include <gtest/gtest.h>

#include <functional>

#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace kova_test;

namespace {

// A grid with fixed heads along the first column and at two inner nodes, a
// pumping well, a recharge node, a zero-conductivity node, and random
// conductivities and spacings.
CTestModel RandomGrid(int rows, int cols, std::mt19937_64& random) {
    CTestModel model;
    model.rows = rows;
    model.cols = cols;
    model.nMobile = 1;
    model.opzero = 1e-12;
    std::uniform_real_distribution<double> spacing(0.5, 3.0);
    double x = 0.0;
    for (int i = 0; i < rows; ++i, x += spacing(random))
        model.rowCoord.push_back(x);
    x = 0.0;
    for (int j = 0; j < cols; ++j, x += spacing(random))
        model.colCoord.push_back(x);
    std::uniform_real_distribution<double> k(0.5, 50.0);
    std::uniform_real_distribution<double> head(15.0, 20.0);
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

struct CHeads {
    std::vector<double> head;
    std::vector<double> source;
};

// after: a change to the model as read, for states the reader refuses.
CHeads InitHeads(const CTestModel& model, int64_t bandLimit, EHeadSolve expected,
                 const std::function<void(CSimulation&)>& after = nullptr) {
    CRunControl control("m");
    CSimulation sim(&control);
    sim.m_headBandMaxBytes = bandLimit;
    LoadModel(sim, model);
    if (after)
        after(sim);
    EXPECT_EQ(sim.m_headSolve, expected);
    if (expected == EHeadSolve::SPARSE) {
        // The step arrays only: the matrix lives elsewhere, and the first
        // m_nValues doubles stay as allocated (0) for the first predictor.
        EXPECT_EQ(sim.m_workSize, 2 * sim.m_nValues);
    }
    InitHeads(sim);
    CHeads heads;
    for (int n = 0; n < sim.m_nNodes; ++n) {
        heads.head.push_back(sim.m_stateNew[static_cast<size_t>(n) * sim.m_nComp + SLOT_HEAD]);
        heads.source.push_back(sim.m_stateNew[static_cast<size_t>(n) * sim.m_nComp + SLOT_SOURCE]);
        if (expected == EHeadSolve::SPARSE) {
            for (int k = 0; k < sim.m_nComp; ++k)
                EXPECT_EQ(sim.m_state[static_cast<size_t>(n) * sim.m_nComp + k], 0.0);
        }
    }
    return heads;
}

// Heads to 1e-12 relative; the source rates of the fixed nodes, differences
// of the flows in and out, to 1e-12 of the largest rate.
void ExpectSameHeads(const CHeads& band, const CHeads& sparse, const std::string& what) {
    double largest = 0.0;
    for (double s : band.source)
        largest = std::fmax(largest, std::fabs(s));
    for (size_t n = 0; n < band.head.size(); ++n) {
        EXPECT_NEAR(sparse.head[n], band.head[n], 1e-12 * std::fabs(band.head[n]))
            << what << ": head of node " << n;
        EXPECT_NEAR(sparse.source[n], band.source[n], 1e-12 * largest)
            << what << ": source of node " << n;
    }
}

TEST(SparseHeads, AgreeWithTheBandSolveOnRandomGrids) {
    const int shapes[][2] = {{5, 7}, {9, 4}, {12, 12}, {3, 20}};
    std::mt19937_64 random(1234);
    for (const auto& shape : shapes) {
        for (int trial = 0; trial < 3; ++trial) {
            const CTestModel model = RandomGrid(shape[0], shape[1], random);
            const std::string what = std::to_string(shape[0]) + " x " + std::to_string(shape[1]) +
                                     " trial " + std::to_string(trial);
            ExpectSameHeads(InitHeads(model, HEAD_BAND_MAX_BYTES, EHeadSolve::BAND),
                            InitHeads(model, 0, EHeadSolve::SPARSE), what);
        }
    }
}

// A negative conductivity gives a conductance in one row only: the equations
// are no longer symmetric and take the LU path.
TEST(SparseHeads, UnsymmetricEquationsAgreeWithTheBandSolve) {
    std::mt19937_64 random(99);
    const CTestModel model = RandomGrid(6, 8, random);
    // A negative conductivity, which the reader refuses, is the one way to
    // unsymmetric equations: the solve must still agree.
    const auto negative = [](CSimulation& s) {
        s.m_stateNew[static_cast<size_t>(3 * 8 + 4) * s.m_nComp + SLOT_KROW] = -0.5;
    };
    ExpectSameHeads(InitHeads(model, HEAD_BAND_MAX_BYTES, EHeadSolve::BAND, negative),
                    InitHeads(model, 0, EHeadSolve::SPARSE, negative), "negative conductivity");
}

// The limit is a limit on the band matrix's bytes: 8 (2 cols + 1) nodes.
TEST(SparseHeads, BandLimitIsTheBandMatrixSize) {
    CTestModel model;
    model.rows = 4;
    model.cols = 5;
    model.fixedHeads = {{0, 0}};
    const int64_t bandBytes = 8 * 11 * 20;
    InitHeads(model, bandBytes, EHeadSolve::BAND);
    InitHeads(model, bandBytes - 1, EHeadSolve::SPARSE);
}

// Computed-head nodes without a fixed head to hold them: no unique heads. A
// zero-conductivity wall cuts the second and third columns off the fixed
// first column.
TEST(SparseHeads, NodesHeldByNoFixedHeadAreAComputationalError) {
    CTestModel model;
    model.rows = 3;
    model.cols = 4;
    model.overrides = {{0, 1, SLOT_KCOL, 0.0},  {1, 1, SLOT_KCOL, 0.0}, {2, 1, SLOT_KCOL, 0.0},
                       {0, 1, SLOT_KROW, 0.0},  {1, 1, SLOT_KROW, 0.0}, {2, 1, SLOT_KROW, 0.0},
                       {1, 3, SLOT_SOURCE, 0.5}};
    model.fixedHeads = {{0, 0}, {1, 0}, {2, 0}};
    CRunControl control("m");
    CSimulation sim(&control);
    sim.m_headBandMaxBytes = 0;
    LoadModel(sim, model);
    try {
        InitHeads(sim);
        FAIL() << "no failure";
    } catch (const ComputeException& e) {
        EXPECT_EQ(e.Detail(), "the heads of the 6 coupled nodes from node (0, 2) on are held by "
                              "no fixed head: the head equations have no unique solution");
    }
    // With a fixed head among them they have their heads.
    model.fixedHeads.push_back({2, 3});
    CSimulation held(&control);
    held.m_headBandMaxBytes = 0;
    LoadModel(held, model);
    EXPECT_NO_THROW(InitHeads(held));
}

CSparseRows Rows(int n, std::vector<int> start, std::vector<int> column,
                 std::vector<double> value) {
    CSparseRows a;
    a.m_n = n;
    a.m_rowStart = std::move(start);
    a.m_column = std::move(column);
    a.m_value = std::move(value);
    return a;
}

TEST(SparseSolve, SymmetryIsEntryForEntry) {
    EXPECT_TRUE(IsSymmetric(Rows(2, {0, 2, 4}, {0, 1, 0, 1}, {4, 1, 1, 3})));
    EXPECT_FALSE(IsSymmetric(Rows(2, {0, 2, 4}, {0, 1, 0, 1}, {4, 1, 1.0000000000000002, 3})));
    EXPECT_FALSE(IsSymmetric(Rows(2, {0, 2, 3}, {0, 1, 1}, {4, 1, 3})));
    EXPECT_FALSE(IsSymmetric(Rows(2, {0, 2, 4}, {0, 1, 0, 1}, {4, NAN, NAN, 3})));
    const std::vector<double> x =
        SolveSparseSystem(Rows(2, {0, 2, 4}, {0, 1, 0, 1}, {4, 1, 2, 3}), {6, 7}, "test");
    ASSERT_EQ(x.size(), 2u);
    EXPECT_NEAR(x[0], 1.1, 1e-15);
    EXPECT_NEAR(x[1], 1.6, 1e-15);
}

} // namespace
