#include "io/reader.h"
#include "model/exceptions.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "rxn/rxn_set.h"
#include "support/in_process.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace kova_test;

namespace {

// Reads text, expects the failure class E and a detail containing `part`.
template <typename E> void ExpectFailure(const std::string& text, const std::string& part) {
    CModelReader r;
    try {
        r.Read(text);
        ADD_FAILURE() << "no failure for:\n" << text;
    } catch (const E& e) {
        EXPECT_NE(e.Detail().find(part), std::string::npos)
            << "detail: " << e.Detail() << "\nmodel:\n"
            << text;
    }
}

TEST(Reader, TheFortyThreeNumberModelLandsInItsFields) {
    CModelReader r;
    r.Read("1 2 0 1 0 1 0 10 1 0.1 1e-6 0 0 10 1 0.1 0 0 0 0.3 1 1 0 0 0 2 0 0 0 10 0 0 7 1 2 0 "
           "0 0 1 0 0 0 0");
    const CSimulation& s = r.sim;
    EXPECT_EQ(s.m_nRows, 1);
    EXPECT_EQ(s.m_nCols, 2);
    EXPECT_EQ(s.m_nImmobile, 0);
    EXPECT_EQ(s.m_nMobile, 1);
    EXPECT_EQ(s.m_nRxn, 0);
    EXPECT_EQ(s.m_nRxnSets, 1);
    EXPECT_EQ(s.m_nComp, 8);
    EXPECT_EQ(s.m_startTime, 0.0);
    EXPECT_EQ(s.m_endTime, 10.0);
    EXPECT_EQ(s.m_outputInterval, 1.0);
    EXPECT_EQ(s.m_globalStep, 0.1);
    EXPECT_EQ(s.m_opzero, 1e-6);
    EXPECT_EQ(s.m_rowCoord[0], 0.0);
    EXPECT_EQ(s.m_colCoord[0], 0.0);
    EXPECT_EQ(s.m_colCoord[1], 10.0);
    EXPECT_EQ(s.m_dispersivityL[0], 1.0);
    EXPECT_EQ(s.m_dispersivityT[0], 0.1);
    EXPECT_EQ(s.m_diffusion[0], 0.0);
    const double node0[8] = {10, 0, 0.3, 1, 1, 0, 0, 1};
    const double node1[8] = {0, 0, 0.3, 1, 1, 0, 0, 0};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(s.m_stateNew[k], node0[k]) << "entry " << k;
        EXPECT_EQ(s.m_stateNew[8 + k], node1[k]) << "entry " << k;
    }
    EXPECT_EQ(s.m_nodeType[0], NODE_HEAD);
    EXPECT_EQ(s.m_nodeType[1], NODE_HEAD);
    EXPECT_EQ(s.m_nodeRxnSet[0], 0);
    EXPECT_EQ(s.m_nodeRxnSet[1], 0);
    EXPECT_EQ(s.m_rxnSets[0]->m_nEqui, 0);
    EXPECT_EQ(s.m_rxnSets[0]->m_nKinetic, 0);
    EXPECT_EQ(s.m_rxnSets[0]->m_firstMobile, 7);
    EXPECT_EQ(r.control.GetStartTime(), 0.0);
    EXPECT_EQ(r.control.GetEndTime(), 10.0);
}

TEST(Reader, IntegersTakeTheBaseOfTheirPrefix) {
    CModelFields m;
    m.header = "01 0x2 0 01 0 0X1"; // octal 1, hex 2, hex 1
    m.overrides = "010  0 0 0 1 0 0 0 2 0 0 0 3 0 0 0 4 0 0 0 5 0 0 0 6 0 0 0 7 0 0 0 8";
    CModelReader r;
    r.Read(m.Text());
    EXPECT_EQ(r.sim.m_nCols, 2);
    EXPECT_EQ(r.sim.m_nRxnSets, 1);
    EXPECT_EQ(r.sim.m_stateNew[0], 8.0);  // eight overrides were read: the last wins
    EXPECT_EQ(r.sim.m_colCoord[1], 10.0); // reals stay decimal: "010" would be ten
}

TEST(Reader, LaterOverridesWinAndRepeatedFixedHeadsAreHarmless) {
    CModelFields m;
    m.overrides = "3  0 1 2 0.4  0 1 2 0.25  0 0 3 5";
    m.fixedHeads = "2  0 1  0 1";
    CModelReader r;
    r.Read(m.Text());
    EXPECT_EQ(r.sim.m_stateNew[8 + 2], 0.25);
    EXPECT_EQ(r.sim.m_stateNew[3], 5.0);
    EXPECT_EQ(r.sim.m_nodeType[0], NODE_NORMAL);
    EXPECT_EQ(r.sim.m_nodeType[1], NODE_HEAD);
}

TEST(Reader, NegativeCountsReadNoRecords) {
    CModelFields m;
    m.overrides = "-3";
    m.fixedHeads = "0";
    m.setOverrides = "-1";
    CModelReader r;
    r.Read(m.Text());
    EXPECT_EQ(r.sim.m_stateNew[0], 0.0);
}

TEST(Reader, OnlyTheLowByteOfAReactionSetIndexIsKept) {
    CModelFields m;
    m.header = "1 2 0 1 0 2";
    m.defaultSet = "256";         // stored as 0
    m.setOverrides = "1 0 1 257"; // stored as 1
    m.sets = "0 0  0 0";
    CModelReader r;
    r.Read(m.Text());
    EXPECT_EQ(r.sim.m_nodeRxnSet[0], 0);
    EXPECT_EQ(r.sim.m_nodeRxnSet[1], 1);
}

TEST(Reader, AFileMayEndWithoutANewline) {
    CModelFields m;
    std::string text = m.Text();
    text.pop_back();
    CModelReader r;
    EXPECT_NO_THROW(r.Read(text));
}

TEST(Reader, HeaderCountsAreCheckedBeforeAllocating) {
    CModelFields m;
    m.header = "0 2 0 1 0 1";
    ExpectFailure<InputException>(m.Text(), "rows 0 below 1 (field 1)");
    m.header = "1 0 0 1 0 1";
    ExpectFailure<InputException>(m.Text(), "columns 0 below 1 (field 2)");
    m.header = "1 2 -1 1 0 1";
    ExpectFailure<InputException>(m.Text(), "immobile components -1");
    m.header = "1 2 0 -1 0 1";
    ExpectFailure<InputException>(m.Text(), "mobile components -1");
    m.header = "1 2 0 1 -2 1";
    ExpectFailure<InputException>(m.Text(), "reactions -2");
    m.header = "1 2 0 1 0 -1";
    ExpectFailure<InputException>(m.Text(), "reaction sets -1");
    m.header = "65536 65536 0 1 0 1";
    ExpectFailure<InputException>(m.Text(), "number of nodes 4294967296 exceeds");
}

TEST(Reader, OutputIntervalMustBePositive) {
    CModelFields m;
    m.times = "0 10 0 0.1 1e-6";
    ExpectFailure<InputException>(m.Text(), "output interval");
    m.times = "0 10 -1 0.1 1e-6";
    ExpectFailure<InputException>(m.Text(), "output interval");
}

TEST(Reader, IndicesOutsideTheGridOrStateVectorAreRefused) {
    CModelFields m;
    m.header = "4 3 0 1 0 1";
    m.rowCoords = "0 1 2 3";
    m.colCoords = "0 1 2";
    m.overrides = "3  0 0 0 1  1 1 0 1  5 0 0 1";
    ExpectFailure<InputException>(m.Text(),
                                  "node index (5, 0) outside the 4 x 3 grid in state override 2");
    m.overrides = "1  0 -1 0 1";
    ExpectFailure<InputException>(m.Text(), "node index (0, -1) outside");
    m.overrides = "1  0 0 8 1";
    ExpectFailure<InputException>(m.Text(), "state entry 8 outside 0..7 in state override 0");
    m.overrides = "1  0 0 -1 1";
    ExpectFailure<InputException>(m.Text(), "state entry -1 outside");
    m.overrides = "0";
    m.fixedHeads = "1  0 3";
    ExpectFailure<InputException>(m.Text(), "node index (0, 3) outside the 4 x 3 grid in fixed");
    m.fixedHeads = "0";
    m.setOverrides = "1 4 0 0";
    ExpectFailure<InputException>(m.Text(), "in reaction-set override 0");
}

TEST(Reader, CoordinatesMustIncreaseStrictly) {
    CModelFields m;
    m.colCoords = "10 10";
    ExpectFailure<InputException>(m.Text(), "column coordinates (field 13) do not increase");
    m.colCoords = "10 0";
    ExpectFailure<InputException>(m.Text(), "column coordinates");
    m.header = "2 2 0 1 0 1";
    m.rowCoords = "5 1";
    m.colCoords = "0 10";
    ExpectFailure<InputException>(m.Text(), "row coordinates (field 12)");
}

TEST(Reader, ReactionSetIndicesMustNameASet) {
    CModelFields m;
    m.defaultSet = "1";
    ExpectFailure<InputException>(m.Text(), "reaction set 1 of node (0, 0) outside 0..0");
    m.defaultSet = "-1"; // low byte 255
    ExpectFailure<InputException>(m.Text(), "reaction set 255");
    // A default that no node keeps is harmless.
    m.setOverrides = "2  0 0 0  0 1 0";
    CModelReader r;
    EXPECT_NO_THROW(r.Read(m.Text()));

    CModelFields none; // nodes but no sets at all
    none.header = "1 2 0 1 0 0";
    none.sets = "";
    ExpectFailure<InputException>(none.Text(), "reaction set 0 of node (0, 0) outside 0..-1");
}

TEST(Reader, ReactionIndicesOfASetMustNameAReaction) {
    CModelFields m;
    m.sets = "1 0  0";
    ExpectFailure<InputException>(
        m.Text(),
        "reaction index 0 outside 0..-1 in the equilibrium list in reaction set record 0");
    m.sets = "0  1 -1";
    ExpectFailure<InputException>(m.Text(), "in the kinetic list in reaction set record 0");
}

TEST(Reader, UnknownReactionTypeCodes) {
    for (const char* code : {"16", "-1", "99"}) {
        CModelFields m;
        m.header = "1 2 0 1 1 1";
        m.reactions = code + std::string(" 0 0 0 0 0 0 0 0");
        ExpectFailure<InputException>(m.Text(), "Unknown Reaction Type (code " + std::string(code) +
                                                    ") in reaction record 0");
    }
}

TEST(Reader, AFailedStreamIsABadFile) {
    CModelFields m;
    // Each cut leaves a field short; the detail names the field.
    m.sets = "";
    ExpectFailure<BadFileException>(m.Text(), "in reaction set record 0 (field 21)");
    m = CModelFields();
    m.sets = "1";
    ExpectFailure<BadFileException>(m.Text(), "equilibrium reaction index 0");
    m = CModelFields();
    m.header = "1 2 0 1 0 2147483648"; // beyond 32 bits
    ExpectFailure<BadFileException>(m.Text(), "header counts");
    m = CModelFields();
    m.colCoords = "0 x";
    ExpectFailure<BadFileException>(m.Text(), "column coordinates (field 13)");
    ExpectFailure<BadFileException>("1 2 0 1 0 1 0 10 1 0.1 1e-6 0 0 10 1 0.1 0 0 0 0.3 1 1 0 0 0 "
                                    "2 0 0 0 10 0 0",
                                    "state override 1 (field 16)");
    ExpectFailure<BadFileException>("", "header counts");
    ExpectFailure<BadFileException>("1 2 0", "header counts");
}

TEST(Reader, MissingStreamFailsBeforeAnyField) {
    CRunControl control("m");
    CSimulation sim(&control);
    std::istringstream in;
    in.setstate(std::ios::failbit);
    EXPECT_THROW(ReadInput(sim, in), BadFileException);
    EXPECT_EQ(control.GetStatus().value(), "Reading Input Data ...");
    EXPECT_EQ(sim.m_nRows, 0);
}

TEST(Reader, CancelBeforeAllocationStopsReading) {
    CModelReader r;
    r.control.Cancel();
    r.Read(CModelFields().Text());
    EXPECT_EQ(r.sim.m_nRows, 1); // the header was read
    EXPECT_EQ(r.sim.m_work, nullptr);
    EXPECT_EQ(r.sim.m_rowCoord, nullptr);
}

} // namespace
