// The time loop with several threads: per-thread reaction clocks, the node a
// reaction sees, and failures that end the run as the serial loop's first
// failure does.
#include "flow/heads.h"
#include "io/output_files.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/rxn_work.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "rxn/rxn.h"
#include "sim/time_loop.h"
#include "support/model_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace kova_test;

namespace {

// A kinetic stand-in that hands the node being integrated, the reaction clock
// and the state to a callback.
class CStandInRxn : public CRxn {
public:
    using Callback = std::function<void(int node, double localTime, const double* conc)>;
    CStandInRxn(std::istream& zeros, int nComp, CSimulation* sim, Callback onRate)
        : CRxn(zeros, nComp, sim), m_onRate(std::move(onRate)) {}
    void CompRate(const double* conc, const double*, double*, double) override {
        m_onRate(CRxnWork::Current()->m_node, m_sim->LocalTime(), conc);
    }

private:
    Callback m_onRate;
};

void InstallStandIn(CSimulation& sim, CStandInRxn::Callback onRate) {
    std::istringstream zeros(ZeroCoefficients(sim.m_nComp));
    AddKineticToFirstSet(
        sim, std::make_unique<CStandInRxn>(zeros, sim.m_nComp, &sim, std::move(onRate)));
}

// A 6 x 7 grid with one mobile component, steps of 0.5 from 0 to 3, a
// record every 1.
CTestModel Grid() {
    CTestModel model;
    model.rows = 6;
    model.cols = 7;
    model.nMobile = 1;
    model.endTime = 3.0;
    model.globalStep = 0.5;
    model.outputInterval = 1.0;
    model.transport = {{1.0, 0.1, 0.01}};
    model.overrides = {{0, 0, SLOT_HEAD, 2.0}, {2, 3, 7, 1.0}};
    model.fixedHeads = {{0, 0}, {5, 6}};
    return model;
}

struct COutcome {
    std::string failure; // class and detail of the failure, if any
    std::vector<unsigned char> kvo;
};

// Runs Grid() with the given threads; the stand-in fails at the given nodes
// in the third step, where two records are on disk.
COutcome RunFailing(int threads, const std::set<int>& failing, int notSupported) {
    TempDir dir;
    CRunControl control("m");
    CSimulation sim(&control);
    sim.m_nThreads = threads;
    LoadModel(sim, Grid());
    InstallStandIn(sim, [&](int node, double localTime, const double*) {
        if (localTime < 0.5 || !failing.count(node))
            return;
        if (node == notSupported)
            throw NotSupportedException("node " + std::to_string(node));
        throw ComputeException("node " + std::to_string(node));
    });
    InitHeads(sim);
    const std::string base = dir.File("run");
    COutcome outcome;
    try {
        COutputFiles output(base);
        output.Open();
        TimeLoop(sim, output);
        output.Finish(sim);
    } catch (const NotSupportedException& e) {
        outcome.failure = "not supported: " + e.Detail();
    } catch (const ComputeException& e) {
        outcome.failure = "compute: " + e.Detail();
    }
    outcome.kvo = ReadBinaryFile(base + ".kvo");
    return outcome;
}

TEST(TimeLoopThreads, TheFailureOfTheLowestNodeEndsTheRun) {
    // Nodes handed out late fail first in time; the lowest still wins.
    const std::set<int> failing{41, 35, 9, 30, 4 + 7 * 5};
    const COutcome serial = RunFailing(1, failing, 9);
    EXPECT_EQ(serial.failure,
              "not supported: node 9 at node (1, 2) in the global step from time 1");
    EXPECT_EQ(serial.kvo.size(), 2u * 42 * 8 * 8) << "records at 0 and 1";
    for (int threads : {2, 3}) {
        const COutcome parallel = RunFailing(threads, failing, 9);
        EXPECT_EQ(parallel.failure, serial.failure) << threads << " threads";
        EXPECT_TRUE(parallel.kvo == serial.kvo) << threads << " threads";
    }
    // The class comes with its node: here the lowest node fails otherwise.
    EXPECT_EQ(RunFailing(2, failing, 35).failure,
              "compute: node 9 at node (1, 2) in the global step from time 1");
}

// Every node's reactions read their own clock, whichever thread runs them.
TEST(TimeLoopThreads, EveryNodeSeesItsOwnClockAndState) {
    std::vector<std::vector<double>> seen[2];
    for (int run = 0; run < 2; ++run) {
        CRunControl control("m");
        CSimulation sim(&control);
        sim.m_nThreads = run == 0 ? 1 : 3;
        LoadModel(sim, Grid());
        seen[run].resize(static_cast<size_t>(sim.m_nNodes));
        std::mutex lock;
        InstallStandIn(sim, [&](int node, double localTime, const double* conc) {
            // Each node keeps its own list: the order among nodes is free.
            const std::lock_guard<std::mutex> guard(lock);
            seen[run][node].push_back(localTime);
            seen[run][node].push_back(conc[7]);
        });
        InitHeads(sim);
        TempDir dir;
        const std::string base = dir.File("run");
        COutputFiles output(base);
        output.Open();
        TimeLoop(sim, output);
        output.Finish(sim);
    }
    for (size_t n = 0; n < seen[0].size(); ++n) {
        EXPECT_FALSE(seen[0][n].empty()) << "node " << n;
        EXPECT_EQ(seen[1][n], seen[0][n]) << "node " << n;
    }
}

} // namespace
