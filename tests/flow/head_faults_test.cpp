// Heads that no equation determines, or that are not finite, end the run as a
// computational error naming a node, on the band path and the sparse path
// alike; nodes without any conductance are batch reactors and stay valid.
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "support/engine.h"

#include <gtest/gtest.h>

#include <string>

using namespace kova_test;

namespace {

// The detail of the ComputeException of the initial heads; empty when none.
std::string HeadFailure(const CTestModel& model, bool sparse) {
    CEngine engine;
    if (sparse)
        engine.sim.m_headBandMaxBytes = 0;
    engine.Read(model);
    EXPECT_EQ(engine.sim.m_headSolve, sparse ? EHeadSolve::SPARSE : EHeadSolve::BAND);
    try {
        engine.Heads();
    } catch (const ComputeException& e) {
        return e.Detail();
    }
    return "";
}

// A 3 x 4 grid whose second column is a wall of zero conductivity.
CTestModel Walled() {
    CTestModel model;
    model.rows = 3;
    model.cols = 4;
    for (int i = 0; i < 3; ++i) {
        model.overrides.push_back({i, 1, SLOT_KROW, 0.0});
        model.overrides.push_back({i, 1, SLOT_KCOL, 0.0});
    }
    return model;
}

TEST(HeadFaults, UnheldAndNonFiniteHeadsOnBothPaths) {
    CTestModel noFixedHead;
    noFixedHead.rows = 2;
    noFixedHead.cols = 3;
    CTestModel cutOff = Walled();
    cutOff.fixedHeads = {{0, 0}, {1, 0}, {2, 0}};
    CTestModel heldBeyondTheWall = cutOff;
    heldBeyondTheWall.fixedHeads.push_back({2, 3});
    CTestModel batch = Walled();
    batch.conductivity = 0.0; // every node alone: no fixed head needed
    CTestModel hugeHead;
    hugeHead.cols = 3;
    hugeHead.overrides = {{0, 0, SLOT_HEAD, 1e308}, {0, 2, SLOT_HEAD, -1e308}};
    hugeHead.fixedHeads = {{0, 0}, {0, 2}};

    const struct {
        const char* name;
        CTestModel model;
        const char* detail; // "" for heads that solve
    } cases[] = {
        {"no fixed head", noFixedHead,
         "the heads of the 6 coupled nodes from node (0, 0) on are "
         "held by no fixed head"},
        {"cut off", cutOff,
         "the heads of the 6 coupled nodes from node (0, 2) on are held by no "
         "fixed head: the head equations have no unique solution"},
        {"held beyond the wall", heldBeyondTheWall, ""},
        {"batch reactors", batch, ""},
        {"huge fixed heads", hugeHead, ", not a finite number"},
    };
    for (const auto& c : cases)
        for (bool sparse : {false, true}) {
            const std::string detail = HeadFailure(c.model, sparse);
            if (*c.detail == '\0')
                EXPECT_EQ(detail, "") << c.name << (sparse ? " (sparse)" : " (band)");
            else
                EXPECT_NE(detail.find(c.detail), std::string::npos)
                    << c.name << (sparse ? " (sparse)" : " (band)") << ": " << detail;
        }
}

} // namespace
