// The implicit transport step: its steady states against the explicit
// step's and against the exact discrete answer, its failures, and the step it
// takes when the model gives none.
#include "model/extension.h"
#include "model/index.h"
#include "support/engine.h"
#include "transport/implicit_transport.h"
#include "transport/transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace kova_test;

namespace {

// A grid of rows x cols nodes 1 apart, every head held on a plane falling by
// grad along the columns (q = grad), porosity 0.25, one or two mobile
// components, after the flow field; m_state holds m_stateNew.
struct CGrid : CEngine {
    CGrid(int rows, int cols, double grad, double alphaL, double diffusion, int mobile = 1) {
        CTestModel model;
        model.Grid(rows, cols);
        for (int m = 0; m < mobile; ++m)
            model.Mobile(alphaL, alphaL, diffusion);
        model.defaults = {0, 0, 0.25, 1, 1, 0, 0};
        model.defaults.resize(ToSize(7 + mobile), 0.0);
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j)
                model.Set(i, j, SLOT_HEAD, 10.0 - grad * j).Fixed(i, j);
        Read(model);
        Heads();
        Flow();
    }
    // Copies the model's state to the step's start, as the time loop does.
    void Start() {
        for (int t = 0; t < sim.m_nValues; ++t)
            sim.m_state[t] = sim.m_stateNew.get()[t];
    }
    // Injects c of the first mobile entry at node n (its source is set).
    void Inject(int n, double source, double c) {
        sim.m_stateNew.get()[n * sim.m_nComp + SLOT_SOURCE] = source;
        CInjection& inject = sim.m_ext.m_inject;
        CInjectTable table;
        table.m_concentration = {c};
        inject.m_tables = {table};
        inject.m_entries = {sim.m_nComp - sim.m_nMobile};
        inject.m_nodes = {n};
        inject.m_nodeTable = {0};
    }
    // Steps from m_state with the transport alone; the largest change of the
    // last step.
    double Steps(int count) {
        double largest = 0.0;
        for (int step = 0; step < count; ++step) {
            StepTransport(sim);
            largest = 0.0;
            for (int t = 0; t < sim.m_nValues; ++t) {
                sim.m_state[t] += sim.m_transportDelta[t];
                const double change = std::fabs(sim.m_transportDelta[t]);
                if (!(change <= largest))
                    largest = change; // a value that is not a number stays
            }
        }
        return largest;
    }
    double C(int n) const { return sim.m_state[n * sim.m_nComp + sim.m_nComp - 1]; }
};

// Each step then makes the implicit systems anew from the state it starts
// from (StepTransport chooses the form at every step).
void MakeImplicit(CSimulation& sim, ETransportScheme scheme, double dt) {
    sim.m_ext.m_scheme = scheme;
    sim.m_ext.m_time = ETransportTime::IMPLICIT;
    sim.m_clock.m_globalStep = dt;
}

// Without flow the three schemes are one: dispersion, an injected node and
// two sinks. A few steps of 1e4 reach the steady state that the explicit step
// reaches at its stable step after thousands, to the solver's tolerance (the
// change taken from the fluxes carries the rounding of terms dt / dt_stable
// times the values: steps far beyond the run's scale would show it).
TEST(ImplicitTransport, AFewLargeStepsReachTheExplicitSteadyState) {
    for (ETransportScheme scheme :
         {ETransportScheme::DEFAULT, ETransportScheme::SYMMETRIC, ETransportScheme::TVD}) {
        CGrid exp(5, 6, 0.0, 0.0, 0.5);
        CGrid imp(5, 6, 0.0, 0.0, 0.5);
        for (CGrid* g : {&exp, &imp}) {
            g->Inject(0, 0.2, 3.0);
            g->sim.m_stateNew[ToSize(29 * g->sim.m_nComp + SLOT_SOURCE)] = -0.1;
            g->sim.m_stateNew[ToSize(15 * g->sim.m_nComp + SLOT_SOURCE)] = -0.05;
            g->Start();
        }
        exp.sim.m_ext.m_scheme = scheme;
        // Without flow the tvd rule is the dispersion's for every scheme.
        int limiting = -1;
        exp.sim.m_clock.m_globalStep = TvdStableStep(exp.sim, 1e9, &limiting);
        ASSERT_GE(limiting, 0);
        PrepareUpstreamWork(exp.sim);
        ASSERT_LT(exp.Steps(20000), 1e-13) << SchemeName(scheme);
        MakeImplicit(imp.sim, scheme, 1e4);
        imp.Steps(12);
        double top = 0.0;
        for (int n = 0; n < 30; ++n)
            top = std::max(top, exp.C(n));
        ASSERT_GT(top, 1.0);
        for (int n = 0; n < 30; ++n)
            EXPECT_NEAR(imp.C(n), exp.C(n), 1e-10 * top) << SchemeName(scheme) << " node " << n;
    }
}

// Upstream advection with no dispersion, a sink rate s at every node but the
// first, whose injected water brings c_in: the steady state is exact,
//   c_0 = c_in src w_0 theta / q,  c_j = c_(j-1) a_j / (a_j + s), a_j = |q| / (w_j theta)
// counted from the upstream end, whichever way the water flows, but for the
// last node, which has no face to pass its water on: c = c_(j-1) a_j / s.
TEST(ImplicitTransport, TheUpstreamSteadyStateIsTheExactOne) {
    const struct {
        double grad; // q along the row
        double sink;
    } rows[] = {{0.5, 0.05}, {-0.5, 0.05}, {0.25, 0.2}, {-1.0, 0.5}};
    for (const auto& row : rows) {
        const int cols = 8;
        CGrid g(1, cols, row.grad, 0.0, 0.0);
        const int first = row.grad > 0.0 ? 0 : cols - 1;
        const int dir = row.grad > 0.0 ? 1 : -1;
        const double q = std::fabs(row.grad);
        g.Inject(first, 0.2, 2.0);
        for (int j = 0; j < cols; ++j)
            if (j != first)
                g.sim.m_stateNew[ToSize(j * g.sim.m_nComp + SLOT_SOURCE)] = -row.sink;
        g.Start();
        MakeImplicit(g.sim, ETransportScheme::DEFAULT, 1e4);
        g.Steps(12);
        const double* width = g.sim.m_grid.m_colWidth.get();
        double expected = 2.0 * 0.2 * width[first] * 0.25 / q;
        for (int s = 0; s < cols; ++s) {
            const int j = first + dir * s;
            if (s > 0) {
                const double a = q / (width[j] * 0.25);
                expected = expected * a / (s == cols - 1 ? row.sink : a + row.sink);
            }
            EXPECT_NEAR(g.C(j), expected, 1e-10 * expected) << "grad " << row.grad << " node " << j;
        }
    }
}

// A square pulse carried without dispersion along a row, 20 implicit steps
// at a Courant number of 0.5 (10 cells), both ways: the deferred van Leer
// correction of tvd keeps the pulse sharper than the plain upstream step
// (the L1 distance from the exactly shifted pulse is well below upstream's),
// and both keep the pulse's mass (up to what their tails carry out of the
// row's ends, a few millionths).
TEST(ImplicitTransport, TvdKeepsAPulseSharperThanUpstreamEitherWay) {
    for (double grad : {0.5, -0.5}) {
        double error[2] = {};
        const ETransportScheme schemes[2] = {ETransportScheme::DEFAULT, ETransportScheme::TVD};
        for (int which = 0; which < 2; ++which) {
            const int cols = 80;
            CGrid g(1, cols, grad, 0.0, 0.0);
            const int k = g.sim.m_nComp - 1;
            for (int j = 35; j < 45; ++j)
                g.sim.m_stateNew[ToSize(j * g.sim.m_nComp + k)] = 1.0;
            g.Start();
            MakeImplicit(g.sim, schemes[which], 0.25);
            g.Steps(20);
            const int shift = grad > 0.0 ? 10 : -10;
            double mass = 0.0;
            for (int j = 0; j < cols; ++j) {
                const double exact = (j >= 35 + shift && j < 45 + shift) ? 1.0 : 0.0;
                error[which] += std::fabs(g.C(j) - exact);
                mass += g.C(j);
            }
            EXPECT_NEAR(mass, 10.0, 1e-4) << SchemeName(schemes[which]) << " grad " << grad;
        }
        EXPECT_LT(error[1], 0.75 * error[0])
            << "grad " << grad << ": tvd " << error[1] << ", upstream " << error[0];
    }
}

// A solve that fails ends the step with a ComputeException that names the
// component and the step's start time, and leaves no result to be used; with
// two threads the components are solved side by side and the failure is the
// same.
TEST(ImplicitTransport, AFailedSolveNamesTheComponentAndTheStep) {
    const struct {
        const char* name;
        int maxIterations;
        bool notFinite; // the second component's value at one node is not a number
        const char* why;
    } rows[] = {
        {"no iteration allowed", 0, false,
         "mobile component mobile_0 did not converge in 0 iterations"},
        {"a value that is not a number", TRANSPORT_IMPLICIT_MAX_ITERATIONS, true,
         "mobile component mobile_1 "},
    };
    for (const auto& row : rows)
        for (int threads : {1, 2}) {
            CGrid g(6, 7, 0.5, 1.0, 0.1, 2);
            g.sim.m_nThreads = threads;
            for (int n = 0; n < g.sim.m_nNodes; ++n)
                for (int k = g.sim.m_nComp - 2; k < g.sim.m_nComp; ++k)
                    g.sim.m_stateNew[ToSize(n * g.sim.m_nComp + k)] = n % 3 == 0 ? 1.0 : 0.0;
            g.Start();
            if (row.notFinite)
                g.sim.m_state[17 * g.sim.m_nComp + g.sim.m_nComp - 1] = std::nan("");
            g.sim.m_ext.m_time = ETransportTime::IMPLICIT;
            g.sim.m_clock.m_globalStep = 2.0;
            g.sim.m_clock.m_currentTime = 2.5;
            CImplicitSolver solver;
            solver.Prepare(g.sim, row.maxIterations);
            const std::string outcome = Outcome([&] { solver.Step(g.sim); });
            EXPECT_EQ(outcome.rfind("compute: the implicit transport of ", 0), 0u) << outcome;
            EXPECT_NE(outcome.find(row.why), std::string::npos)
                << row.name << ", threads " << threads << ": " << outcome;
            EXPECT_NE(outcome.find("in the global step from time 2.5"), std::string::npos)
                << row.name << ": " << outcome;
        }
}

// Steps of a plume with two mobile components through one solver, which
// sets each matrix's factor up once and starts each solve from the last
// solution, against a fresh solver at every step (a fresh factor, a start
// from the step's start): the same answer to the solver's tolerance, and the
// two components, whose matrices are the same, share one factor.
TEST(ImplicitTransport, TheReusedFactorAndTheWarmStartGiveAFreshSolversAnswer) {
    for (ETransportScheme scheme : {ETransportScheme::DEFAULT, ETransportScheme::TVD}) {
        CGrid kept(7, 9, 0.5, 1.0, 0.05, 2);
        CGrid fresh(7, 9, 0.5, 1.0, 0.05, 2);
        for (CGrid* g : {&kept, &fresh}) {
            g->Inject(31, 0.2, 3.0);
            g->Start();
            g->sim.m_ext.m_scheme = scheme;
            g->sim.m_ext.m_time = ETransportTime::IMPLICIT;
            g->sim.m_clock.m_globalStep = 3.0;
        }
        CImplicitSolver solver;
        solver.Prepare(kept.sim);
        for (int step = 0; step < 6; ++step) {
            solver.Step(kept.sim);
            CImplicitSolver once;
            once.Prepare(fresh.sim);
            once.Step(fresh.sim);
            double top = 0.0;
            for (int v = 0; v < kept.sim.m_nValues; ++v) {
                kept.sim.m_state[v] += kept.sim.m_transportDelta[v];
                fresh.sim.m_state[v] += fresh.sim.m_transportDelta[v];
                top = std::max(top, std::fabs(fresh.sim.m_state[v]));
            }
            for (int v = 0; v < kept.sim.m_nValues; ++v)
                ASSERT_NEAR(kept.sim.m_state[v], fresh.sim.m_state[v], 1e-12 * top)
                    << SchemeName(scheme) << ", step " << step << ", value " << v;
        }
        EXPECT_EQ(kept.sim.m_times.m_implicit.m_setups, 1) << SchemeName(scheme);
        EXPECT_EQ(kept.sim.m_times.m_implicit.m_solves, 12) << SchemeName(scheme);
    }
}

// The factor is set up again when what the matrix is made of changes (the
// step, a node's porosity or source), and only then; components whose
// dispersion differs have a factor each.
TEST(ImplicitTransport, AChangedMatrixSetsItsFactorUpAgain) {
    CGrid g(5, 6, 0.5, 1.0, 0.05, 2);
    g.Start();
    g.sim.m_ext.m_time = ETransportTime::IMPLICIT;
    g.sim.m_clock.m_globalStep = 2.0;
    CImplicitSolver solver;
    solver.Prepare(g.sim);
    const struct {
        const char* change;
        int slot; // of node 8 set to value (-1: none)
        double value;
        double step;
        long long setups; // after the step
    } rows[] = {
        {"none", -1, 0.0, 2.0, 1},
        {"the step", -1, 0.0, 4.0, 2},
        {"none again", -1, 0.0, 4.0, 2},
        {"a porosity", SLOT_POROSITY, 0.3, 4.0, 3},
        {"a sink", SLOT_SOURCE, -0.01, 4.0, 4},
        {"none at last", -1, 0.0, 4.0, 4},
    };
    for (const auto& row : rows) {
        if (row.slot >= 0)
            g.sim.m_state[8 * g.sim.m_nComp + row.slot] = row.value;
        g.sim.m_clock.m_globalStep = row.step;
        solver.Step(g.sim);
        EXPECT_EQ(g.sim.m_times.m_implicit.m_setups, row.setups) << row.change;
    }
    // Another diffusion for the second component: two factors.
    g.sim.m_diffusion.get()[1] = 0.2;
    g.Flow();
    g.Start();
    CImplicitSolver apart;
    apart.Prepare(g.sim);
    apart.Step(g.sim);
    EXPECT_EQ(g.sim.m_times.m_implicit.m_setups, 2);
}

// A trial pass solves a component again only where the rate it carries has
// changed since the last trial pass of the step: without reactions the rate
// stays 0 and the second trial pass keeps the first's solution.
TEST(ImplicitTransport, ATrialPassWithAnUnchangedRateKeepsItsSolution) {
    CGrid g(5, 6, 0.5, 1.0, 0.05);
    g.Inject(13, 0.2, 3.0);
    g.Start();
    g.sim.m_ext.m_time = ETransportTime::IMPLICIT;
    g.sim.m_clock.m_globalStep = 2.0;
    CImplicitSolver solver;
    solver.Prepare(g.sim);
    std::vector<double> first;
    for (int pass = 0; pass < 2; ++pass) {
        solver.SaveStepStart(g.sim);
        solver.Step(g.sim);
        if (pass == 0)
            first.assign(g.sim.m_transportDelta, g.sim.m_transportDelta + g.sim.m_nValues);
        // The reactions changed nothing: the new state is the transport's.
        for (int v = 0; v < g.sim.m_nValues; ++v)
            g.sim.m_stateNew[ToSize(v)] = g.sim.m_state[v] + g.sim.m_transportDelta[v];
        EXPECT_EQ(solver.NoteReactionRate(g.sim), pass > 0);
        solver.RestoreStepStart(g.sim);
    }
    EXPECT_EQ(g.sim.m_times.m_implicit.m_solves, 1);
    EXPECT_EQ(g.sim.m_times.m_implicit.m_skipped, 1);
    for (int v = 0; v < g.sim.m_nValues; ++v)
        EXPECT_EQ(g.sim.m_transportDelta[v], first[ToSize(v)]) << v;
    // The step taken for good is solved to the full tolerance.
    solver.Step(g.sim);
    EXPECT_EQ(g.sim.m_times.m_implicit.m_solves, 2);
}

// The step of a model that gives none: 5 passages of the fastest cell, at
// most a tenth of the run; a tenth of the run where nothing flows.
TEST(ImplicitTransport, TheStepWithoutOneIsFiveCellPassagesOrATenthOfTheRun) {
    const struct {
        double grad;
        double duration;
    } rows[] = {{0.5, 1000.0}, {-0.5, 1000.0}, {0.5, 4.0}, {0.0, 1000.0}};
    for (const auto& row : rows) {
        CGrid g(3, 6, row.grad, 1.0, 0.0);
        const double* width = g.sim.m_grid.m_colWidth.get();
        const double narrowest = *std::min_element(width, width + 6);
        const double passage = row.grad == 0.0 ? HUGE_VAL : 0.25 * narrowest / std::fabs(row.grad);
        const double expected = std::min(5.0 * passage, row.duration / 10.0);
        EXPECT_DOUBLE_EQ(ImplicitStep(g.sim, row.duration), expected)
            << "grad " << row.grad << ", duration " << row.duration;
    }
}

} // namespace
