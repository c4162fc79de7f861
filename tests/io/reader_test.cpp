// Reading the model file: what a file says lands where it belongs, and every
// number that cannot serve is refused where it is read, naming its field and
// record, before anything is sized by it.
#include "rxn/rxn_set.h"
#include "support/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

using namespace kova_test;

namespace {

using CField = std::string CModelFields::*;
const CField HEADER = &CModelFields::header;
const CField TIMES = &CModelFields::times;
const CField ROWS = &CModelFields::rowCoords;
const CField COLS = &CModelFields::colCoords;
const CField TRANSPORT = &CModelFields::transport;
const CField DEFAULTS = &CModelFields::defaults;
const CField OVERRIDES = &CModelFields::overrides;
const CField FIXED = &CModelFields::fixedHeads;
const CField REACTIONS = &CModelFields::reactions;
const CField DEFAULT_SET = &CModelFields::defaultSet;
const CField SET_OVERRIDES = &CModelFields::setOverrides;
const CField SETS = &CModelFields::sets;

// The two-node example with some of its fields replaced.
std::string Model(std::initializer_list<std::pair<CField, std::string>> changes) {
    CModelFields fields;
    for (const auto& change : changes)
        fields.*(change.first) = change.second;
    return fields.Text();
}

// A grid of 4 x 3 nodes, for indices outside it.
std::string Grid(CField field, const std::string& value) {
    return Model({{HEADER, "4 3 0 1 0 1"},
                  {ROWS, "0 1 2 3"},
                  {COLS, "0 1 2"},
                  {OVERRIDES, "0"},
                  {FIXED, "0"},
                  {field, value}});
}

// The rest of a one-node model after its header: no mobile component, no
// reactions, one empty set.
const std::string ONE_NODE = "\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n0\n0\n0\n0\n0 0\n";
const std::string FRONT = "1 1 0 0 1 1\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n";
const std::string S8 = "0 0 0 0 0 0 0 -1 ";

TEST(Reader, RefusesWhatCannotServeNamingFieldAndRecord) {
    const struct {
        std::string text;
        const char* failure; // the class and a part of the detail
        uint64_t memory = 0; // the arrays' budget; 0: the machine's
    } rows[] = {
        // The header, refused before anything is allocated.
        // Physical values no aquifer has, with the value and its place.
        {Model({{DEFAULTS, "0 0 0 1 1 0 0 0"}}),
         "input: porosity 0 of node (0, 0) not above 0 (fields 15-16, entry 2)"},
        {Model({{OVERRIDES, "1  0 1 2 -0.5"}}), "input: porosity -0.5 of node (0, 1) not above 0"},
        {Model({{OVERRIDES, "1  0 1 2 30"}}),
         "input: porosity 30 of node (0, 1) above 1; porosity is a fraction of the volume"},
        {Model({{OVERRIDES, "1  0 1 2 1.0000000000000002"}}),
         "input: porosity 1.0000000000000002 of node (0, 1) above 1"},
        {Model({{OVERRIDES, "1  0 1 3 -1e-3"}}),
         "input: conductivity k_row -0.001 of node (0, 1) below 0 (fields 15-16, entry 3)"},
        {Model({{DEFAULTS, "0 0 0.3 1 -2 0 0 0"}}), "input: conductivity k_col -2 of node (0, 0)"},
        {Model({{TRANSPORT, "-1 0.1 0"}}),
         "input: longitudinal dispersivity -1 of mobile component 0 below 0 (field 14)"},
        {Model({{TRANSPORT, "1 -0.5 0"}}), "input: transverse dispersivity -0.5 of mobile"},
        {Model({{TRANSPORT, "1 0.1 -2"}}), "input: diffusion coefficient -2 of mobile component 0"},
        {Model({{TIMES, "0 10 1 0.1 0"}}), "input: opzero 0 not above 0 (field 11)"},
        {Model({{TIMES, "0 10 1 0.1 -1"}}), "input: opzero -1 not above 0 (field 11)"},
        {Model({{HEADER, "0 2 0 1 0 1"}}), "input: rows 0 below 1 (field 1)"},
        {Model({{HEADER, "1 0 0 1 0 1"}}), "input: columns 0 below 1 (field 2)"},
        {Model({{HEADER, "1 2 -1 1 0 1"}}), "input: immobile components -1 below 0"},
        {Model({{HEADER, "1 2 0 -1 0 1"}}), "input: mobile components -1 below 0"},
        {Model({{HEADER, "1 2 0 1 -2 1"}}), "input: reactions -2 below 0 (field 5)"},
        {Model({{HEADER, "1 2 0 1 0 -1"}}), "input: reaction sets -1 below 0"},
        {"1 1 0 0 1000000 1" + ONE_NODE,
         "input: reactions 1000000 above the limit of 65536 (field 5)"},
        {"1 1 0 0 0 1000000" + ONE_NODE,
         "input: reaction sets 1000000 above the limit of 65536 (field 6)"},
        {"65536 65536 0 1 0 1" + ONE_NODE, "input: number of nodes 4294967296 exceeds the limit"},
        // 129 x 2147483647 nodes: a band size beyond 64 bits once came first (a fuzzing find).
        {"129 2147483647 0 0 0 1" + ONE_NODE, "input: number of nodes 277025390463 exceeds"},
        {"2147483647 2 0 0 0 1" + ONE_NODE,
         "input: number of nodes 4294967294 exceeds the limit of 2147483647"},
        {"1 1 2147483647 2147483647 0 1" + ONE_NODE,
         "input: state entries per node 4294967301 exceeds"},
        {"1000000000 1 0 1 0 1" + ONE_NODE, "input: number of state values 8000000000 exceeds"},
        {"31623 31623 0 0 0 1" + ONE_NODE, "input: number of state values 7000098903 exceeds"},
        // The band would not fit either: the step arrays alone size the buffer.
        {"1 150000000 3 0 0 1" + ONE_NODE, "input: work buffer size 3000000000 exceeds"},
        // 10000 nodes: the band matrix alone is 16 MB.
        {"100 100 0 1 0 1" + ONE_NODE, "input: the model's arrays need ", 1 << 20},
        // 1000 sets of five work arrays of 100007 doubles: 4 GB.
        {"1 1 100000 0 0 1000" + ONE_NODE, "input: the model's arrays need ", 64 << 20},
        {"1 2 0 1 0 2147483648" + ONE_NODE,
         "bad file: Bad File: missing or malformed number in the header counts"},
        {"", "bad file: Bad File: missing or malformed number in the header counts"},
        {Model({{TIMES, "0 10 0 0.1 1e-6"}}),
         "input: output interval must be greater than 0 (field 9)"},
        {Model({{TIMES, "0 10 -1 0.1 1e-6"}}), "input: output interval must be greater than 0"},
        // The stable step would be the whole duration, which overflows.
        {Model({{TIMES, "-1e308 1e308 4e307 0 1e-6"}}),
         "input: end time 1e+308 minus start time -1e+308 overflows (fields 7-8)"},
        {Model({{TIMES, "-1e308 1e308 4e307 -1 1e-6"}}),
         "input: end time 1e+308 minus start time -1e+308 overflows (fields 7-8)"},
        // Then the fields in their order.
        {Model({{COLS, "10 10"}}),
         "input: column coordinates (field 13) do not increase strictly at index 1"},
        {Model({{COLS, "10 0"}}), "input: column coordinates (field 13) do not increase"},
        {Model({{HEADER, "2 2 0 1 0 1"}, {ROWS, "5 1"}}),
         "input: row coordinates (field 12) do not"},
        {Model({{COLS, "-1e308 1e308"}}),
         "input: column coordinates (field 13): the distance between index 0 (-1e+308) and index 1 "
         "(1e+308) overflows"},
        // Neighbours 1e308 apart, but the middle cell spans both distances.
        {Model({{HEADER, "3 1 0 1 0 1"}, {ROWS, "-1e308 0 1e308"}, {COLS, "0"}}),
         "input: row coordinates (field 12): the distance between index 0"},
        {Model({{HEADER, "2 2 0 1 0 1"}, {ROWS, "0 1e200"}, {COLS, "0 1e200"}}),
         "input: along the columns, give an area that overflows (fields 12-13)"},
        {Model({{COLS, "0 x"}}),
         "bad file: Bad File: missing or malformed number in the column coordinates (field 13)"},
        {Grid(OVERRIDES, "3  0 0 0 1  1 1 0 1  5 0 0 1"),
         "input: node index (5, 0) outside the 4 x 3 grid in state override 2 (field 16)"},
        {Grid(OVERRIDES, "1  0 -1 0 1"), "input: node index (0, -1) outside the 4 x 3 grid"},
        {Grid(OVERRIDES, "1  0 3 0 1"), "input: node index (0, 3) outside the 4 x 3 grid"},
        {Grid(OVERRIDES, "1  4 0 0 1"), "input: node index (4, 0) outside the 4 x 3 grid"},
        {Grid(OVERRIDES, "1  0 0 8 1"), "input: state entry 8 outside 0..7 in state override 0"},
        {Grid(OVERRIDES, "1  0 0 -1 1"), "input: state entry -1 outside 0..7"},
        {Grid(FIXED, "1  0 3"),
         "input: node index (0, 3) outside the 4 x 3 grid in fixed-head node 0 (field 17)"},
        {Grid(SET_OVERRIDES, "1 4 0 0"),
         "input: node index (4, 0) outside the 4 x 3 grid in reaction-set override 0 (field 20)"},
        {Model({{DEFAULT_SET, "1"}}), "input: reaction set 1 of node (0, 0) outside 0..0"},
        {Model({{DEFAULT_SET, "-1"}}),
         "input: reaction set 255 of node (0, 0) outside 0..0"}, // the low byte
        {Model({{HEADER, "1 2 0 1 0 0"}, {SETS, ""}}),
         "input: reaction set 0 of node (0, 0) outside 0..-1"},
        {Model({{SETS, "1 0  0"}}),
         "input: reaction index 0 outside 0..-1 in the equilibrium list in reaction set record 0 "
         "(field 21)"},
        {Model({{SETS, "0  1 -1"}}),
         "input: reaction index -1 outside 0..-1 in the kinetic list in reaction set record 0"},
        {Model({{SETS, ""}}), "bad file: Bad File: missing count of equilibrium "
                              "reactions in reaction set record 0 (field 21)"},
        {Model({{SETS, "1"}}),
         "bad file: Bad File: missing equilibrium reaction index 0 in reaction set record 0"},
        {"1 2 0 1 0 1 0 10 1 0.1 1e-6 0 0 10 1 0.1 0 0 0 0.3 1 1 0 0 0 2 0 0 0 10 0 0",
         "bad file: Bad File: missing or malformed number in state override 1 (field 16)"},
        // Counts that promise more records than the file holds.
        {"1 1 0 0 0 1\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n2147483647\n0 0 0 1\n",
         "bad file: Bad File: missing or malformed number in state override 1"},
        {"1 1 0 0 0 1\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n0\n2147483647\n",
         "bad file: Bad File: missing or malformed number in fixed-head node 0 (field 17)"},
        {"1 1 0 0 0 1\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n0\n0\n0\n2147483647\n",
         "bad file: Bad File: missing or malformed number in reaction-set override 0 (field 20)"},
        {FRONT + "0\n0\n14  0 0 0 0 0 0 0  1 -1 -1 2147483647  0 1  1 1\n",
         "bad file: Bad File: missing rule curve point 2 in reaction record 0"},
        {FRONT + "0\n0\n2  0 0 0 0 0 0 0  1 0 1\n0\n0\n2147483647 0 0\n",
         "bad file: Bad File: missing equilibrium reaction index 2 in reaction set record 0"},
        // At the limit of 65536 reactions the header passes; the records are missing.
        {"1 1 0 0 65536 1\n0 10 1 0.1 1e-6\n0\n0\n0 0 0.3 1 1 0 0\n0\n0\n",
         "bad file: Bad File: missing or malformed type code in reaction record 0"},
        // Reactions, their failures with their place.
        {Model({{HEADER, "1 2 0 1 1 1"}, {REACTIONS, "16 0 0 0 0 0 0 0 0"}}),
         "input: Unknown Reaction Type (code 16) in reaction record 0 (field 18)"},
        {Model({{HEADER, "1 2 0 1 1 1"}, {REACTIONS, "-1 0 0 0 0 0 0 0 0"}}),
         "input: Unknown Reaction Type (code -1) in reaction record 0"},
        {Model(
             {{HEADER, "1 2 0 1 2 1"}, {REACTIONS, "2 " + S8 + "1 7 0.5\n4 " + S8 + "0.5 1 -1 8"}}),
         "input: substrate index 8 outside 0..7 in reaction record 1 (field 18)"},
        {Model({{HEADER, "1 2 0 1 1 1"}, {REACTIONS, "0 " + S8 + "0 0 0 0 0 0 0 1  0"}}),
         "input: Equilibrium Equaitons must have a positive Keq in reaction record 0 (field 18)"},
        // A linear assignment does not look at its constant; the next reader does.
        {Model({{HEADER, "1 2 0 1 2 1"}, {REACTIONS, "1 " + S8 + "7 x\n1 " + S8 + "7 0"}}),
         "bad file: Bad File: missing or malformed type code in reaction record 1 (field 18)"},
        {Model({{HEADER, "1 2 0 1 1 1"},
                {REACTIONS, "14 " + S8 + "0 -1 -1 1  0 1"},
                {SETS, "1 0  0"}}),
         "input: a rule curve of kind 0 has no target component and cannot be listed among the "
         "equilibrium reactions (use a negative kind) in reaction set record 0"},
    };
    for (const auto& row : rows) {
        CEngine engine;
        engine.sim.m_settings.m_memoryLimit = row.memory;
        const std::string outcome = Outcome([&] { engine.Read(row.text); });
        const std::string expected = row.failure;
        const size_t part = expected.find(": ") + 2; // the class, then a part of the detail
        EXPECT_TRUE(outcome.rfind(expected.substr(0, part), 0) == 0 &&
                    outcome.find(expected.substr(part)) != std::string::npos)
            << outcome << "\nfor:\n"
            << row.text;
        // Refused at the header: nothing was allocated.
        if (row.text.size() > ONE_NODE.size() &&
            row.text.compare(row.text.size() - ONE_NODE.size(), ONE_NODE.size(), ONE_NODE) == 0) {
            EXPECT_EQ(engine.sim.m_work, nullptr) << row.text;
        }
    }
}

TEST(Reader, NumbersTheStreamCannotHoldAreBadFilesNamingTheField) {
    const struct {
        CField field;
        std::string before, after;
        const char* place;
    } fields[] = {
        {TIMES, "", " 10 1 0.1 1e-6", "header times (fields 7-11)"},
        {TIMES, "0 10 1 ", " 1e-6", "header times"},
        {TIMES, "0 10 1 0.1 ", "", "header times"},
        {ROWS, "", "", "row coordinates (field 12)"},
        {COLS, "0 ", "", "column coordinates (field 13)"},
        {TRANSPORT, "1 ", " 0", "transport parameters (field 14)"},
        {DEFAULTS, "0 0 ", " 1 1 0 0 0", "default state vector (field 15)"},
        {OVERRIDES, "1  0 0 7 ", "", "state override 0 (field 16)"},
    };
    for (const char* bad : {"nan", "inf", "-inf", "1e999", "-1e999"}) {
        for (const auto& f : fields) {
            const std::string text = Model({{f.field, f.before + bad + f.after}});
            const std::string outcome = ReadOutcome(text);
            EXPECT_TRUE(outcome.rfind("bad file: ", 0) == 0 &&
                        outcome.find(f.place) != std::string::npos)
                << bad << ": " << outcome;
        }
        const std::string reaction = Model(
            {{HEADER, "1 2 0 1 1 1"}, {REACTIONS, "2  0 0 0 0 0 0 0 1  1 7 " + std::string(bad)}});
        EXPECT_EQ(ReadOutcome(reaction), "bad file: Bad File in reaction record 0 (field 18)");
    }
}

TEST(Reader, WhatTheFileSaysLandsInItsFields) {
    // The 43 numbers of the two-node example, without a final newline.
    CEngine e;
    e.Read("1 2 0 1 0 1 0 10 1 0.1 1e-6 0 0 10 1 0.1 0 0 0 0.3 1 1 0 0 0 2 0 0 0 10 0 0 7 1 2 0 0 "
           "0 1 0 0 0 0");
    const CSimulation& s = e.sim;
    EXPECT_EQ(s.m_nComp, 8);
    EXPECT_EQ(s.m_nRxnSets, 1);
    EXPECT_EQ((std::vector<double>{s.m_settings.m_endTime, s.m_settings.m_outputInterval,
                                   s.m_clock.m_globalStep, s.m_settings.m_opzero}),
              (std::vector<double>{10, 1, 0.1, 1e-6}));
    EXPECT_EQ(s.m_grid.m_colCoord[1], 10.0);
    EXPECT_EQ((std::vector<double>{s.m_dispersivityL[0], s.m_dispersivityT[0], s.m_diffusion[0]}),
              (std::vector<double>{1, 0.1, 0}));
    EXPECT_EQ(std::vector<double>(s.m_stateNew.get(), s.m_stateNew.get() + 16),
              (std::vector<double>{10, 0, 0.3, 1, 1, 0, 0, 1, 0, 0, 0.3, 1, 1, 0, 0, 0}));
    EXPECT_EQ(s.m_grid.m_nodeType[0] + s.m_grid.m_nodeType[1], 2 * NODE_HEAD);
    EXPECT_EQ(e.rx.m_sets[0]->m_firstMobile, 7);
    EXPECT_EQ(e.control.GetEndTime(), 10.0);

    // Integers take the base of their prefix (octal 010 overrides: eight),
    // reals stay decimal; later overrides win; a fixed head may repeat.
    CEngine prefixed;
    prefixed.Read(Model({{HEADER, "01 0x2 0 01 0 0X1"},
                         {COLS, "0 010"},
                         {OVERRIDES, "010  0 0 0 1 0 0 0 2 0 0 0 3 0 0 0 4 0 0 0 5 "
                                     "0 0 0 6 0 1 2 0.4 0 1 2 0.25"},
                         {FIXED, "2  0 1  0 1"}}));
    EXPECT_EQ(prefixed.sim.m_nCols, 2);
    EXPECT_EQ(prefixed.sim.m_grid.m_colCoord[1], 10.0);
    EXPECT_EQ(prefixed.At(0, 0, SLOT_HEAD), 6.0);
    EXPECT_EQ(prefixed.At(0, 1, 2), 0.25);
    EXPECT_EQ(prefixed.sim.m_grid.m_nodeType[0], NODE_NORMAL);
    EXPECT_EQ(prefixed.sim.m_grid.m_nodeType[1], NODE_HEAD);

    // Only the low byte of a set index is kept; negative counts read nothing.
    CEngine sets;
    sets.Read(Model({{HEADER, "1 2 0 1 0 2"},
                     {OVERRIDES, "-3"},
                     {FIXED, "-1"},
                     {DEFAULT_SET, "256"},
                     {SET_OVERRIDES, "1 0 1 257"},
                     {SETS, "0 0  0 0"}}));
    EXPECT_EQ(sets.sim.m_nodeRxnSet[0], 0);
    EXPECT_EQ(sets.sim.m_nodeRxnSet[1], 1);
    EXPECT_EQ(sets.At(0, 0, SLOT_HEAD), 0.0);

    // A default that no node keeps is harmless; so are huge finite spans.
    EXPECT_EQ("", ReadOutcome(Model({{DEFAULT_SET, "1"}, {SET_OVERRIDES, "2  0 0 0  0 1 0"}})));
    EXPECT_EQ("", ReadOutcome(Model({{HEADER, "5 1 0 1 0 1"},
                                     {ROWS, "-1e308 -1e307 0 1e307 1e308"},
                                     {FIXED, "1  0 0"},
                                     {COLS, "0"}})));
    EXPECT_EQ("",
              ReadOutcome(Model({{HEADER, "2 2 0 1 0 1"}, {ROWS, "0 1e150"}, {COLS, "0 1e150"}})));
    CEngine fits; // in a budget of 1 MiB
    fits.sim.m_settings.m_memoryLimit = 1 << 20;
    EXPECT_EQ(Outcome([&] { fits.Read("1 1 0 0 0 1" + ONE_NODE); }), "");
}

} // namespace

// A process of a run over several processes reads the whole file (and
// refuses what is malformed in it) but stores, checks and budgets memory for
// the nodes it holds only: one that takes its state from rank 0 holds none,
// and a porosity of 0 it does not hold is not its to refuse.
TEST(Reader, AProcessStoresChecksAndBudgetsOnlyTheNodesItHolds) {
    const std::string zeroPorosity = Grid(OVERRIDES, "2  3 2 2 0  1 1 0 4.5");
    EXPECT_NE(ReadOutcome(zeroPorosity).find("porosity 0 of node (3, 2)"), std::string::npos)
        << ReadOutcome(zeroPorosity);

    const auto none = [](int, int) { return CNodeRange{0, 0}; };
    CEngine rank;
    rank.sim.m_holdOnRead = none;
    rank.Read(zeroPorosity);
    const CSimulation& s = rank.sim;
    EXPECT_EQ(s.m_heldEnd - s.m_heldFirst, 0);
    const double* state = s.m_stateNew.get();
    EXPECT_EQ(std::count(state, state + s.m_nValues, 0.0), s.m_nValues);

    // Then it holds the rows rank 0 sends, each node at a full local step.
    rank.sim.HoldNodes(3, 9);
    for (int n = 0; n < s.m_nNodes; ++n)
        EXPECT_EQ(s.m_localFraction[ToSize(n)], s.Holds(n) ? 1.0 : 0.0) << "node " << n;
    EXPECT_EQ(s.Holds(2) || s.Holds(9), false);
    EXPECT_EQ(s.Holds(3) && s.Holds(8), true);

    // Its arrays' budget counts the nodes it holds: a tenth of a model too
    // large for the budget fits.
    for (const bool tenth : {false, true}) {
        CEngine part;
        part.sim.m_settings.m_memoryLimit = 4 << 20;
        if (tenth)
            part.sim.m_holdOnRead = [](int, int cols) { return CNodeRange{0, 10 * cols}; };
        const std::string outcome = Outcome([&] { part.Read("100 100 0 1 0 1" + ONE_NODE); });
        EXPECT_EQ(outcome.find("arrays need") == std::string::npos, tenth) << outcome;
    }

    // A malformed override is still refused where it is read.
    CEngine malformed;
    malformed.sim.m_holdOnRead = none;
    EXPECT_THROW(malformed.Read(Grid(OVERRIDES, "1  4 0 2 0.3")), InputException);
}
