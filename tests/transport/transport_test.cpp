// The transport step: advection with its Lax-Wendroff correction, dispersion,
// cross dispersion and sinks, face by face against worked numbers; mass
// conservation; and the per-node gather of the threads against the face loops,
// bit for bit.
#include "io/extension_file.h"
#include "model/index.h"
#include "support/engine.h"
#include "transport/transport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace kova_test;

namespace {

// A model whose start state (m_state) the test sets: heads, fluxes and
// coefficients as the heads and the flow field leave them.
struct CStep : CEngine {
    explicit CStep(const CTestModel& model) {
        Read(model);
        Heads();
        Flow();
        for (int t = 0; t < sim.m_nValues; ++t)
            sim.m_state[t] = sim.m_stateNew.get()[t];
    }
    int Index(int i, int j, int k) const { return (i * sim.m_nCols + j) * sim.m_nComp + k; }
    double& State(int i, int j, int k) { return sim.m_state[Index(i, j, k)]; }
    double Delta(int i, int j, int k) const { return sim.m_transportDelta[Index(i, j, k)]; }
    double* Coef(int i, int j) { return sim.m_dispCoef.get() + 3 * (i * sim.m_nCols + j); }
    void Step(double dt) {
        sim.m_clock.m_globalStep = dt;
        Transport();
    }
};

// Two fixed nodes 10 apart; no dispersion unless a test sets it.
CTestModel TwoNodes(double headA, double headB) {
    CTestModel model = CTestModel().Grid(1, 2, {0}, {0, 10}).Mobile(0, 0, 0).Fixed(0, 0);
    return model.Fixed(0, 1).Set(0, 0, SLOT_HEAD, headA).Set(0, 1, SLOT_HEAD, headB);
}

// F = (c(b) - c(a)) (q/2 - q^2 dt / (2 theta d)) + q c(upstream), per face.
TEST(Transport, AdvectionIsCentralPlusLaxWendroffFromUpstream) {
    const struct {
        double headA, headB, ca, cb, dt;
    } rows[] = {
        {10, 0, 1, 0, 0.5},  // q = 1
        {0, 20, 0, 1, 0.25}, // q = -2: the upstream node is b
    };
    for (const auto& row : rows) {
        CStep s(TwoNodes(row.headA, row.headB));
        s.State(0, 0, 7) = row.ca;
        s.State(0, 1, 7) = row.cb;
        s.State(0, 0, SLOT_SOURCE) = s.State(0, 1, SLOT_SOURCE) = 0.0;
        s.Step(row.dt);
        const double q = (row.headA - row.headB) / 10;
        const double f = (row.cb - row.ca) * (q / 2 - q * q * row.dt / (2 * 0.3 * 10)) +
                         q * (q >= 0 ? row.ca : row.cb);
        EXPECT_NEAR(s.Delta(0, 0, 7), -f * row.dt / 10 / 0.3, 1e-15) << "q = " << q;
        EXPECT_NEAR(s.Delta(0, 1, 7), f * row.dt / 10 / 0.3, 1e-15) << "q = " << q;
        for (int k = 0; k < 7; ++k)
            EXPECT_TRUE(s.Delta(0, 0, k) == 0.0 && s.Delta(0, 1, k) == 0.0)
                << "hydraulic slot " << k;
    }
}

// Fickian dispersion with node a's coefficient and the face's mean porosity;
// each node's change divides by its own porosity and width.
TEST(Transport, DispersionUsesTheMeanPorosityAndEachNodesWidth) {
    // All heads 0: no flow.
    CStep s(CTestModel()
                .Grid(1, 3, {0}, {0, 4, 10})
                .Mobile(0, 0, 0)
                .Set(0, 1, SLOT_POROSITY, 0.2)
                .Fixed(0, 0));
    s.Coef(0, 0)[1] = 2.0; // Dcc of node a only
    s.Coef(0, 1)[1] = 0.0;
    s.State(0, 0, 7) = 3.0;
    s.State(0, 1, 7) = 1.0;
    s.Step(0.1);
    const double f = (1.0 - 3.0) * -((0.3 + 0.2) * 0.5 * 2.0 / 4.0);
    EXPECT_NEAR(s.Delta(0, 0, 7), -f * 0.1 / 4.0 / 0.3, 1e-15) << "width 4, porosity 0.3";
    EXPECT_NEAR(s.Delta(0, 1, 7), f * 0.1 / 5.0 / 0.2, 1e-15) << "width 5, porosity 0.2";
    EXPECT_EQ(s.Delta(0, 2, 7), 0.0);
}

// Only the centre node has a cross coefficient: its two faces towards higher
// indices carry the central differences across its neighbours on the other
// axis, with node a's porosity.
TEST(Transport, CrossTermsUseTheNeighboursAcrossTheFace) {
    CStep s(CTestModel().Grid(3, 3, {0, 1, 4}, {0, 2, 7}).Mobile(0, 0, 0).Fixed(0, 0));
    s.Coef(1, 1)[2] = 0.6;
    s.State(1, 0, 7) = 1.0;
    s.State(1, 2, 7) = 3.0;
    s.State(0, 1, 7) = 5.0;
    s.State(2, 1, 7) = 2.0;
    s.Step(0.1);
    const double fRow = -(3.0 - 1.0) * 0.3 * 0.6 / 7.0; // across the columns, 7 - 0
    const double fCol = -(2.0 - 5.0) * 0.3 * 0.6 / 4.0; // across the rows, 4 - 0
    EXPECT_NEAR(s.Delta(1, 1, 7), -fRow * 0.1 / 2.0 / 0.3 - fCol * 0.1 / 3.5 / 0.3, 1e-15);
    EXPECT_NEAR(s.Delta(2, 1, 7), fRow * 0.1 / 3.0 / 0.3, 1e-15);
    EXPECT_NEAR(s.Delta(1, 2, 7), fCol * 0.1 / 5.0 / 0.3, 1e-15);
    for (int n : {0, 2, 3, 6, 8})
        EXPECT_EQ(s.Delta(n / 3, n % 3, 7), 0.0) << "node " << n;
}

TEST(Transport, SinksLoseSoluteSourcesGainNoneImmobileStays) {
    CTestModel model = TwoNodes(0.0, 0.0);
    model.nImmobile = 1;
    model.nMobile = 2;
    CStep s(model);
    s.State(0, 0, SLOT_SOURCE) = -0.5;
    s.State(0, 1, SLOT_SOURCE) = 0.5;
    for (int j = 0; j < 2; ++j) {
        s.State(0, j, 7) = 9.0; // immobile
        s.State(0, j, 8) = 2.0;
        s.State(0, j, 9) = 4.0;
    }
    s.Step(0.2);
    EXPECT_EQ(s.Delta(0, 0, 8), 2.0 * -0.5 * 0.2);
    EXPECT_EQ(s.Delta(0, 0, 9), 4.0 * -0.5 * 0.2);
    EXPECT_EQ(s.Delta(0, 0, 7), 0.0) << "immobile entries are not transported";
    EXPECT_EQ(s.Delta(0, 1, 8), 0.0);
    EXPECT_EQ(s.Delta(0, 1, 9), 0.0);
}

// Without sinks the step only moves solute: the pore-volume weighted sum of
// the changes is zero.
TEST(Transport, FacesConserveMass) {
    CStep s(CTestModel()
                .Grid(4, 5, {0, 1, 3, 3.5}, {0, 2, 2.5, 4, 8})
                .Mobile(1, 0.2, 0.01)
                .Set(0, 0, SLOT_HEAD, 10)
                .Set(2, 2, SLOT_KROW, 5)
                .Fixed(0, 0)
                .Fixed(3, 4));
    for (int n = 0; n < 20; ++n)
        s.State(n / 5, n % 5, 7) = std::fmod(n * 0.37, 1.0);
    s.State(0, 0, SLOT_SOURCE) = s.State(3, 4, SLOT_SOURCE) = 0.0;
    s.Step(0.05);
    double sum = 0.0, scale = 0.0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 5; ++j) {
            const double v = s.sim.m_grid.m_rowWidth.get()[i] * s.sim.m_grid.m_colWidth.get()[j] *
                             0.3 * s.Delta(i, j, 7);
            sum += v;
            scale += std::fabs(v);
        }
    EXPECT_GT(scale, 0.0);
    EXPECT_NEAR(sum, 0.0, 1e-13 * scale);
}

// Injected water: at each injected node whose source is positive every
// injected entry gains c_in x source x dt on top of the faces and the sinks,
// and nothing else changes; the same bits for every number of threads.
struct CInjectCase {
    const char* name;
    int threads;
    double turnedSource; // the source of node (0, 1) at the start of the step
    ETransportScheme scheme;
};

class Injection : public ::testing::TestWithParam<CInjectCase> {};

TEST_P(Injection, AddsTheLoadOfTheInflowAtItsNodesOnly) {
    // 3 x 4 nodes, flow from the held head at (0, 0) to the one at (2, 3);
    // (0, 1) and the rectangle (1..2, 1..2) take water in, (1, 0) is a sink.
    CTestModel model = CTestModel()
                           .Grid(3, 4, {0, 1, 3}, {0, 2, 2.5, 4})
                           .Mobile(1, 0.2, 0.01)
                           .Mobile(0.5, 0.1, 0)
                           .Set(0, 0, SLOT_HEAD, 10)
                           .Set(0, 1, SLOT_SOURCE, 0.5)
                           .Set(1, 0, SLOT_SOURCE, -0.25)
                           .Fixed(0, 0)
                           .Fixed(2, 3);
    model.nImmobile = 1;
    for (int i = 1; i <= 2; ++i)
        for (int j = 1; j <= 2; ++j)
            model.Set(i, j, SLOT_SOURCE, 0.125 * (i + j));
    CStep s(model);
    for (int n = 0; n < 12; ++n)
        for (int k = 7; k < 10; ++k)
            s.State(n / 4, n % 4, k) = std::fmod(n * 0.37 + k, 2.0);
    s.State(0, 1, SLOT_SOURCE) = GetParam().turnedSource;
    ReadExtension(s.sim,
                  "[[inject]]\nnodes = [[0, 1]]\nconcentration = { mobile_0 = 3 }\n"
                  "[[inject]]\nrectangle = [1, 1, 2, 2]\n"
                  "concentration = { mobile_1 = 2, mobile_0 = 0.5 }\n",
                  "m.kvx");
    s.sim.m_ext.m_scheme = GetParam().scheme;
    if (GetParam().scheme != ETransportScheme::DEFAULT)
        PrepareUpstreamWork(s.sim);
    const double dt = 0.05;
    s.sim.m_nThreads = GetParam().threads;
    const CInjection inject = s.sim.m_ext.m_inject;
    s.sim.m_ext.m_inject = CInjection();
    s.Step(dt);
    const std::vector<double> without(s.sim.m_transportDelta,
                                      s.sim.m_transportDelta + s.sim.m_nValues);
    s.sim.m_ext.m_inject = inject;
    s.Step(dt);
    // entry 8 (mobile_0), entry 9 (mobile_1): c_in at each node
    const auto load = [&](int i, int j, int k) {
        const double source = s.State(i, j, SLOT_SOURCE);
        if (!(source > 0.0))
            return 0.0;
        if (i == 0 && j == 1)
            return k == 8 ? 3.0 * source * dt : 0.0;
        if (i >= 1 && i <= 2 && j >= 1 && j <= 2)
            return (k == 8 ? 0.5 : 2.0) * source * dt;
        return 0.0;
    };
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 10; ++k) {
                const double added = k >= 8 ? load(i, j, k) : 0.0;
                EXPECT_EQ(s.Delta(i, j, k), without[ToSize(s.Index(i, j, k))] + added)
                    << "node (" << i << ", " << j << "), entry " << k;
            }
    EXPECT_GT(load(2, 2, 9), 0.0);
    if (GetParam().threads == 1)
        return;
    const std::vector<double> gathered(s.sim.m_transportDelta,
                                       s.sim.m_transportDelta + s.sim.m_nValues);
    s.sim.m_nThreads = 1;
    s.Step(dt);
    EXPECT_EQ(
        0, std::memcmp(gathered.data(), s.sim.m_transportDelta, gathered.size() * sizeof(double)));
}

const CInjectCase INJECT_CASES[] = {
    {"one_thread", 1, 0.5, ETransportScheme::DEFAULT},
    {"two_threads", 2, 0.5, ETransportScheme::DEFAULT},
    {"three_threads", 3, 0.5, ETransportScheme::DEFAULT},
    {"symmetric", 1, 0.5, ETransportScheme::SYMMETRIC},
    {"tvd_two_threads", 2, 0.5, ETransportScheme::TVD},
    // A reaction may turn a source: a node that no longer takes water in
    // gets nothing, and a sink loses solute as any sink does.
    {"source_turned_zero", 1, 0.0, ETransportScheme::DEFAULT},
    {"source_turned_sink", 2, -0.5, ETransportScheme::DEFAULT},
};

INSTANTIATE_TEST_SUITE_P(Transport, Injection, ::testing::ValuesIn(INJECT_CASES),
                         [](const ::testing::TestParamInfo<CInjectCase>& p) {
                             return std::string(p.param.name);
                         });

// A value from the range, now and then exactly 0 or -0, so that both signs
// of the flux and the zero tests of the step are met.
double Sometimes0(double lo, double hi, std::mt19937_64& random) {
    const unsigned pick = random() % 8;
    return pick == 0   ? 0.0
           : pick == 1 ? -0.0
                       : std::uniform_real_distribution<double>(lo, hi)(random);
}

// Random states, fluxes and coefficients on grids of many shapes: with 1, 2
// and 3 threads, and columns taken in lanes of 1, 2, 4 and 8 (where the
// processor has them), the gather writes every value with the face loops'
// bits. 9 and 18 columns fill lanes of eight exactly (column faces, then
// nodes away from the edges).
TEST(Transport, TheThreadsGatherTheFaceLoopsBitForBit) {
    const int shapes[][4] = {{1, 1, 0, 1},  {1, 7, 0, 2},  {7, 1, 1, 1},  {2, 2, 0, 3},
                             {3, 5, 2, 2},  {6, 4, 1, 3},  {13, 9, 0, 2}, {4, 6, 2, 0},
                             {5, 23, 1, 3}, {3, 10, 0, 1}, {4, 18, 1, 2}, {9, 41, 3, 1}};
    std::mt19937_64 random(20240611);
    for (const auto& shape : shapes) {
        for (int trial = 0; trial < 4; ++trial) {
            CTestModel model;
            model.rows = shape[0];
            model.cols = shape[1];
            model.nImmobile = shape[2];
            model.nMobile = shape[3];
            model.conductivity = 0.0; // no fixed head; the fluxes are set below
            std::uniform_real_distribution<double> spacing(0.5, 3.0);
            for (int i = 0; i < model.rows; ++i)
                model.rowCoord.push_back(i ? model.rowCoord.back() + spacing(random) : -4);
            for (int j = 0; j < model.cols; ++j)
                model.colCoord.push_back(j ? model.colCoord.back() + spacing(random) : -4);
            CStep s(model);
            CSimulation& sim = s.sim;
            for (int n = 0; n < sim.m_nNodes; ++n) {
                double* node = sim.m_state + n * sim.m_nComp;
                // Heads the step never reads: a value written past a node's
                // entries into its neighbour's shows.
                node[SLOT_HEAD] = Sometimes0(1, 9, random);
                node[SLOT_SOURCE] = Sometimes0(-1, 1, random);
                node[SLOT_POROSITY] = std::uniform_real_distribution<double>(0.05, 0.5)(random);
                node[SLOT_FLUXROW] = Sometimes0(-3, 3, random);
                node[SLOT_FLUXCOL] = Sometimes0(-3, 3, random);
                for (int k = SLOT_COUNT; k < sim.m_nComp; ++k)
                    node[k] = Sometimes0(0, 10, random);
                for (int m = 0; m < sim.m_nMobile; ++m) {
                    double* c = sim.m_dispCoef.get() + 3 * (n * sim.m_nMobile + m);
                    c[0] = Sometimes0(0, 5, random);
                    c[1] = Sometimes0(0, 5, random);
                    c[2] = Sometimes0(-2, 2, random);
                }
            }
            s.Step(std::uniform_real_distribution<double>(0.01, 0.7)(random));
            // The step written plainly, loop by loop, from the step's start.
            TransportStepFaceLoops(sim);
            const std::vector<double> serial(sim.m_transportDelta,
                                             sim.m_transportDelta + sim.m_nValues);
            // One thread runs the gather on large grids: called here directly.
            for (int lanes : {1, 2, 4, 8}) {
                SetGatherLanes(lanes);
                for (int threads : {1, 2, 3}) {
                    for (int t = 0; t < sim.m_nValues; ++t)
                        sim.m_transportDelta[t] = 1e300; // stale: the gather must write them all
                    sim.m_nThreads = threads;
                    if (threads == 1)
                        TransportStepGather(sim);
                    else
                        s.Transport();
                    for (int t = 0; t < sim.m_nValues; ++t)
                        ASSERT_EQ(std::memcmp(&serial[ToSize(t)], &sim.m_transportDelta[t],
                                              sizeof(double)),
                                  0)
                            << shape[0] << " x " << shape[1] << ", trial " << trial << ", "
                            << threads << " threads, lanes of " << GatherLanes() << ": value " << t
                            << " is " << sim.m_transportDelta[t] << " instead of "
                            << serial[ToSize(t)];
                }
            }
            SetGatherLanes(0);
        }
    }
}

} // namespace
