#include "model/exceptions.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "sim/run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace kova_test;

namespace {

struct Report {
    std::string text;
    std::string error;
    std::string detail;
};

template <typename Thrower> Report Catch(Thrower thrower) {
    CRunControl control("m");
    CRecordingSink sink;
    control.SetMessageSink(&sink);
    RunReportingFailures(&control, thrower);
    EXPECT_EQ(sink.captions.size(), 1u);
    EXPECT_EQ(sink.captions.at(0), "KOVA Compute Error");
    EXPECT_EQ(control.HasError(), 1);
    return {sink.texts.at(0), control.GetError(), sink.details.at(0)};
}

TEST(RunSequence, EachFailureClassReachesItsTexts) {
    Report r = Catch([] { throw TimeException("limit"); });
    EXPECT_EQ(r.text, "ERROR - A kova Time exception was caught");
    EXPECT_EQ(r.error, "Time Error");
    EXPECT_EQ(r.detail, "limit");

    r = Catch([] { throw NotSupportedException("CRxn does not support kinetic reactions"); });
    EXPECT_EQ(r.text, "ERROR - A kova Not Supported Exception was caught");
    EXPECT_EQ(r.error, "Internal Error");
    EXPECT_EQ(r.detail, "CRxn does not support kinetic reactions");

    r = Catch([] { throw InputException("rows 0 below 1 (field 1)"); });
    EXPECT_EQ(r.text, "ERROR - A kova Input Exception was caught");
    EXPECT_EQ(r.error, "Input Error");

    r = Catch([] { throw BadFileException(); });
    EXPECT_EQ(r.text, "ERROR - A kova Input Exception was caught");
    EXPECT_EQ(r.error, "Input Error");
    EXPECT_EQ(r.detail, "Bad File");

    r = Catch([] { throw ComputeException("Local Timestep reduced below opzero"); });
    EXPECT_EQ(r.text, "ERROR - A kova Compute Exception was caught");
    EXPECT_EQ(r.error, "Computational Error");

    r = Catch([] { throw Exception(); });
    EXPECT_EQ(r.text, "ERROR - A kova general exception was caugh"); // sic, no final t
    EXPECT_EQ(r.error, "Internal Error");
    EXPECT_EQ(r.detail, "");

    r = Catch([] { throw std::runtime_error("out of memory"); });
    EXPECT_EQ(r.text, "ERROR - A kova general exception was caugh");
    EXPECT_EQ(r.error, "Internal Error");
    EXPECT_EQ(r.detail, "out of memory");
}

TEST(RunSequence, NoFailureReportsNothing) {
    CRunControl control("m");
    CRecordingSink sink;
    control.SetMessageSink(&sink);
    RunReportingFailures(&control, [] {});
    EXPECT_TRUE(sink.texts.empty());
    EXPECT_EQ(control.HasError(), 0);
}

TEST(RunSequence, WhereIsAppendedToTheDetail) {
    InputException e("Unknown Reaction Type (code 16)");
    e.AddWhere("in reaction record 3");
    EXPECT_EQ(e.Detail(), "Unknown Reaction Type (code 16) in reaction record 3");
    Exception empty;
    empty.AddWhere("in field 12");
    EXPECT_EQ(empty.Detail(), "in field 12");
}

TEST(RunSequence, MissingFileStopsWhileReadingAndFreesTheModel) {
    TempDir dir;
    const std::string base = dir.File("absent");
    CRunControl control(base.c_str());
    CRecordingSink sink;
    control.SetMessageSink(&sink);
    CSimulation sim(&control);
    RunSimulation(sim);
    EXPECT_EQ(control.GetStatus().value(), "Reading Input Data ...");
    EXPECT_STREQ(control.GetError(), "Input Error");
    ASSERT_EQ(sink.texts.size(), 1u);
    EXPECT_EQ(sink.texts[0], "ERROR - A kova Input Exception was caught");
    EXPECT_EQ(sim.m_work, nullptr);
    EXPECT_FALSE(FileExists(base + ".kvo"));
    EXPECT_FALSE(FileExists(base + ".kvt"));
}

TEST(RunSequence, CancelBeforeTheRunSkipsEveryStageAndEndsDone) {
    TempDir dir;
    const std::string base = dir.File("model");
    WriteTextFile(base + ".kvi", TWO_NODE_MODEL);
    CRunControl control(base.c_str());
    CRecordingSink sink;
    control.SetMessageSink(&sink);
    control.Cancel();
    CSimulation sim(&control);
    RunSimulation(sim);
    EXPECT_EQ(control.GetStatus().value(), "Done.");
    EXPECT_EQ(control.HasError(), 0);
    EXPECT_TRUE(sink.texts.empty());
    EXPECT_EQ(sim.m_nNodes, 0);
    EXPECT_FALSE(FileExists(base + ".kvo"));
}

TEST(RunSequence, SimulationThreadMarksTheWorkerFinished) {
    TempDir dir;
    const std::string base = dir.File("absent");
    CRunControl control(base.c_str());
    CRecordingSink sink;
    control.SetMessageSink(&sink);
    control.StartWorker(SimulationThread);
    control.JoinWorker();
    EXPECT_EQ(control.IsRunning(), 0);
    EXPECT_STREQ(control.GetError(), "Input Error");
}

} // namespace
