// The run in-process: the record times the loop writes and the time file
// that lists them, the stable global step, the reaction clock, threads,
// cancel at every stage, and how each class of failure is reported.
#include "model/index.h"
#include "rxn/rxn_work.h"
#include "sim/run.h"
#include "support/engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <stdexcept>
#include <vector>

using namespace kova_test;

namespace {

// One isolated node without mobile components: only the clock matters.
CTestModel Clock(double start, double end, double step, double interval) {
    CTestModel model;
    model.startTime = start;
    model.endTime = end;
    model.globalStep = step;
    model.outputInterval = interval;
    model.conductivity = 0.0; // no fixed head: batch reactors
    return model;
}

// What a run of the time loop left: its failure, the record times it kept,
// and both files.
struct CLoopRun {
    std::string failure;
    std::vector<double> times;
    std::vector<unsigned char> kvt, kvo;
    double globalStep = 0.0, reportedStep = 0.0;
};

CLoopRun RunLoop(const CTestModel& model, const std::function<void(CEngine&)>& before = nullptr) {
    TempDir dir;
    CEngine engine;
    engine.Read(model);
    engine.Heads();
    if (before)
        before(engine);
    CLoopRun run;
    run.failure = Outcome([&] { engine.Finish(dir.File("run")); });
    run.times = engine.sim.m_clock.m_outputTimes;
    run.kvt = ReadBinaryFile(dir.File("run.kvt"));
    run.kvo = ReadBinaryFile(dir.File("run.kvo"));
    run.globalStep = engine.sim.m_clock.m_globalStep;
    run.reportedStep = engine.control.GetGlobalStep();
    return run;
}

// The time file of a finished run lists every record of the data file:
// count, rows, columns, start, last record time, interval, the times.
void ExpectTimeFile(const CLoopRun& run, const CTestModel& model) {
    const size_t n = run.times.size();
    ASSERT_EQ(run.kvt.size(), 36 + 8 * n);
    EXPECT_EQ(IntAt(run.kvt, 0), static_cast<int>(n));
    EXPECT_EQ(IntAt(run.kvt, 4), model.rows);
    EXPECT_EQ(IntAt(run.kvt, 8), model.cols);
    EXPECT_EQ(DoubleAt(run.kvt, 12), model.startTime);
    EXPECT_EQ(DoubleAt(run.kvt, 20), n ? run.times.back() : model.endTime);
    EXPECT_EQ(DoubleAt(run.kvt, 28), model.outputInterval);
    for (size_t r = 0; r < n; ++r)
        EXPECT_EQ(DoubleAt(run.kvt, 36 + 8 * r), run.times[r]) << "record " << r;
    EXPECT_EQ(run.kvo.size(), n * ToSize(model.rows * model.cols * model.NComp()) * 8);
}

TEST(TimeLoop, RecordsFollowTheFirstStepThatReachesEachOutputTime) {
    const std::string interval =
        "compute: the output interval 1 no longer advances the output time at time 1e+17";
    const struct {
        CTestModel model;
        std::vector<double> times;
        std::string failure;
    } rows[] = {
        {Clock(0, 10, 1, 2.5), {0, 3, 5, 8, 10}, ""},
        {Clock(0, 8, 4, 1), {0, 4, 8}, ""}, // a step past several output times: one record
        {Clock(5, 5, 1, 1), {5}, ""},
        {Clock(5, 2, 0, 1), {5}, ""}, // the end before the start: no step at all
        // Without flow the step keeps the diffusion stable: each node keeps
        // 1 - dt D / (d w) = 1 - dt / 2 of its value, so dt is 2.
        {Clock(0, 10, 0, 1).Grid(1, 2).Mobile(1, 0.1, 0.5), {0, 2, 2, 4, 4, 6, 6, 8, 8, 10}, ""},
        // Without flow or diffusion nothing limits it: the step is the whole run.
        {Clock(0, 10, 0, 1).Grid(1, 2).Mobile(1, 0.1, 0.0), {0, 10}, ""},
        // A step that no longer moves the clock is a failure of the binary's runs.
        {Clock(1e17, 2e17, 1e3, 1), {1e17}, interval},
        {Clock(1e308, 1.7e308, 1e308, 5e307),
         {1e308},
         "compute: the model time overflows: time 1e+308 plus the global step 1e+308"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.model.Text());
        const CLoopRun run = RunLoop(row.model);
        EXPECT_EQ(run.failure, row.failure);
        EXPECT_EQ(run.times, row.times);
        if (!row.failure.empty()) {
            ASSERT_EQ(run.kvt.size(), 4u) << "the time file keeps the marker";
            EXPECT_EQ(IntAt(run.kvt, 0), 0);
            EXPECT_EQ(run.kvo.size(), 7u * 8) << "the record before the failure is on disk";
        } else {
            ExpectTimeFile(run, row.model);
            if (row.model.globalStep > 0) {
                EXPECT_EQ(run.reportedStep, 0.0) << "a step of the input is not reported";
            }
        }
    }
}

// Two nodes of width 1 x 1 and porosity 1, two mobile components each: the
// step is the smallest candidate over nodes and components.
TEST(TimeLoop, StableStepIsTheSmallestCandidate) {
    struct CNodeFlow {
        double vr, vc;
        std::array<double, 6> coef; // (Drr, Dcc, Drc) of each component
    };
    const struct {
        const char* what;
        CNodeFlow first, second;
        double rowWidth, duration, expected;
    } rows[] = {
        // clang-format off
        {"no dispersion: 1 / sqrt(V)", {2, 0, {}}, {}, 1, 100, 0.5},
        {"sqrt(V) / D = 1: the root form", {1, 0, {1, 0, 0, 1, 0, 0}}, {}, 1, 100,
         0.1623201817774822},
        {"1 / sqrt(V) - 2 D / V", {10, 0, {0.25, 0.5, 0.25, 1, 0, 0}}, {}, 1, 100, 0.08},
        {"a short run", {10, 0, {0.25, 0.5, 0.25, 1, 0, 0}}, {}, 1, 0.01, 0.01},
        // D squared is formed before it is scaled.
        {"to the last bit", {1.9, 0, {0.47, 0, 0, 0.47, 0, 0}}, {}, 0.5, 100, 0.08039970278578891},
        // 1/4 - 2 x 0.4 / 16 at the second node, from its second component.
        {"nodes and components", {2, 0, {}}, {0, 4, {0, 0, 0, 0.1, 0.2, 0.1}}, 1, 100, 0.2},
        {"no flow sets no limit", {2, 0, {}}, {0, 0, {5, 5, 5, 5, 5, 5}}, 1, 100, 0.5},
        // A barely moving node with strong dispersion: the root form cancels to 0,
        // which is no failure while there is no time to cover.
        {"no time to cover", {}, {1e-12, 0, {1, 0, 0, 1, 0, 0}}, 1, 0, 0},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CTestModel model;
        model.cols = 2;
        model.nMobile = 2;
        model.defaults = {0, 0, 1.0, 1, 1, 0, 0, 0, 0};
        CEngine engine;
        engine.Read(model);
        CSimulation& sim = engine.sim;
        sim.m_grid.m_rowWidth[0] = row.rowWidth;
        sim.m_grid.m_colWidth[0] = sim.m_grid.m_colWidth[1] = 1.0;
        for (int j = 0; j < 2; ++j) {
            const CNodeFlow& node = j == 0 ? row.first : row.second;
            engine.At(0, j, SLOT_FLUXROW) = node.vr;
            engine.At(0, j, SLOT_FLUXCOL) = node.vc;
            std::copy(node.coef.begin(), node.coef.end(), sim.m_dispCoef.get() + 6 * j);
        }
        EXPECT_EQ(Outcome([&] { engine.StableStep(row.duration); }), "");
        EXPECT_NEAR(sim.m_clock.m_globalStep, row.expected, 1e-15);
        EXPECT_EQ(engine.control.GetGlobalStep(), sim.m_clock.m_globalStep);
    }
}

// The reactions of a step see the clock one input step behind the step's
// start (with a computed step: at the start), and the nodes in index order.
TEST(TimeLoop, ReactionClockAndNodeOrder) {
    CTestModel model = Clock(2, 3, 0.5, 0.5);
    model.cols = 3;
    std::vector<std::array<double, 3>> seen;
    const CLoopRun run = RunLoop(model, [&](CEngine& e) {
        AddStandInRate(e, [&, sim = &e.sim](const double*, double*, double) {
            const std::array<double, 3> now{sim->m_clock.m_currentTime, sim->m_clock.m_rxnBaseTime,
                                            double(sim->m_currentNode)};
            if (seen.empty() || seen.back() != now)
                seen.push_back(now);
        });
    });
    const std::vector<std::array<double, 3>> expected{{2, 1.5, 0}, {2, 1.5, 1}, {2, 1.5, 2},
                                                      {2.5, 2, 0}, {2.5, 2, 1}, {2.5, 2, 2}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(run.times, (std::vector<double>{2, 2.5, 3}));

    double firstBase = -1.0;
    RunLoop(Clock(2, 3, 0, 1), [&](CEngine& e) {
        AddStandInRate(e, [&, sim = &e.sim](const double*, double*, double) {
            if (firstBase < 0.0)
                firstBase = sim->m_clock.m_rxnBaseTime;
        });
    });
    EXPECT_EQ(firstBase, 2.0);
}

// A 6 x 7 grid, steps of 0.5 from 0 to 3, a record every 1, with a stand-in
// reaction at every node.
CTestModel Grid() {
    CTestModel model = Clock(0, 3, 0.5, 1).Grid(6, 7).Mobile(1, 0.1, 0.01).Fixed(0, 0).Fixed(5, 6);
    return model.Set(0, 0, SLOT_HEAD, 2.0).Set(2, 3, 7, 1.0);
}

// The stand-in hands the model to rate.
CLoopRun RunGrid(int threads, const std::function<void(CSimulation&)>& rate) {
    return RunLoop(Grid(), [&](CEngine& e) {
        e.sim.m_nThreads = threads;
        AddStandInRate(e, [&, sim = &e.sim](const double*, double*, double) { rate(*sim); });
    });
}

// Nodes failing in the third step, where two records are on disk: whichever
// fails first in time, the failure of the lowest node ends the run, with its
// class, and the files are as the serial loop leaves them.
TEST(TimeLoop, WithThreadsTheFailureOfTheLowestNodeEndsTheRun) {
    for (int notSupported : {9, 35}) {
        const std::set<int> failing{41, 35, 9, 30, 39};
        std::string first;
        std::vector<unsigned char> kvo;
        for (int threads : {1, 2, 3}) {
            const CLoopRun run = RunGrid(threads, [&](CSimulation& sim) {
                const int node = CRxnWork::Current()->m_node;
                if (LocalTime(sim) < 0.5 || !failing.count(node))
                    return;
                if (node == notSupported)
                    throw NotSupportedException("node " + std::to_string(node));
                throw ComputeException("node " + std::to_string(node));
            });
            if (threads == 1) {
                first = run.failure;
                kvo = run.kvo;
                EXPECT_EQ(run.kvo.size(), 2u * 42 * 8 * 8) << "records at 0 and 1";
                EXPECT_EQ(run.kvt.size(), 4u);
            }
            EXPECT_EQ(run.failure, first) << threads << " threads";
            EXPECT_TRUE(run.kvo == kvo) << threads << " threads";
        }
        EXPECT_EQ(
            first,
            std::string(notSupported == 9 ? "not supported" : "compute") +
                ": node 9 in reaction record 0 at node (1, 2) in the global step from time 1");
    }
}

// A cancel at each stage of the two-node run: what is left of the run.
TEST(TimeLoop, CancelAtEveryStage) {
    const double reached = 0.1 + 0.1 + 0.1;
    const struct {
        const char* stage;
        std::vector<double> times; // of the records written
        double source;             // of node (0, 0): 0 until the head sweeps run
    } rows[] = {
        {"before the head sweeps", {0}, 0.0},
        {"before the loop", {0}, 1.0 / 3},
        {"in the third step", {0, reached}, 1.0 / 3},
        // Steps of 0.1 add up to just below 1, 5, ...: one step more.
        {"never", {0, 1.1, 2, 3, 4, 5.1, 6.1, 7.1, 8.1, 9.1, 10.1}, 1.0 / 3},
    };
    for (size_t at = 0; at < std::size(rows); ++at) {
        SCOPED_TRACE(rows[at].stage);
        TempDir dir;
        CEngine engine;
        engine.Read(CModelFields().Text());
        if (at == 0)
            engine.control.Cancel();
        engine.Heads();
        EXPECT_NEAR(engine.At(0, 0, SLOT_SOURCE), rows[at].source, 1e-15);
        if (at == 1)
            engine.control.Cancel();
        if (at == 2)
            AddStandInRate(engine, [&](const double*, double*, double) {
                if (engine.sim.m_clock.m_currentTime > 0.15)
                    engine.control.Cancel();
            });
        engine.Finish(dir.File("run"));
        const std::vector<unsigned char> kvt = ReadBinaryFile(dir.File("run.kvt"));
        ASSERT_EQ(kvt.size(), 36 + 8 * rows[at].times.size());
        for (size_t r = 0; r < rows[at].times.size(); ++r)
            EXPECT_NEAR(DoubleAt(kvt, 36 + 8 * r), rows[at].times[r], 1e-9) << "record " << r;
        EXPECT_EQ(ReadBinaryFile(dir.File("run.kvo")).size(), rows[at].times.size() * 16 * 8);
    }
    // Before reading: the header is read, nothing is allocated, nothing written.
    CEngine before;
    before.control.Cancel();
    before.Read(CModelFields().Text());
    EXPECT_EQ(before.sim.m_nRows, 1);
    EXPECT_EQ(before.sim.m_work, nullptr);
    TempDir dir;
    CEngine run(dir.File("m"));
    WriteTextFile(dir.File("m.kvi"), CModelFields().Text());
    run.control.Cancel();
    run.Run();
    EXPECT_EQ(run.control.GetStatus().value(), "Done.");
    EXPECT_EQ(run.control.HasError(), 0);
    EXPECT_FALSE(FileExists(dir.File("m.kvt")));
}

// The time file counts records in 32 bits: a record past that count is a
// failure, not a count that wraps. Without records the last time is the end.
TEST(TimeLoop, TheTimeFileCountsRecordsIn32Bits) {
    TempDir dir;
    CEngine engine;
    engine.Read(Clock(1, 4, 1, 0.5));
    engine.Open(dir.File("run"));
    engine.Close(dir.File("run"));
    std::vector<unsigned char> kvt = ReadBinaryFile(dir.File("run.kvt"));
    ASSERT_EQ(kvt.size(), 36u);
    EXPECT_EQ(DoubleAt(kvt, 20), 4.0);

    engine.Open(dir.File("run"));
    engine.sim.m_clock.m_recordCount = OUTPUT_MAX_RECORDS - 1;
    engine.Record();
    EXPECT_EQ(Outcome([&] { engine.Record(); }),
              "compute: more than 2147483647 output records: the time file cannot count them");
    EXPECT_EQ(engine.sim.m_clock.m_recordCount, OUTPUT_MAX_RECORDS);
    EXPECT_EQ(ReadBinaryFile(dir.File("run.kvt")).size(), 4u);
}

// Each class of failure reaches its report, its error text and its detail.
TEST(TimeLoop, EachFailureClassIsReportedByItsClass) {
    const struct {
        std::function<void()> thrower;
        const char* text;
        const char* error;
    } rows[] = {
        // clang-format off
        {[] { throw TimeException("d"); }, "Time exception was caught", "Time Error"},
        {[] { throw NotSupportedException("d"); }, "Not Supported Exception was caught",
         "Internal Error"},
        {[] { throw InputException("d"); }, "Input Exception was caught", "Input Error"},
        {[] { throw BadFileException("d"); }, "Input Exception was caught", "Input Error"},
        {[] { throw ComputeException("d"); }, "Compute Exception was caught",
         "Computational Error"},
        {[] { throw Exception("d"); }, "general exception was caugh", "Internal Error"}, // sic
        {[] { throw std::runtime_error("d"); }, "general exception was caugh", "Internal Error"},
        // clang-format on
    };
    for (const auto& row : rows) {
        CEngine engine;
        RunReportingFailures(&engine.control, row.thrower);
        ASSERT_EQ(engine.sink.texts.size(), 1u) << row.text;
        EXPECT_EQ(engine.sink.captions[0], "KOVA Compute Error");
        EXPECT_EQ(engine.sink.texts[0], std::string("ERROR - A kova ") + row.text);
        EXPECT_STREQ(engine.control.GetError(), row.error);
        EXPECT_EQ(engine.sink.details[0], "d");
    }
    CEngine quiet;
    RunReportingFailures(&quiet.control, [] {});
    EXPECT_TRUE(quiet.sink.texts.empty());
    EXPECT_EQ(quiet.control.HasError(), 0);
}

} // namespace

// Unless --threads says how many, a grid takes no more threads than give each
// THREADS_MIN_NODES_EACH nodes, and always one.
TEST(DefaultThreads, GiveEachThreadEnoughNodes) {
    const struct {
        int offered, nodes, expected;
    } rows[] = {{2, 2, 1},
                {2, 100, 1},
                {2, THREADS_MIN_NODES_EACH * 2 - 1, 1},
                {2, THREADS_MIN_NODES_EACH * 2, 2},
                {8, THREADS_MIN_NODES_EACH * 5, 5},
                {1, 1000000, 1},
                {4, 0, 1},
                {4, 1000000, 4}};
    for (const auto& row : rows)
        EXPECT_EQ(DefaultThreads(row.offered, row.nodes), row.expected)
            << row.offered << " offered, " << row.nodes << " nodes";
}

// The threads' shares of the nodes start on the reactions' chunks (the
// budget's sums are per chunk, so a share starting inside one would change
// their bits), cover the nodes in order and give each thread about as many.
TEST(NodeShares, StartOnChunksAndCoverTheNodes) {
    const struct {
        int nodes, threads;
        std::vector<int> starts;
    } rows[] = {{10000, 2, {0, 5120, 10000}},
                {1000, 3, {0, 256, 512, 1000}},
                {100, 2, {0, 0, 100}},
                {RXN_NODE_CHUNK * 7, 1, {0, RXN_NODE_CHUNK * 7}},
                {RXN_NODE_CHUNK * 8 + 1, 4, {0, 512, 1024, 1536, 2049}}};
    for (const auto& row : rows) {
        CEngine e;
        e.sim.m_nNodes = row.nodes;
        e.sim.m_nThreads = row.threads;
        std::vector<int> starts;
        for (int t = 0; t <= row.threads; ++t)
            starts.push_back(e.sim.NodeShareStart(t));
        EXPECT_EQ(starts, row.starts) << row.nodes << " nodes, " << row.threads << " threads";
    }
}
