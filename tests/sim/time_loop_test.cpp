#include "flow/heads.h"
#include "flow/transport.h"
#include "io/output_files.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "rxn/rxn.h"
#include "sim/time_loop.h"
#include "support/model_builder.h"
#include "support/run_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>

using namespace kova_test;

namespace {

// A kinetic reaction that changes nothing and calls back on every rate
// evaluation, to watch or steer the loop from inside a step.
class CProbeRxn : public CRxn {
public:
    using Callback = std::function<void(CSimulation&)>;
    CProbeRxn(std::istream& zeros, int nComp, CSimulation* sim, Callback onRate)
        : CRxn(zeros, nComp, sim), m_onRate(std::move(onRate)) {}
    void CompRate(const double*, const double*, double*, double) override { m_onRate(*m_sim); }

private:
    Callback m_onRate;
};

// Adds a probe to the kinetic list of reaction set 0.
void InstallProbe(CSimulation& sim, CProbeRxn::Callback onRate) {
    std::istringstream zeros(ZeroCoefficients(sim.m_nComp));
    AddKineticToFirstSet(sim,
                         std::make_unique<CProbeRxn>(zeros, sim.m_nComp, &sim, std::move(onRate)));
}

class TimeLoopTest : public ::testing::Test {
protected:
    // One isolated node without mobile components: only the clock matters.
    static CTestModel Clock(double start, double end, double step, double interval) {
        CTestModel model;
        model.startTime = start;
        model.endTime = end;
        model.globalStep = step;
        model.outputInterval = interval;
        model.conductivity = 0.0; // no fixed head: batch reactors
        return model;
    }
    void Load(const CTestModel& model) {
        LoadModel(m_sim, model);
        InitHeads(m_sim);
        m_out = std::make_unique<COutputFiles>(Base());
        m_out->Open();
    }
    // The rest of the run, as the run sequence does it.
    void RunLoop() {
        TimeLoop(m_sim, *m_out);
        m_out->Finish(m_sim);
    }
    std::string Base() const { return m_dir.File("run"); }

    TempDir m_dir;
    CRunControl m_control{"run"};
    CSimulation m_sim{&m_control};
    std::unique_ptr<COutputFiles> m_out;
};

TEST_F(TimeLoopTest, RecordsFollowTheFirstStepThatReachesEachOutputTime) {
    Load(Clock(0.0, 10.0, 1.0, 2.5));
    RunLoop();
    EXPECT_EQ(m_sim.m_outputTimes, (std::vector<double>{0.0, 3.0, 5.0, 8.0, 10.0}));
    EXPECT_EQ(m_control.GetCurrentTime(), 10.0);
    EXPECT_EQ(m_control.GetGlobalStep(), 0.0) << "a positive input step is not reported";
    EXPECT_EQ(m_sim.m_globalStep, 1.0);
}

TEST_F(TimeLoopTest, AStepPassingSeveralOutputTimesGivesOneRecord) {
    Load(Clock(0.0, 8.0, 4.0, 1.0));
    RunLoop();
    EXPECT_EQ(m_sim.m_outputTimes, (std::vector<double>{0.0, 4.0, 8.0}));
}

TEST_F(TimeLoopTest, NoStepWhenTheEndIsNotAfterTheStart) {
    Load(Clock(5.0, 5.0, 1.0, 1.0));
    RunLoop();
    EXPECT_EQ(m_sim.m_outputTimes, std::vector<double>{5.0});

    // End before start: the initial capacity formula gives no room at all.
    CSimulation sim(&m_control);
    LoadModel(sim, Clock(5.0, 2.0, 0.0, 1.0));
    InitHeads(sim);
    COutputFiles output(Base());
    output.Open();
    TimeLoop(sim, output);
    output.Finish(sim);
    EXPECT_EQ(sim.m_outputTimes, std::vector<double>{5.0});
    EXPECT_EQ(sim.m_currentTime, 5.0);
    const std::vector<unsigned char> kvt = ReadBinaryFile(Base() + ".kvt");
    ASSERT_EQ(kvt.size(), 44u);
    EXPECT_EQ(IntAt(kvt, 0), 1);
    EXPECT_EQ(DoubleAt(kvt, 20), 5.0);
}

TEST_F(TimeLoopTest, StableStepWithoutFlowCoversTheRunInOneStep) {
    CTestModel model = Clock(0.0, 10.0, 0.0, 1.0);
    model.cols = 2;
    model.nMobile = 1;
    model.transport = {{1.0, 0.1, 0.5}};
    Load(model);
    RunLoop();
    EXPECT_EQ(m_sim.m_globalStep, 10.0);
    EXPECT_EQ(m_control.GetGlobalStep(), 10.0);
    EXPECT_EQ(m_sim.m_outputTimes, (std::vector<double>{0.0, 10.0}));
}

// One node of width 1 x 1 and porosity 1 with row flux vr and transport
// coefficients (a, b, c) for each mobile component.
class StableStepTest : public ::testing::Test {
protected:
    void SetUp() override {
        CTestModel model;
        model.cols = 2;
        model.nMobile = 2;
        model.defaults = {0, 0, 1.0, 1, 1, 0, 0, 0, 0};
        LoadModel(m_sim, model);
        for (int j = 0; j < 2; ++j) {
            m_sim.m_colWidth[j] = 1.0;
        }
        m_sim.m_rowWidth[0] = 1.0;
    }
    void Node(int j, double vr, double vc, std::array<double, 3> first,
              std::array<double, 3> second) {
        double* node = m_sim.m_stateNew.get() + j * m_sim.m_nComp;
        node[SLOT_FLUXROW] = vr;
        node[SLOT_FLUXCOL] = vc;
        double* coef = m_sim.m_dispCoef.get() + 6 * j;
        for (int k = 0; k < 3; ++k) {
            coef[k] = first[k];
            coef[3 + k] = second[k];
        }
    }
    double Step(double duration) {
        ComputeStableStep(m_sim, duration);
        EXPECT_EQ(m_control.GetGlobalStep(), m_sim.m_globalStep);
        return m_sim.m_globalStep;
    }

    CRunControl m_control{"m"};
    CSimulation m_sim{&m_control};
};

TEST_F(StableStepTest, TheThreeCandidateFormulas) {
    // No dispersion: 1 / sqrt(V), V = 2^2 + 0.
    Node(0, 2.0, 0.0, {0, 0, 0}, {0, 0, 0});
    EXPECT_EQ(Step(100.0), 0.5);
    // sqrt(V) / D = 1: the root formula.
    Node(0, 1.0, 0.0, {1.0, 0, 0}, {1.0, 0, 0});
    EXPECT_NEAR(Step(100.0), 0.1623201817774822, 1e-15);
    // sqrt(V) / D = 10: 1 / sqrt(V) - 2 D / V.
    Node(0, 10.0, 0.0, {0.25, 0.5, 0.25}, {1.0, 0, 0});
    EXPECT_NEAR(Step(100.0), 0.1 - 2.0 / 100.0, 1e-15);
    // A shorter run bounds the step.
    EXPECT_EQ(Step(0.01), 0.01);
}

// D squared is formed before it is scaled: 8.995030286246559 x (D x D).
TEST_F(StableStepTest, RootFormulaIsExactToTheLastBit) {
    m_sim.m_rowWidth[0] = 0.5;
    Node(0, 1.9, 0.0, {0.47, 0, 0}, {0.47, 0, 0});
    EXPECT_EQ(Step(100.0), 0.08039970278578891);
}

// The constants make the two formulas agree to about 6e-6 there.
TEST_F(StableStepTest, TheFormulasMeetAtTheSwitch) {
    const double root = 4.0016;
    Node(0, root * (1.0 - 1e-9), 0.0, {1.0, 0, 0}, {1.0, 0, 0});
    const double below = Step(100.0);
    Node(0, root * (1.0 + 1e-9), 0.0, {1.0, 0, 0}, {1.0, 0, 0});
    const double above = Step(100.0);
    EXPECT_NEAR(below, above, 1e-5 * above) << below << " " << above;
}

TEST_F(StableStepTest, SmallestCandidateOverNodesAndComponents) {
    Node(0, 2.0, 0.0, {0, 0, 0}, {0, 0, 0});       // 0.5
    Node(1, 0.0, 4.0, {0, 0, 0}, {0.1, 0.2, 0.1}); // 1/4 - 2 x 0.4 / 16 = 0.2
    EXPECT_NEAR(Step(100.0), 0.2, 1e-15);
    Node(1, 0.0, 0.0, {0, 0, 0}, {5.0, 5.0, 5.0}); // no flow: no limit at all
    EXPECT_EQ(Step(100.0), 0.5);
}

// A barely moving node with strong dispersion: the root formula cancels to 0.
TEST_F(StableStepTest, AStepOfZeroIsAComputationalErrorNamingTheNode) {
    Node(1, 1e-12, 0.0, {1.0, 0, 0}, {1.0, 0, 0});
    try {
        Step(10.0);
        FAIL() << "expected ComputeException, got step " << m_sim.m_globalStep;
    } catch (const ComputeException& e) {
        EXPECT_NE(e.Detail().find("node (0, 1)"), std::string::npos) << e.Detail();
    }
    // With no time to cover no step is taken: no error.
    EXPECT_EQ(Step(0.0), 0.0);
}

TEST_F(TimeLoopTest, ReducedNodesAndTheSmallestLocalStepAreReported) {
    CTestModel model = Clock(0.0, 1.0, 1.0, 1.0);
    model.cols = 3;
    Load(model);
    const double fractions[] = {0.5, 1.0, 0.25};
    for (int n = 0; n < 3; ++n) {
        m_sim.m_localFraction[n] = fractions[n];
        m_sim.m_localHold[n] = 1000;
    }
    RunLoop();
    EXPECT_EQ(m_control.GetReducedNodes(), 2);
    EXPECT_EQ(m_control.GetMinLocalStep(), 0.25);
}

// The reactions of a step see the clock one input step behind the step's
// start, and the nodes in index order.
TEST_F(TimeLoopTest, ReactionClockAndNodeOrder) {
    CTestModel model = Clock(2.0, 3.0, 0.5, 0.5);
    model.cols = 3;
    Load(model);
    std::vector<std::array<double, 3>> seen;
    InstallProbe(m_sim, [&](CSimulation& s) {
        const std::array<double, 3> now{s.m_currentTime, s.m_rxnBaseTime, double(s.m_currentNode)};
        if (seen.empty() || seen.back() != now)
            seen.push_back(now);
    });
    RunLoop();
    const std::vector<std::array<double, 3>> expected{{2.0, 1.5, 0}, {2.0, 1.5, 1}, {2.0, 1.5, 2},
                                                      {2.5, 2.0, 0}, {2.5, 2.0, 1}, {2.5, 2.0, 2}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(m_sim.m_outputTimes, (std::vector<double>{2.0, 2.5, 3.0}));
}

TEST_F(TimeLoopTest, WithTheStableStepTheReactionClockStartsAtTheStart) {
    CTestModel model = Clock(2.0, 3.0, 0.0, 1.0);
    Load(model);
    double firstBase = -1.0;
    InstallProbe(m_sim, [&](CSimulation& s) {
        if (firstBase < 0.0)
            firstBase = s.m_rxnBaseTime;
    });
    RunLoop();
    EXPECT_EQ(firstBase, 2.0);
}

// A cancel in the middle of the third step: the step ends, one record at the
// time reached, and the time file counts it.
TEST_F(TimeLoopTest, CancelDuringAStepEndsWithARecordAtTheTimeReached) {
    Load(Clock(0.0, 10.0, 0.1, 1.0));
    InstallProbe(m_sim, [&](CSimulation& s) {
        if (s.m_currentTime > 0.15)
            s.m_runControl->Cancel();
    });
    RunLoop();
    const double reached = 0.1 + 0.1 + 0.1;
    EXPECT_EQ(m_sim.m_outputTimes, (std::vector<double>{0.0, reached}));
    const std::vector<unsigned char> kvt = ReadBinaryFile(Base() + ".kvt");
    ASSERT_EQ(kvt.size(), 52u);
    EXPECT_EQ(IntAt(kvt, 0), 2);
    EXPECT_EQ(DoubleAt(kvt, 20), reached);
    EXPECT_EQ(ReadBinaryFile(Base() + ".kvo").size(), 2u * 7 * 8);
}

TEST_F(TimeLoopTest, CancelBeforeTheLoopStillWritesTheFirstRecord) {
    Load(Clock(1.0, 10.0, 0.1, 1.0));
    m_control.Cancel();
    RunLoop();
    EXPECT_EQ(m_sim.m_outputTimes, std::vector<double>{1.0});
    EXPECT_EQ(IntAt(ReadBinaryFile(Base() + ".kvt"), 0), 1);
}

// A failure inside the loop: the records so far reach the disk, the time file
// keeps its marker.
TEST_F(TimeLoopTest, FailureInsideTheLoopClosesTheDataFile) {
    Load(Clock(0.0, 10.0, 0.1, 0.1));
    InstallProbe(m_sim, [&](CSimulation& s) {
        if (s.m_currentTime > 0.05)
            throw ComputeException("probe failure"); // in the second step
    });
    EXPECT_THROW(TimeLoop(m_sim, *m_out), ComputeException);
    m_out.reset(); // as the run sequence leaves the scope of its output files
    EXPECT_EQ(ReadBinaryFile(Base() + ".kvo").size(), 2u * 7 * 8);
    const std::vector<unsigned char> kvt = ReadBinaryFile(Base() + ".kvt");
    ASSERT_EQ(kvt.size(), 4u);
    EXPECT_EQ(IntAt(kvt, 0), 0);
}

TEST_F(TimeLoopTest, AStepTooSmallToMoveTheClockIsAComputationalError) {
    Load(Clock(1e17, 2e17, 1.0, 1e16));
    try {
        TimeLoop(m_sim, *m_out);
        FAIL() << "expected ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_NE(e.Detail().find("no longer advances the clock"), std::string::npos) << e.Detail();
    }
    EXPECT_EQ(m_sim.m_recordCount, 1);
}

TEST_F(TimeLoopTest, AnIntervalTooSmallToMoveTheOutputTimeIsAComputationalError) {
    Load(Clock(1e17, 2e17, 1e3, 1.0));
    try {
        TimeLoop(m_sim, *m_out);
        FAIL() << "expected ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_NE(e.Detail().find("output interval"), std::string::npos) << e.Detail();
    }
    EXPECT_EQ(m_sim.m_recordCount, 1);
}

} // namespace
