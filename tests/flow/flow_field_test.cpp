#include "flow/flow_field.h"

#include "flow/heads.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "support/model_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kova_test;

namespace {

double& Slot(CSimulation& sim, int i, int j, int k) {
    return sim.m_stateNew[static_cast<size_t>(i * sim.m_nCols + j) * sim.m_nComp + k];
}

const double* Coef(const CSimulation& sim, int i, int j, int s) {
    return sim.m_dispCoef.get() + 3 * ((i * sim.m_nCols + j) * sim.m_nMobile + s);
}

TEST(Dispersion, DiagonalAndCrossTermsOfTheTensor) {
    // |q| = 5: (1 x 9 + 0.1 x 16) / (5 x 0.5) and 0.9 x 12 / 2.5.
    EXPECT_NEAR(DispersionDiagonal(1.0, 0.1, 3.0, 4.0, 0.5), 4.24, 1e-14);
    EXPECT_NEAR(DispersionDiagonal(1.0, 0.1, 4.0, 3.0, 0.5), 6.76, 1e-14);
    EXPECT_NEAR(DispersionCross(1.0, 0.1, 3.0, 4.0, 0.5), 4.32, 1e-14);
    EXPECT_NEAR(DispersionCross(1.0, 0.1, -3.0, 4.0, 0.5), -4.32, 1e-14);
    // Along a single flux component the diagonal is alphaL |q| / theta.
    EXPECT_NEAR(DispersionDiagonal(2.0, 0.1, -3.0, 0.0, 0.5), 12.0, 1e-14);
    EXPECT_EQ(DispersionDiagonal(1.0, 0.1, 0.0, 0.0, 0.5), 0.0);
    EXPECT_EQ(DispersionCross(1.0, 0.1, 0.0, 0.0, 0.5), 0.0);
}

TEST(FaceFlux, HarmonicMeanConductivityTimesHeadGradient) {
    CTestModel model;
    model.cols = 2;
    model.overrides = {{0, 0, SLOT_HEAD, 7.0},
                       {0, 1, SLOT_HEAD, 3.0},
                       {0, 0, SLOT_KCOL, 1.0},
                       {0, 1, SLOT_KCOL, 3.0}};
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModel(sim, model);
    const int a = 0;
    const int b = sim.m_nComp;
    // Harmonic mean 2 x 3 x 1 / 4 = 1.5; gradient 4 / 2.
    EXPECT_EQ(FaceFlux(sim, a, b, 2.0, SLOT_KCOL), 3.0);
    EXPECT_EQ(FaceFlux(sim, b, a, 2.0, SLOT_KCOL), -3.0);
    Slot(sim, 0, 1, SLOT_KCOL) = 0.0;
    EXPECT_EQ(FaceFlux(sim, a, b, 2.0, SLOT_KCOL), 0.0);
    EXPECT_EQ(FaceFlux(sim, a, b, 2.0, SLOT_KROW), 2.0) << "row conductivities 1 and 1";
}

// One row, two columns at 0 and 10, heads 10 and 0, conductivities 1,
// porosity 0.3, one mobile component with alphaL 1, alphaT 0.1, Dm 0.
TEST(FlowField, TwoNodeExample) {
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModelText(sim, TWO_NODE_MODEL);
    InitHeads(sim);
    ComputeFlowField(sim);

    EXPECT_EQ(Slot(sim, 0, 0, SLOT_FLUXCOL), 1.0);
    EXPECT_EQ(Slot(sim, 0, 0, SLOT_FLUXROW), 0.0);
    EXPECT_EQ(Slot(sim, 0, 1, SLOT_FLUXCOL), 0.0);
    const double* first = Coef(sim, 0, 0, 0);
    EXPECT_EQ(first[0], 0.0);
    EXPECT_NEAR(first[1], 1.0 / 0.3, 1e-12 / 0.3);
    EXPECT_EQ(first[2], 0.0);
    const double* second = Coef(sim, 0, 1, 0);
    EXPECT_EQ(second[0], 0.0);
    EXPECT_EQ(second[1], 0.0);
    EXPECT_EQ(second[2], 0.0);
}

// One row: no row faces; Drr is Dm at the first node and 0 elsewhere, Dcc is
// alphaL |qc| / theta + Dm everywhere.
TEST(FlowField, OneRowGrid) {
    CTestModel model;
    model.cols = 3;
    model.nMobile = 1;
    model.transport = {{2.0, 0.5, 0.01}};
    model.colCoord = {0.0, 4.0, 6.0};
    model.overrides = {{0, 0, SLOT_HEAD, 6.0}, {0, 1, SLOT_HEAD, 4.0}, {0, 2, SLOT_HEAD, 3.0}};
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModel(sim, model);
    sim.m_rowWidth[0] = 1.0; // as InitHeads would leave them
    ComputeFlowField(sim);

    const double qc[] = {0.5, 0.5, 0.0};
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(Slot(sim, 0, j, SLOT_FLUXROW), 0.0) << j;
        EXPECT_EQ(Slot(sim, 0, j, SLOT_FLUXCOL), qc[j]) << j;
        const double* c = Coef(sim, 0, j, 0);
        EXPECT_EQ(c[0], j == 0 ? 0.01 : 0.0) << "Drr at " << j;
        EXPECT_NEAR(c[1], 2.0 * qc[j] / 0.3 + 0.01, 1e-14) << "Dcc at " << j;
        EXPECT_EQ(c[2], 0.0) << "Drc at " << j;
    }
}

TEST(FlowField, EqualHeadsLeavePureDiffusion) {
    CTestModel model;
    model.rows = 2;
    model.cols = 3;
    model.nMobile = 2;
    model.transport = {{1.0, 0.1, 0.25}, {3.0, 0.3, 0.5}};
    model.defaults = {4.0, 0, 0.3, 1, 1, 0, 0, 0, 0};
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModel(sim, model);
    ComputeFlowField(sim);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j)
            for (int s = 0; s < 2; ++s) {
                const double* c = Coef(sim, i, j, s);
                const double dm = model.transport[s][2];
                EXPECT_EQ(c[0], dm) << i << " " << j << " " << s;
                EXPECT_EQ(c[1], dm) << i << " " << j << " " << s;
                EXPECT_EQ(c[2], 0.0) << i << " " << j << " " << s;
            }
}

// Heads falling along both axes: fluxes in both directions. The first row's
// Dcc ignores the row flux and the first column's Drr the column flux; inner
// nodes use both components of their own faces.
TEST(FlowField, FirstRowAndColumnUseOneFluxComponent) {
    CTestModel model;
    model.rows = 3;
    model.cols = 3;
    model.nMobile = 1;
    model.transport = {{1.0, 0.2, 0.05}};
    model.rowCoord = {0.0, 1.0, 3.0};
    model.colCoord = {0.0, 2.0, 3.0};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            model.overrides.push_back(
                {i, j, SLOT_HEAD, 20.0 - 3.0 * model.rowCoord[i] - model.colCoord[j]});
    CRunControl control("m");
    CSimulation sim(&control);
    LoadModel(sim, model);
    ComputeFlowField(sim);

    const double aL = 1.0, aT = 0.2, dm = 0.05, theta = 0.3;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const double qr = Slot(sim, i, j, SLOT_FLUXROW);
            const double qc = Slot(sim, i, j, SLOT_FLUXCOL);
            EXPECT_EQ(qr, i < 2 ? 3.0 : 0.0) << i << " " << j;
            EXPECT_EQ(qc, j < 2 ? 1.0 : 0.0) << i << " " << j;
            const double* c = Coef(sim, i, j, 0);
            const double drr = j == 0 ? DispersionDiagonal(aL, aT, qr, 0.0, theta) + dm
                                      : DispersionDiagonal(aL, aT, qr, qc, theta) + dm;
            const double dcc = i == 0 ? DispersionDiagonal(aL, aT, qc, 0.0, theta) + dm
                                      : DispersionDiagonal(aL, aT, qc, qr, theta) + dm;
            EXPECT_EQ(c[0], drr) << "Drr at " << i << " " << j;
            EXPECT_EQ(c[1], dcc) << "Dcc at " << i << " " << j;
            EXPECT_EQ(c[2], DispersionCross(aL, aT, qr, qc, theta)) << "Drc at " << i << " " << j;
        }
    }
    // Spot values: inner node (1, 1) with qr 3, qc 1, |q| = sqrt(10).
    EXPECT_NEAR(Coef(sim, 1, 1, 0)[0], (9.0 + 0.2) / (std::sqrt(10.0) * 0.3) + 0.05, 1e-13);
    EXPECT_NEAR(Coef(sim, 0, 1, 0)[1], 1.0 / 0.3 + 0.05, 1e-13);
    EXPECT_NEAR(Coef(sim, 1, 0, 0)[0], 3.0 / 0.3 + 0.05, 1e-13);
}

} // namespace
