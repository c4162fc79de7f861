// The per-node gather of the transport step against the face loops: the same
// bits for every value, on random models of many shapes.
#include "flow/heads.h"
#include "flow/transport.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "support/model_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

using namespace kova_test;

namespace {

struct CShape {
    int rows;
    int cols;
    int nImmobile;
    int nMobile;
};

// Uneven coordinates: spacings from 0.5 to 3.
std::vector<double> Coords(int count, std::mt19937_64& random) {
    std::uniform_real_distribution<double> spacing(0.5, 3.0);
    std::vector<double> coords(count);
    double x = -4.0;
    for (double& c : coords) {
        c = x;
        x += spacing(random);
    }
    return coords;
}

// A value from the range, now and then exactly 0 (or -0), so that both signs
// of the flux and the zero tests of the step are met.
double Sometimes0(std::uniform_real_distribution<double>& range, std::mt19937_64& random) {
    const unsigned pick = random() % 8;
    if (pick == 0)
        return 0.0;
    if (pick == 1)
        return -0.0;
    return range(random);
}

// Loads a model of the shape and fills its start state and transport
// coefficients with random values.
void LoadRandom(CSimulation& sim, const CShape& shape, std::mt19937_64& random) {
    CTestModel model;
    model.rows = shape.rows;
    model.cols = shape.cols;
    model.nImmobile = shape.nImmobile;
    model.nMobile = shape.nMobile;
    model.rowCoord = Coords(shape.rows, random);
    model.colCoord = Coords(shape.cols, random);
    model.conductivity = 0.0; // no fixed head; the fluxes are set below
    LoadModel(sim, model);
    InitHeads(sim); // the cell widths

    std::uniform_real_distribution<double> conc(0.0, 10.0);
    std::uniform_real_distribution<double> flux(-3.0, 3.0);
    std::uniform_real_distribution<double> porosity(0.05, 0.5);
    std::uniform_real_distribution<double> source(-1.0, 1.0);
    std::uniform_real_distribution<double> coef(0.0, 5.0);
    std::uniform_real_distribution<double> cross(-2.0, 2.0);
    for (int n = 0; n < sim.m_nNodes; ++n) {
        double* node = sim.m_state + static_cast<size_t>(n) * sim.m_nComp;
        node[SLOT_SOURCE] = Sometimes0(source, random);
        node[SLOT_POROSITY] = porosity(random);
        node[SLOT_FLUXROW] = Sometimes0(flux, random);
        node[SLOT_FLUXCOL] = Sometimes0(flux, random);
        for (int k = SLOT_COUNT; k < sim.m_nComp; ++k)
            node[k] = Sometimes0(conc, random);
        for (int m = 0; m < sim.m_nMobile; ++m) {
            double* c = sim.m_dispCoef.get() + 3 * (static_cast<size_t>(n) * sim.m_nMobile + m);
            c[0] = Sometimes0(coef, random);
            c[1] = Sometimes0(coef, random);
            c[2] = Sometimes0(cross, random);
        }
    }
    sim.m_globalStep = std::uniform_real_distribution<double>(0.01, 0.7)(random);
}

// The index of the first value whose bits differ, or -1.
int FirstDifference(const std::vector<double>& a, const double* b) {
    for (size_t t = 0; t < a.size(); ++t)
        if (std::memcmp(&a[t], &b[t], sizeof(double)) != 0)
            return static_cast<int>(t);
    return -1;
}

TEST(TransportGather, MatchesTheFaceLoopsBitForBit) {
    const CShape shapes[] = {{1, 1, 0, 1}, {1, 7, 0, 2}, {7, 1, 1, 1},  {2, 2, 0, 3},
                             {3, 5, 2, 2}, {6, 4, 1, 3}, {13, 9, 0, 2}, {4, 6, 2, 0}};
    std::mt19937_64 random(20240611);
    for (const CShape& shape : shapes) {
        for (int trial = 0; trial < 4; ++trial) {
            CRunControl control("m");
            CSimulation sim(&control);
            LoadRandom(sim, shape, random);

            sim.m_nThreads = 1;
            TransportStep(sim); // the face loops
            const std::vector<double> serial(sim.m_transportDelta,
                                             sim.m_transportDelta + sim.m_nValues);
            for (int threads : {1, 2, 3}) {
                // Stale values everywhere: the gather must write every value.
                for (int t = 0; t < sim.m_nValues; ++t)
                    sim.m_transportDelta[t] = 1e300;
                sim.m_nThreads = threads;
                TransportStepGather(sim);
                const int t = FirstDifference(serial, sim.m_transportDelta);
                EXPECT_EQ(t, -1) << shape.rows << " x " << shape.cols << " grid, "
                                 << shape.nImmobile << " immobile, " << shape.nMobile
                                 << " mobile, trial " << trial << ", " << threads
                                 << " threads: value " << t << " (node " << t / sim.m_nComp
                                 << ", entry " << t % sim.m_nComp << ") is "
                                 << sim.m_transportDelta[t] << " instead of " << serial[t];
            }
        }
    }
}

// The two ways called by name agree as well, and a change somewhere shows up.
TEST(TransportGather, NamedStepsAgreeOnAPlume) {
    CRunControl control("m");
    CSimulation sim(&control);
    std::mt19937_64 random(7);
    LoadRandom(sim, {9, 11, 1, 2}, random);
    TransportStepFaceLoops(sim);
    const std::vector<double> loops(sim.m_transportDelta, sim.m_transportDelta + sim.m_nValues);
    sim.m_nThreads = 2;
    TransportStepGather(sim);
    EXPECT_EQ(FirstDifference(loops, sim.m_transportDelta), -1);
    bool moved = false;
    for (double d : loops)
        moved = moved || d != 0.0;
    EXPECT_TRUE(moved);
}

} // namespace
