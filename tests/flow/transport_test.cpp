#include "flow/flow_field.h"
#include "flow/heads.h"
#include "flow/transport.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "support/model_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kova_test;

namespace {

// A model whose m_state is set by hand: the state at the start of the step.
class TransportTest : public ::testing::Test {
protected:
    void Load(const CTestModel& model) {
        LoadModel(m_sim, model);
        InitHeads(m_sim);
        ComputeFlowField(m_sim);
        for (int t = 0; t < m_sim.m_nValues; ++t)
            m_sim.m_state[t] = m_sim.m_stateNew[t];
    }
    double& State(int i, int j, int k) { return m_sim.m_state[Index(i, j, k)]; }
    double Delta(int i, int j, int k) const { return m_sim.m_transportDelta[Index(i, j, k)]; }
    int Index(int i, int j, int k) const { return (i * m_sim.m_nCols + j) * m_sim.m_nComp + k; }
    double* Coef(int i, int j) { return m_sim.m_dispCoef.get() + 3 * (i * m_sim.m_nCols + j); }

    CRunControl m_control{"m"};
    CSimulation m_sim{&m_control};
};

// Two nodes at 0 and 10 joined by a flux of q; the rest of the model as the
// two-node example, without dispersion unless the test sets it.
CTestModel TwoNodes(double headA, double headB) {
    CTestModel model;
    model.cols = 2;
    model.nMobile = 1;
    model.transport = {{0.0, 0.0, 0.0}};
    model.colCoord = {0.0, 10.0};
    model.overrides = {{0, 0, SLOT_HEAD, headA}, {0, 1, SLOT_HEAD, headB}};
    model.fixedHeads = {{0, 0}, {0, 1}};
    return model;
}

TEST_F(TransportTest, TwoNodeExampleMovesThirtySevenEighteenHundredths) {
    LoadModelText(m_sim, TWO_NODE_MODEL);
    InitHeads(m_sim);
    ComputeFlowField(m_sim);
    for (int t = 0; t < m_sim.m_nValues; ++t)
        m_sim.m_state[t] = m_sim.m_stateNew[t];
    // The second node is a sink; without solute there it loses nothing.
    TransportStep(m_sim);

    // F = 37/60 across the face, spread over width 10 and porosity 0.3.
    EXPECT_NEAR(Delta(0, 0, 7), -37.0 / 1800.0, 1e-12 * 37.0 / 1800.0);
    EXPECT_NEAR(Delta(0, 1, 7), 37.0 / 1800.0, 1e-12 * 37.0 / 1800.0);
    for (int j = 0; j < 2; ++j)
        for (int k = 0; k < 7; ++k)
            EXPECT_EQ(Delta(0, j, k), 0.0) << "hydraulic slot " << k << " of node " << j;
}

// q > 0, c(a) = 1, c(b) = 0: F = q/2 + q^2 dt / (2 theta_f d).
TEST_F(TransportTest, ForwardFluxIsCentralPlusLaxWendroff) {
    Load(TwoNodes(10.0, 0.0)); // q = 1
    State(0, 0, 7) = 1.0;
    State(0, 1, SLOT_SOURCE) = 0.0;
    m_sim.m_globalStep = 0.5;
    TransportStep(m_sim);
    const double f = 0.5 + 1.0 * 0.5 / (2.0 * 0.3 * 10.0);
    EXPECT_NEAR(Delta(0, 0, 7), -f * 0.5 / 10.0 / 0.3, 1e-15);
    EXPECT_NEAR(Delta(0, 1, 7), f * 0.5 / 10.0 / 0.3, 1e-15);
}

// q < 0, c(a) = 0, c(b) = 1: F = 1.5 q - q^2 dt / (2 theta_f d); solute moves
// from b to a.
TEST_F(TransportTest, BackwardFluxTakesTheUpstreamNodeAndTheSignedHalfDifference) {
    Load(TwoNodes(0.0, 20.0)); // q = -2
    State(0, 1, 7) = 1.0;
    State(0, 0, SLOT_SOURCE) = 0.0;
    m_sim.m_globalStep = 0.25;
    TransportStep(m_sim);
    const double q = -2.0;
    const double f = 1.5 * q - q * q * 0.25 / (2.0 * 0.3 * 10.0);
    EXPECT_LT(f, 0.0);
    EXPECT_NEAR(Delta(0, 0, 7), -f * 0.25 / 10.0 / 0.3, 1e-15);
    EXPECT_NEAR(Delta(0, 1, 7), f * 0.25 / 10.0 / 0.3, 1e-15);
}

// Fickian dispersion with node a's coefficient and the face's mean porosity;
// the change divides by each node's own porosity and width.
TEST_F(TransportTest, DispersionUsesTheMeanPorosityAndEachNodesWidth) {
    CTestModel model = TwoNodes(0.0, 0.0);
    model.cols = 3;
    model.colCoord = {0.0, 4.0, 10.0};
    model.overrides = {{0, 1, SLOT_POROSITY, 0.2}};
    model.fixedHeads = {{0, 0}}; // all heads 0: no flow
    Load(model);
    Coef(0, 0)[1] = 2.0; // Dcc of node a only
    Coef(0, 1)[1] = 0.0;
    State(0, 0, 7) = 3.0;
    State(0, 1, 7) = 1.0;
    m_sim.m_globalStep = 0.1;
    TransportStep(m_sim);
    const double thetaF = (0.3 + 0.2) * 0.5;
    const double f = (1.0 - 3.0) * (0.0 - thetaF * 2.0 / 4.0);
    EXPECT_NEAR(Delta(0, 0, 7), -f * 0.1 / 4.0 / 0.3, 1e-15) << "width 4, porosity 0.3";
    EXPECT_NEAR(Delta(0, 1, 7), f * 0.1 / 5.0 / 0.2, 1e-15) << "width 5, porosity 0.2";
    EXPECT_EQ(Delta(0, 2, 7), 0.0);
}

// Only the centre node has a cross coefficient; every other term is zero, so
// the two faces whose node a is the centre carry the central differences
// across the centre's neighbours on the other axis.
TEST_F(TransportTest, CrossTermsUseTheNeighboursAcrossTheFace) {
    CTestModel model;
    model.rows = 3;
    model.cols = 3;
    model.nMobile = 1;
    model.transport = {{0.0, 0.0, 0.0}};
    model.rowCoord = {0.0, 1.0, 4.0};
    model.colCoord = {0.0, 2.0, 7.0};
    model.fixedHeads = {{0, 0}}; // all heads 0: no flow
    Load(model);
    Coef(1, 1)[2] = 0.6;
    State(1, 0, 7) = 1.0;
    State(1, 2, 7) = 3.0;
    State(0, 1, 7) = 5.0;
    State(2, 1, 7) = 2.0;
    m_sim.m_globalStep = 0.1;
    TransportStep(m_sim);

    // Row face (1, 1) -> (2, 1): difference along the columns over 7 - 0.
    const double fRow = -(3.0 - 1.0) * 0.3 * 0.6 / 7.0;
    // Column face (1, 1) -> (1, 2): difference along the rows over 4 - 0.
    const double fCol = -(2.0 - 5.0) * 0.3 * 0.6 / 4.0;
    const double rowW1 = (4.0 - 0.0) * 0.5, rowW2 = 3.0, colW1 = (7.0 - 0.0) * 0.5, colW2 = 5.0;
    EXPECT_NEAR(Delta(1, 1, 7), -fRow * 0.1 / rowW1 / 0.3 - fCol * 0.1 / colW1 / 0.3, 1e-15);
    EXPECT_NEAR(Delta(2, 1, 7), fRow * 0.1 / rowW2 / 0.3, 1e-15);
    EXPECT_NEAR(Delta(1, 2, 7), fCol * 0.1 / colW2 / 0.3, 1e-15);
    for (int n : {0, 2, 3, 6, 8})
        EXPECT_EQ(Delta(n / 3, n % 3, 7), 0.0) << "node " << n;
}

TEST_F(TransportTest, SinksLoseSoluteSourcesGainNone) {
    CTestModel model = TwoNodes(0.0, 0.0);
    model.nImmobile = 1;
    model.nMobile = 2;
    model.transport = {{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
    Load(model);
    State(0, 0, SLOT_SOURCE) = -0.5;
    State(0, 1, SLOT_SOURCE) = 0.5;
    for (int j = 0; j < 2; ++j) {
        State(0, j, 7) = 9.0; // immobile
        State(0, j, 8) = 2.0;
        State(0, j, 9) = 4.0;
    }
    m_sim.m_globalStep = 0.2;
    TransportStep(m_sim);
    EXPECT_EQ(Delta(0, 0, 8), 2.0 * -0.5 * 0.2);
    EXPECT_EQ(Delta(0, 0, 9), 4.0 * -0.5 * 0.2);
    EXPECT_EQ(Delta(0, 0, 7), 0.0) << "immobile entries are not transported";
    EXPECT_EQ(Delta(0, 1, 8), 0.0);
    EXPECT_EQ(Delta(0, 1, 9), 0.0);
}

// Without sinks the step only moves solute: the pore volume weighted sum of
// the changes is zero.
TEST_F(TransportTest, FacesConserveMass) {
    CTestModel model;
    model.rows = 4;
    model.cols = 5;
    model.nMobile = 1;
    model.transport = {{1.0, 0.2, 0.01}};
    model.rowCoord = {0.0, 1.0, 3.0, 3.5};
    model.colCoord = {0.0, 2.0, 2.5, 4.0, 8.0};
    model.overrides = {{0, 0, SLOT_HEAD, 10.0}, {3, 4, SLOT_HEAD, 0.0}, {2, 2, SLOT_KROW, 5.0}};
    model.fixedHeads = {{0, 0}, {3, 4}};
    Load(model);
    for (int n = 0; n < 20; ++n)
        State(n / 5, n % 5, 7) = std::fmod(n * 0.37, 1.0);
    // Keep the fixed nodes' sources out of the balance.
    State(0, 0, SLOT_SOURCE) = 0.0;
    State(3, 4, SLOT_SOURCE) = 0.0;
    m_sim.m_globalStep = 0.05;
    TransportStep(m_sim);
    double sum = 0.0, scale = 0.0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 5; ++j) {
            const double v = m_sim.m_rowWidth[i] * m_sim.m_colWidth[j] * State(i, j, SLOT_POROSITY);
            sum += Delta(i, j, 7) * v;
            scale += std::fabs(Delta(i, j, 7) * v);
        }
    EXPECT_GT(scale, 0.0);
    EXPECT_NEAR(sum, 0.0, 1e-13 * scale);
}

// Results are compared bit for bit with other builds: the face flux keeps
// its grouping, and a node's change sums its row faces, then its column
// faces, then its sink term.
TEST_F(TransportTest, FaceFluxGroupingAndAccumulationOrderAreExact) {
    CTestModel model;
    model.rows = 3;
    model.cols = 3;
    model.nMobile = 1;
    model.transport = {{0.0, 0.0, 0.0}};
    model.rowCoord = {0.0, 1.3, 2.9};
    model.colCoord = {0.0, 0.7, 2.3};
    model.overrides = {{1, 1, SLOT_POROSITY, 0.27}, {2, 1, SLOT_POROSITY, 0.41}};
    model.fixedHeads = {{0, 0}}; // all heads 0; the one flux is set below
    Load(model);
    const double q = 0.41, dt = 0.013;
    m_sim.m_globalStep = dt;
    State(1, 1, SLOT_FLUXROW) = q; // face (1, 1) -> (2, 1)
    State(1, 1, SLOT_SOURCE) = -0.0123;
    double* coef = Coef(1, 1);
    coef[0] = 0.93; // Drr
    coef[1] = 0.11; // Dcc
    coef[2] = 0.29; // Drc
    const double c[3][3] = {{0.3, 0.7, 0.2}, {0.9, 0.55, 0.1}, {0.6, 0.15, 0.8}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            State(i, j, 7) = c[i][j];
    TransportStep(m_sim);

    const double ta = 0.27, tb = 0.41, tf = (ta + tb) * 0.5, d = 2.9 - 1.3;
    double f = (c[2][1] - c[1][1]) * ((q * 0.5 - tf * 0.93 / d) - q * dt * q * 0.5 / (tf * d));
    f = f - (c[1][2] - c[1][0]) * ta * 0.29 / (2.3 - 0.0);
    f = f + q * c[1][1];
    const double wa = m_sim.m_rowWidth[1], wb = m_sim.m_rowWidth[2];
    EXPECT_EQ(Delta(2, 1, 7), 0.0 + f * dt / wb / tb + 0.0);

    // Node (1, 1) also gives across its own column face and loses through its
    // sink; the faces it receives from carry nothing.
    double g = (c[1][2] - c[1][1]) * ((0.0 - (ta + 0.3) * 0.5 * 0.11 / 1.6) - 0.0);
    g = g - (c[2][1] - c[0][1]) * ta * 0.29 / (2.9 - 0.0);
    const double row = f * dt / wa / ta;
    const double col = g * dt / m_sim.m_colWidth[1] / ta;
    const double sink = c[1][1] * -0.0123 * dt;
    const double expected = ((0.0 - row) - col) + sink;
    ASSERT_NE(expected, ((0.0 - col) + sink) - row) << "values that tell the orders apart";
    EXPECT_EQ(Delta(1, 1, 7), expected);
}

// Values for which any other grouping of the face flux (the Lax-Wendroff
// term's products, the dispersion quotient, the final divisions, or the
// central form of the advection) changes the last bits of the result.
TEST_F(TransportTest, FaceFluxGroupingIsExact) {
    CTestModel model = TwoNodes(0.0, 0.0);
    model.colCoord = {0.0, 1.6};
    model.overrides = {{0, 1, SLOT_POROSITY, 0.35}};
    Load(model);
    State(0, 0, SLOT_FLUXCOL) = 1.6;
    State(0, 0, SLOT_SOURCE) = 0.0;
    State(0, 1, SLOT_SOURCE) = 0.0;
    Coef(0, 0)[1] = 1.7;
    State(0, 0, 7) = 0.087;
    State(0, 1, 7) = 0.85;
    m_sim.m_globalStep = 0.18;
    TransportStep(m_sim);
    EXPECT_EQ(Delta(0, 1, 7), 0.04759035113324177);
}

TEST_F(TransportTest, NoMobileComponentsWritesOnlyZeros) {
    CTestModel model = TwoNodes(10.0, 0.0);
    model.nMobile = 0;
    model.transport = {};
    Load(model);
    for (int t = 0; t < m_sim.m_nValues; ++t)
        m_sim.m_transportDelta[t] = 5.0;
    TransportStep(m_sim);
    for (int t = 0; t < m_sim.m_nValues; ++t)
        EXPECT_EQ(m_sim.m_transportDelta[t], 0.0) << t;
}

} // namespace
