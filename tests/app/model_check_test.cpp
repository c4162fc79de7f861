// The model summary of kova-compute --check and its listing check, on models
// read by the engine's reader.
#include "app/cli_options.h"
#include "app/model_check.h"
#include "io/extension_file.h"
#include "model/exceptions.h"
#include "model/simulation.h"
#include "support/engine.h"

#include <gtest/gtest.h>

#include <string>

using namespace kova_test;

namespace {

// 3 x 4 nodes; entries 7 immobile_0 (biomass), 8 mobile_0 (donor), 9 mobile_1
// (acceptor). Column 0 holds the donor at 5 by a linear assignment (set 1);
// the other nodes degrade it by dual Monod (set 0).
const char* const CHECK_MODEL = R"(3 4 1 2 2 2
0 10 1 0 1e-9
0 1 2
0 1 2 3
1 0.1 0
2 0.2 1e-4
1 0 0.3 1 1 0 0  0.5 0 8
1  0 0 8 5
7  0 0  0 3  1 0  1 1  1 3  2 0  2 3
5  0 0 0 0 0 0 0  0.5 -1 -3  2 0.5 0.25  7 8 9
1  0 0 0 0 0 0 0  0 0 0  8 5
0
3  0 0 1  1 0 1  2 0 1
0  1 0
1 1  0
)";

struct CheckedModel : CEngine {
    explicit CheckedModel(const std::string& text) { Read(text); }
};

void ExpectPart(const std::string& summary, const std::string& part) {
    EXPECT_NE(summary.find(part), std::string::npos) << "missing:\n"
                                                     << part << "\nin:\n"
                                                     << summary;
}

// The grid, counts, times, state and transport; fixed heads as runs of
// columns per group of rows; reactions with their fields by entry name; sets
// with their lists and nodes.
TEST(ModelCheck, SummaryNamesWhatWasRead) {
    CheckedModel m(CHECK_MODEL);
    const std::string s = ModelSummary(m.sim, m.rx, "dir/m");
    for (const char* part :
         {"model: dir/m.kvi\n",
          "grid:\n  rows: 3 (row coordinates 0 .. 2)\n  columns: 4 (column coordinates 0 .. "
          "3)\n  nodes: 12\n",
          "counts:\n  immobile: 1\n  mobile: 2\n  entries per node: 10 (0 head, 1 source, 2 "
          "porosity, 3 k_row, 4 k_col, 5 flux_row, 6 flux_col, 7 immobile_0, 8 mobile_0, 9 "
          "mobile_1)\n",
          "times:\n  start: 0\n  end: 10\n  output interval: 1\n  global step: computed stable "
          "step (0 in the file)\n  opzero: 1e-09\n",
          "  immobile_0 (7): 0.5\n  mobile_0 (8): 0 .. 5\n  mobile_1 (9): 8\n",
          "transport (longitudinal dispersivity, transverse dispersivity, diffusion):\n  "
          "mobile_0 (8): 1, 0.1, 0\n  mobile_1 (9): 2, 0.2, 0.0001\n",
          "fixed heads: 7 nodes\n  row 0: columns 0, 3\n  row 1: columns 0..1, 3\n  row 2: "
          "columns 0, 3\n",
          "reactions: 2\n  reaction 0: CKinDualMonod (type 5, kinetic)\n    coefficients: 0.5 "
          "immobile_0 (7), -1 mobile_0 (8), -3 mobile_1 (9)\n    k: 2\n    Kd: 0.5\n    Ka: "
          "0.25\n    biomass: immobile_0 (7)\n    donor: mobile_0 (8)\n    acceptor: mobile_1 "
          "(9)\n    listed in: set 0 kinetic\n",
          "  reaction 1: CLinAssign (type 1, equilibrium)\n    weights: all 0\n    target: "
          "mobile_0 (8)\n    b: 5\n    listed in: set 1 equilibrium\n",
          "reaction sets: 2\n  set 0: used by 9 nodes\n    equilibrium: none\n    kinetic: 0 "
          "CKinDualMonod\n    nodes:\n      rows 0..2: columns 1..3\n  set 1: used by 3 "
          "nodes\n    equilibrium: 1 CLinAssign\n    kinetic: none\n    nodes:\n      rows "
          "0..2: column 0\n"})
        ExpectPart(s, part);
}

// The transport time shows when the extension file gives it, and only then:
// a summary without the key stays as it was.
TEST(ModelCheck, TheTransportTimeShowsWhenGiven) {
    const struct {
        const char* text;
        const char* expected; // the lines after the scheme's
    } rows[] = {
        {"[transport]\nscheme = \"tvd\"\n", "  transport scheme: tvd\n  entry"},
        {"[transport]\ntime = \"implicit\"\n",
         "  transport scheme: default (not given)\n  transport time: implicit\n"},
        {"[transport]\ntime = \"implicit\"\n",
         "  global step: computed for accuracy, 5 cell passages or a tenth of the run (0 in "
         "the file)\n"},
        {"[transport]\ntime = \"explicit\"\n",
         "  global step: computed stable step (0 in the file)\n"},
        {"[transport]\ntime = \"explicit\"\nscheme = \"symmetric\"\n",
         "  transport scheme: symmetric\n  transport time: explicit\n"},
    };
    for (const auto& row : rows) {
        CheckedModel m(CHECK_MODEL);
        ReadExtension(m.sim, row.text, "dir/m.kvx");
        ExpectPart(ModelSummary(m.sim, m.rx, "dir/m"), row.expected);
    }
}

// The record times and the checkpoints show where the file changes them.
TEST(ModelCheck, RecordTimesAndCheckpointsShowWhenGiven) {
    const struct {
        const char* text;
        const char* expected;
    } rows[] = {
        {"[output]\nexact = true\n",
         "  records: at every output interval from the start, exactly, and at the end time\n"},
        {"[output]\ntimes = [0.5, 2]\ncheckpoint = \"none\"\n",
         "  records: at the start, at 0.5, 2 and at the end time, exactly\n  checkpoint: none\n"},
        {"[output]\ncheckpoint = \"every 3 records\"\n", "  checkpoint: every 3 records\n  entry"},
        {"[output]\ncheckpoint = \"every record\"\n",
         "  transport scheme: default (not given)\n  entry"},
    };
    for (const auto& row : rows) {
        CheckedModel m(CHECK_MODEL);
        ReadExtension(m.sim, row.text, "dir/m.kvx");
        ExpectPart(ModelSummary(m.sim, m.rx, "dir/m"), row.expected);
    }
}

// The inject tables with their nodes and concentrations; a held node's
// source is not known before the heads, and the check says when it is
// checked.
TEST(ModelCheck, InjectionNamesItsNodesAndWhenHeldOnesAreChecked) {
    CTestModel model = CTestModel().Grid(3, 4).Mobile(1, 0.1, 0).Mobile(1, 0.1, 0).Fixed(0, 0);
    model.Fixed(1, 0).Set(0, 1, SLOT_SOURCE, 0.5).Set(2, 3, SLOT_SOURCE, 0.25);
    CheckedModel m(model.Text());
    ReadExtension(m.sim,
                  "[entries]\nmobile = [\"A\", \"B\"]\n"
                  "[[inject]]\nname = \"edge\"\nrectangle = [0, 0, 1, 0]\n"
                  "concentration = { B = 2.5, A = 0 }\n"
                  "[[inject]]\nnodes = [[2, 3], [0, 1]]\nconcentration = { A = 4 }\n",
                  "m.kvx");
    ExpectPart(ModelSummary(m.sim, m.rx, "m"),
               "injection: 2 tables, 4 nodes\n"
               "  edge (inject[0], line 3): rectangle rows 0..1, columns 0..0: 2 nodes\n"
               "    concentration: A (7) 0, B (8) 2.5\n"
               "    2 fixed-head nodes: the source is computed from the heads and checked when "
               "the run starts\n"
               "      rows 0..1: column 0\n"
               "  inject[1] (line 7): nodes (2, 3), (0, 1)\n"
               "    concentration: A (7) 4\n");
}

// The outcome of the listing check on the model text.
std::string ReadAndCheck(const std::string& text) {
    CheckedModel m(text);
    return Outcome([&] { CheckRxnListings(m.sim, m.rx); });
}

std::string WithSets(const std::string& defaultSet, const std::string& sets) {
    std::string text = CHECK_MODEL;
    const std::string tail = "0\n3  0 0 1  1 0 1  2 0 1\n0  1 0\n1 1  0\n";
    text.replace(text.find(tail), tail.size(), defaultSet + "\n0\n" + sets + "\n");
    return text;
}

// A kinetic reaction among the equilibrium ones (or the other way round)
// stops a run at the set's first node; the check says so before, and notes
// it in a set that no node uses.
TEST(ModelCheck, MisplacedReactionsAreFailuresOrNotes) {
    EXPECT_EQ(ReadAndCheck(WithSets("0", "1 0  0  0 0")),
              "input: reaction 0 (CKinDualMonod, kinetic) is listed among the equilibrium "
              "reactions of reaction set 0, which 12 nodes use (field 21): a run would stop at its "
              "first node");
    EXPECT_EQ(
        ReadAndCheck(WithSets("0", "0  1 1  0 0")),
        "input: reaction 1 (CLinAssign, equilibrium) is listed among the kinetic reactions "
        "of reaction set 0, which 12 nodes use (field 21): a run would stop at its first node");
    CheckedModel m(WithSets("1", "1 0  0  0 0"));
    EXPECT_EQ(Outcome([&] { CheckRxnListings(m.sim, m.rx); }), "");
    ExpectPart(ModelSummary(m.sim, m.rx, "m"),
               "  set 0: used by 0 nodes\n    equilibrium: 0 CKinDualMonod\n    kinetic: none\n"
               "    note: reaction 0 (CKinDualMonod, kinetic) cannot serve as an equilibrium "
               "reaction\n  set 1: used by 12 nodes\n");
}

} // namespace
