// The extension file: what it says lands in the model, and every key that
// cannot serve is refused naming the key and its line.
#include "io/extension_file.h"
#include "support/engine.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace kova_test;

namespace {

// Three rows at y 0, 10, 30 and four columns at x 0, 1, 2, 3; one immobile
// and two mobile entries.
CTestModel Grid() {
    CTestModel m;
    m.Grid(3, 4, {0, 10, 30}, {0, 1, 2, 3});
    m.nImmobile = 1;
    m.Mobile(1, 0.1, 0).Mobile(1, 0.1, 0);
    return m;
}

std::string ReadOutcomeOf(const std::string& text) {
    CEngine engine;
    engine.Read(Grid());
    return Outcome([&] { ReadExtension(engine.sim, text, "m.kvx"); });
}

struct CRefusal {
    const char* name;
    std::string text;
    std::string detail; // the outcome starts with it
};

class Refusals : public ::testing::TestWithParam<CRefusal> {};

TEST_P(Refusals, NameTheKeyAndItsLine) {
    EXPECT_EQ(ReadOutcomeOf(GetParam().text).rfind(GetParam().detail, 0), 0u)
        << ReadOutcomeOf(GetParam().text);
}

const CRefusal REFUSALS[] = {
    {"unknown_table", "[units]\nmass = \"kg\"\n[transprt]\n",
     "input: key transprt (line 3): unknown key (known here: units, aquifer, entries, observe, "
     "transport, inject, reactions, output)"},
    {"checkpoint_every_zero", "[output]\ncheckpoint = \"every 0 records\"\n",
     "input: key output.checkpoint (line 2): must be \"every record\", \"every N records\""},
    {"checkpoint_every_word", "[output]\n\ncheckpoint = \"every second\"\n",
     "input: key output.checkpoint (line 3): must be \"every record\""},
    {"checkpoint_every_n_record", "[output]\ncheckpoint = \"every 2 record\"\n",
     "input: key output.checkpoint (line 2): must be"},
    {"checkpoint_count_too_long", "[output]\ncheckpoint = \"every 1234567890 records\"\n",
     "input: key output.checkpoint (line 2): must be"},
    {"checkpoint_a_number", "[output]\ncheckpoint = 3\n",
     "input: key output.checkpoint (line 2): must be a string, not an integer"},
    {"output_key_misspelt", "[output]\ncheckpoints = \"none\"\n",
     "input: key output.checkpoints (line 2): unknown key (known here: checkpoint, exact, times)"},
    {"exact_a_string", "[output]\nexact = \"yes\"\n",
     "input: key output.exact (line 2): must be true or false, not a string"},
    {"exact_with_times", "[output]\nexact = true\ntimes = [1]\n",
     "input: key output.exact (line 2): goes with the output interval"},
    {"times_empty", "[output]\ntimes = []\n",
     "input: key output.times (line 2): must name at least one time"},
    {"times_not_a_list", "[output]\ntimes = 5\n",
     "input: key output.times (line 2): must be an array of times, not an integer"},
    {"time_at_the_start", "[output]\ntimes = [0, 1]\n",
     "input: key output.times[0] (line 2): 0 is not a time after the start time 0"},
    {"times_out_of_order", "[output]\ntimes = [0.5, 0.25]\n",
     "input: key output.times[1] (line 2): 0.25 is not a time after the time before it, 0.5"},
    {"time_twice", "[output]\ntimes = [0.5, 0.5]\n",
     "input: key output.times[1] (line 2): 0.5 is not a time after the time before it"},
    {"time_past_the_end", "[output]\ntimes = [0.5, 100]\n",
     "input: key output.times[1] (line 2): 100 is not a time after the time before it, 0.5 "
     "and at most the end time"},
    {"time_not_a_number", "[output]\ntimes = [0.5, \"1\"]\n",
     "input: key output.times[1] (line 2): must be a number, not a string"},
    {"time_infinite", "[output]\ntimes = [inf]\n",
     "input: key output.times[0] (line 2): inf is not a time"},
    {"scheme_unknown", "[transport]\nscheme = \"upwind\"\n",
     "input: key transport.scheme (line 2): must be \"default\", \"symmetric\" or \"tvd\""},
    {"scheme_not_a_string", "[transport]\n\nscheme = 1\n",
     "input: key transport.scheme (line 3): must be a string, not an integer"},
    {"transport_key_misspelt", "[transport]\nschme = \"tvd\"\n",
     "input: key transport.schme (line 2): unknown key (known here: scheme, time)"},
    {"time_unknown", "[transport]\ntime = \"crank-nicolson\"\n",
     "input: key transport.time (line 2): must be \"explicit\" or \"implicit\""},
    {"time_in_capitals", "[transport]\nscheme = \"tvd\"\ntime = \"Implicit\"\n",
     "input: key transport.time (line 3): must be \"explicit\" or \"implicit\""},
    {"time_not_a_string", "[transport]\n\ntime = true\n",
     "input: key transport.time (line 3): must be a string, not a boolean"},
    {"time_a_number", "[transport]\ntime = 0\n",
     "input: key transport.time (line 2): must be a string, not an integer"},
    {"misspelt_key", "[units]\nlenght = \"m\"\n", "input: key units.lenght (line 2): unknown key"},
    {"label_not_a_string", "[units]\ntime = 1\n",
     "input: key units.time (line 2): must be a string, not an integer"},
    {"label_with_a_comma", "[units]\nmass = \"k,g\"\n", "input: key units.mass (line 2): \"k,g\""},
    {"label_too_long", "[units]\nmass = \"kilogram-of-nitrogen-as-ammonium-ion-xyzw\"\n",
     "input: key units.mass (line 2): a label of 1..40 characters"},
    // A value is shown on one line, escaped, and cut when long.
    {"label_with_a_line_feed", "[units]\nmass = \"g\\nkg\"\n",
     "input: key units.mass (line 2): \"g\\nkg\" holds a control character, a comma or a quote"},
    {"label_with_an_escape", "[units]\nmass = \"g\\u001b[2J\"\n",
     "input: key units.mass (line 2): \"g\\x1b[2J\" holds a control character"},
    {"label_with_a_quote", "[units]\nmass = 'k\"g\\'\n",
     "input: key units.mass (line 2): \"k\\\"g\\\\\" holds a control character"},
    {"label_of_a_megabyte", "[units]\nmass = \"" + std::string(1 << 20, 'g') + "\"\n",
     "input: key units.mass (line 2): a label of 1..40 characters, not \"" + std::string(64, 'g') +
         "\"... (1048576 bytes)"},
    {"name_with_a_line_separator", "[entries]\nmobile = [\"a\\u2028b\", \"B\"]\n",
     "input: key entries.mobile[0] (line 2): \"a\\u2028b\" may hold letters"},
    {"name_with_a_c1_control", "[entries]\nmobile = [\"a\\u009b2Jb\", \"B\"]\n",
     "input: key entries.mobile[0] (line 2): \"a\\u009b2Jb\" may hold letters"},
    {"key_with_a_line_feed", "[units]\n\"ma\\nss\" = \"g\"\n",
     "input: key units.ma\\nss (line 2): unknown key"},
    {"thickness_a_string", "[aquifer]\nthickness = \"2\"\n",
     "input: key aquifer.thickness (line 2): must be a number, not a string"},
    {"thickness_zero", "\n[aquifer]\nthickness = 0\n",
     "input: key aquifer.thickness (line 3): must be a finite number > 0"},
    {"thickness_infinite", "[aquifer]\nthickness = inf\n",
     "input: key aquifer.thickness (line 2): must be a finite number > 0"},
    // Far below the largest double, but not on this grid, whose widest
    // row is 20 (10 to 30) and widest column 1.
    {"thickness_overflows_the_volumes", "[aquifer]\nthickness = 1e298\n",
     "input: key aquifer.thickness (line 2): 9.9999999999999996e+297 is too large for the grid: "
     "thickness x the largest cell area (20) x the 12 nodes must stay below 1e300, or the "
     "budget's volumes overflow"},
    {"too_few_names", "[entries]\nmobile = [\"A\"]\n",
     "input: key entries.mobile (line 2): 1 names for the 2 entries"},
    {"duplicate_name", "[entries]\nimmobile = [\"A\"]\nmobile = [\"B\", \"A\"]\n",
     "input: key entries.mobile[1] (line 3): the name \"A\" is given twice"},
    {"name_with_a_blank", "[entries]\nmobile = [\"N H4\", \"B\"]\n",
     "input: key entries.mobile[0] (line 2): \"N H4\" may hold letters, digits"},
    {"hydraulic_name", "[entries]\nimmobile = [\"head\"]\n",
     "input: key entries.immobile[0] (line 2): \"head\" names a quantity of its own"},
    {"immobile_named_as_a_mobile", "[entries]\nimmobile = [\"mobile_0\"]\n",
     "input: key entries.immobile[0] (line 2): the name \"mobile_0\" is also the default name of "
     "another entry: one name would stand for two entries"},
    {"mobile_named_as_the_immobile",
     "[entries]\nimmobile = [\"X\"]\nmobile = [\"A\", { name = \"immobile_0\" }]\n",
     "input: key entries.mobile[1] (line 3): the name \"immobile_0\" is also the default name"},
    {"default_names_swapped", "[entries]\nmobile = [\"mobile_1\", \"mobile_0\"]\n",
     "input: key entries.mobile[0] (line 2): the name \"mobile_1\" is also the default name"},
    {"entry_table_key", "[entries]\nimmobile = [{ name = \"A\", unit = \"x\" }]\n",
     "input: key entries.immobile[0].unit (line 2): unknown key"},
    {"well_row_outside", "[[observe]]\nname = \"W\"\nrow = 3\ncol = 0\n",
     "input: key observe[0].row (line 3): 3 outside 0..2"},
    {"well_col_negative", "[[observe]]\nname = \"W\"\nrow = 0\ncol = -1\n",
     "input: key observe[0].col (line 4): -1 outside 0..3"},
    {"well_x_outside", "[[observe]]\nname = \"W\"\nx = 3.6\ny = 0\n",
     "input: key observe[0].x (line 3): 3.6"},
    {"well_x_just_outside", "[[observe]]\nname = \"W\"\nx = 3.5000000000000004\ny = 0\n",
     "input: key observe[0].x (line 3): 3.5000000000000004 outside the grid (x from -0.5 to "
     "3.5)"},
    {"well_y_outside", "[[observe]]\nname = \"W\"\nx = 0\ny = -5.5\n",
     "input: key observe[0].y (line 4): -5.5"},
    {"well_both_places", "[[observe]]\nname = \"W\"\nrow = 0\ncol = 0\nx = 1\n",
     "input: key observe[0] (line 1): give row and col, or x and y, not both"},
    {"well_half_a_place", "[[observe]]\nname = \"W\"\nrow = 0\n",
     "input: key observe[0] (line 1): row and col must both be given"},
    {"well_without_name", "[[observe]]\nrow = 0\ncol = 0\n",
     "input: key observe[0] (line 1): the well has no name"},
    {"well_named_time", "[[observe]]\nname = \"time\"\nrow = 0\ncol = 0\n",
     "input: key observe[0].name (line 2): \"time\" names a quantity of its own"},
    {"duplicate_well", "[[observe]]\nname = \"W\"\nrow = 0\ncol = 0\n[[observe]]\nname = \"W\"\n",
     "input: key observe[1].name (line 6): the well name \"W\" is given twice"},
    {"well_entry_unknown", "[[observe]]\nname = \"W\"\nrow = 0\ncol = 0\nentries = [\"NH4\"]\n",
     "input: key observe[0].entries[0] (line 5): \"NH4\" names no entry"},
    {"well_entry_with_an_escape",
     "[[observe]]\nname = \"W\"\nrow = 0\ncol = 0\nentries = [\"\\u001b[31m\"]\n",
     "input: key observe[0].entries[0] (line 5): \"\\x1b[31m\" names no entry"},
    {"observe_not_tables", "observe = 3\n",
     "input: key observe (line 1): must be an array of tables"},
    {"not_toml", "[units\n", "input: not a TOML file: "},
    {"not_toml_quoting_a_line_separator", "x = \xe2\x80\xa8\n",
     "input: not a TOML file: Error while parsing key-value pair: expected value, saw "
     "'\\u2028' (line 1)"},
};

INSTANTIATE_TEST_SUITE_P(ExtensionFile, Refusals, ::testing::ValuesIn(REFUSALS),
                         [](const ::testing::TestParamInfo<CRefusal>& p) {
                             return std::string(p.param.name);
                         });

// Three rows and four columns, one immobile and two mobile entries. Rows 0
// and 1 take water in (source 0.25) but for node (0, 3), which holds its head
// (its source comes from the heads: it reads as 0); row 2 brings none in and
// node (2, 3) is a sink.
CTestModel InjectGrid() {
    CTestModel m = Grid();
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 4; ++j)
            m.Set(i, j, SLOT_SOURCE, i == 0 && j == 3 ? 0.0 : 0.25);
    return m.Set(2, 3, SLOT_SOURCE, -0.5).Fixed(0, 3);
}

std::string InjectOutcomeOf(const std::string& text) {
    CEngine engine;
    engine.Read(InjectGrid());
    return Outcome([&] { ReadExtension(engine.sim, text, "m.kvx"); });
}

struct CInjectRefusal {
    const char* name;
    std::string text; // "[[inject]]\n" goes before it
    const char* detail;
};

class InjectRefusals : public ::testing::TestWithParam<CInjectRefusal> {};

TEST_P(InjectRefusals, NameTheKeyAndItsLine) {
    const std::string outcome = InjectOutcomeOf("[[inject]]\n" + GetParam().text);
    EXPECT_EQ(outcome.rfind(GetParam().detail, 0), 0u) << outcome;
}

// Lines of the cases: the table on line 1, its keys from line 2 on.
const std::string AT_00 = "nodes = [[0, 0]]\n";
const std::string C_1 = "concentration = { mobile_0 = 1 }\n";

const CInjectRefusal INJECT_REFUSALS[] = {
    {"unknown_key", AT_00 + C_1 + "rate = 2\n",
     "input: key inject[0].rate (line 4): unknown key (known here: name, nodes, rectangle, "
     "concentration)"},
    {"name_not_a_string", "name = 3\n" + AT_00 + C_1,
     "input: key inject[0].name (line 2): must be a string, not an integer"},
    {"name_given_twice", "name = \"W\"\n" + AT_00 + C_1 + "[[inject]]\nname = \"W\"\n",
     "input: key inject[1].name (line 6): the name \"W\" is given to two inject tables"},
    {"nodes_and_rectangle", AT_00 + "rectangle = [0, 0, 1, 1]\n" + C_1,
     "input: key inject[0] (line 1): give nodes or rectangle, not both"},
    {"neither_nodes_nor_rectangle", C_1,
     "input: key inject[0] (line 1): the table needs nodes = [[row, col], ...] or rectangle"},
    {"nodes_not_an_array", "nodes = \"0,0\"\n" + C_1,
     "input: key inject[0].nodes (line 2): must be an array of nodes [[row, col], ...], not a "
     "string"},
    {"nodes_empty", "nodes = []\n" + C_1, "input: key inject[0].nodes (line 2): names no node"},
    {"node_not_a_pair", "nodes = [0, 1]\n" + C_1,
     "input: key inject[0].nodes[0] (line 2): must be a node [row, col], not an integer"},
    {"node_of_three", "nodes = [[0, 0], [0, 1, 2]]\n" + C_1,
     "input: key inject[0].nodes[1] (line 2): a node is [row, col], not 3 numbers"},
    {"row_not_an_integer", "nodes = [[0.5, 1]]\n" + C_1,
     "input: key inject[0].nodes[0][0] (line 2): must be an integer, not a number"},
    {"row_outside", "nodes = [[3, 0]]\n" + C_1,
     "input: key inject[0].nodes[0][0] (line 2): 3 outside 0..2 (the rows of the model)"},
    {"col_outside", "nodes = [[0, 4]]\n" + C_1,
     "input: key inject[0].nodes[0][1] (line 2): 4 outside 0..3 (the columns of the model)"},
    {"col_negative", "nodes = [[0, -1]]\n" + C_1,
     "input: key inject[0].nodes[0][1] (line 2): -1 outside 0..3 (the columns of the model)"},
    {"rectangle_of_three", "rectangle = [0, 0, 1]\n" + C_1,
     "input: key inject[0].rectangle (line 2): a rectangle is [first_row, first_col, last_row, "
     "last_col], not 3 numbers"},
    {"rectangle_not_an_array", "rectangle = { first_row = 0 }\n" + C_1,
     "input: key inject[0].rectangle (line 2): must be an array [first_row, first_col, "
     "last_row, last_col], not a table"},
    {"rectangle_row_outside", "rectangle = [0, 0, 3, 1]\n" + C_1,
     "input: key inject[0].rectangle[2] (line 2): 3 outside 0..2 (the rows of the model)"},
    {"rectangle_col_outside", "rectangle = [0, 0, 1, 4]\n" + C_1,
     "input: key inject[0].rectangle[3] (line 2): 4 outside 0..3 (the columns of the model)"},
    {"rectangle_rows_inverted", "rectangle = [1, 0, 0, 1]\n" + C_1,
     "input: key inject[0].rectangle (line 2): the first row 1 is after the last row 0"},
    {"rectangle_cols_inverted", "rectangle = [0, 2, 1, 1]\n" + C_1,
     "input: key inject[0].rectangle (line 2): the first column 2 is after the last column 1"},
    {"no_concentration", AT_00, "input: key inject[0] (line 1): the table has no concentration"},
    {"concentration_not_a_table", AT_00 + "concentration = 1\n",
     "input: key inject[0].concentration (line 3): must be a table { ENTRY = value, ... }, not "
     "an integer"},
    {"concentration_empty", AT_00 + "concentration = {}\n",
     "input: key inject[0].concentration (line 3): names no entry"},
    {"entry_unknown", AT_00 + "concentration = { NH4 = 1 }\n",
     "input: key inject[0].concentration.NH4 (line 3): \"NH4\" names no entry of the model"},
    {"entry_with_an_escape", AT_00 + "concentration = { \"\\u001b[2J\" = 1 }\n",
     "input: key inject[0].concentration.\\x1b[2J (line 3): \"\\x1b[2J\" names no entry of the "
     "model"},
    {"entry_immobile", AT_00 + "concentration = { immobile_0 = 1 }\n",
     "input: key inject[0].concentration.immobile_0 (line 3): \"immobile_0\" is an immobile "
     "entry: the water carries mobile entries only"},
    {"entry_hydraulic", AT_00 + "concentration = { source = 1 }\n",
     "input: key inject[0].concentration.source (line 3): \"source\" is a hydraulic entry"},
    {"value_not_a_number", AT_00 + "concentration = { mobile_1 = \"2\" }\n",
     "input: key inject[0].concentration.mobile_1 (line 3): must be a number, not a string"},
    {"value_negative", AT_00 + "concentration = { mobile_1 = -0.5 }\n",
     "input: key inject[0].concentration.mobile_1 (line 3): must be a finite number >= 0, not "
     "-0.5"},
    {"value_nan", AT_00 + "concentration = { mobile_1 = nan }\n",
     "input: key inject[0].concentration.mobile_1 (line 3): must be a finite number >= 0, not "},
    {"value_infinite", AT_00 + "concentration = { mobile_1 = inf }\n",
     "input: key inject[0].concentration.mobile_1 (line 3): must be a finite number >= 0, not "
     "inf"},
    {"node_twice_in_a_table", "nodes = [[0, 0],\n         [1, 1],\n         [0, 0]]\n" + C_1,
     "input: key inject[0].nodes[2] (line 4): node (0, 0) is listed twice: also by "
     "inject[0].nodes[0] (line 2)"},
    {"node_twice_across_tables",
     "rectangle = [0, 0, 1, 2]\n" + C_1 + "[[inject]]\nnodes = [[1, 3], [1, 2]]\n" + C_1,
     "input: key inject[1].nodes[1] (line 5): node (1, 2) is listed twice: also by "
     "inject[0].rectangle (line 2)"},
    {"node_without_source", "nodes = [[1, 1],\n         [2, 0]]\n" + C_1,
     "input: key inject[0].nodes[1] (line 3): node (2, 0) has the source 0, not a positive "
     "one"},
    {"sink_in_a_rectangle", "\nrectangle = [1, 2, 2, 3]\n" + C_1,
     "input: key inject[0].rectangle (line 3): node (2, 2) has the source 0, not a positive "
     "one"},
    {"sink_in_a_list", "nodes = [[2, 3]]\n" + C_1,
     "input: key inject[0].nodes[0] (line 2): node (2, 3) has the source -0.5, not a positive "
     "one"},
};

INSTANTIATE_TEST_SUITE_P(ExtensionFile, InjectRefusals, ::testing::ValuesIn(INJECT_REFUSALS),
                         [](const ::testing::TestParamInfo<CInjectRefusal>& p) {
                             return std::string(p.param.name);
                         });

// Two names of one entry in one table, the given name and the positional one.
TEST(ExtensionFile, AnInjectTableNamesAnEntryOnce) {
    const std::string outcome =
        InjectOutcomeOf("[entries]\nmobile = [\"A\", \"B\"]\n[[inject]]\nnodes = [[0, 0]]\n"
                        "concentration = { B = 1, mobile_1 = 2 }\n");
    EXPECT_EQ(outcome, "input: key inject[0].concentration.mobile_1 (line 5): \"mobile_1\" names "
                       "the entry B a second time");
}

// The injected nodes come out once each, ascending, with their tables; each
// table's concentrations cover the entries any table names, 0 where it names
// none. The fixed-head node (0, 3) is not checked here: its source comes from
// the heads.
// [transport] time: each name lands as its own choice and marks it given;
// without the key the step stays explicit and not given.
TEST(ExtensionFile, TheTransportTimeLandsInTheModel) {
    const struct {
        const char* text;
        ETransportTime time;
        bool given;
        ETransportScheme scheme;
    } rows[] = {
        {"", ETransportTime::EXPLICIT, false, ETransportScheme::DEFAULT},
        {"[transport]\nscheme = \"tvd\"\n", ETransportTime::EXPLICIT, false, ETransportScheme::TVD},
        {"[transport]\ntime = \"explicit\"\n", ETransportTime::EXPLICIT, true,
         ETransportScheme::DEFAULT},
        {"[transport]\ntime = \"implicit\"\n", ETransportTime::IMPLICIT, true,
         ETransportScheme::DEFAULT},
        {"[transport]\ntime = \"implicit\"\nscheme = \"symmetric\"\n", ETransportTime::IMPLICIT,
         true, ETransportScheme::SYMMETRIC},
    };
    for (const auto& row : rows) {
        CEngine engine;
        engine.Read(Grid());
        ReadExtension(engine.sim, row.text, "m.kvx");
        EXPECT_EQ(engine.sim.m_ext.m_time, row.time) << row.text;
        EXPECT_EQ(engine.sim.m_ext.m_timeGiven, row.given) << row.text;
        EXPECT_EQ(engine.sim.m_ext.m_scheme, row.scheme) << row.text;
    }
}

TEST(ExtensionFile, InjectTablesLandInTheModel) {
    CEngine engine;
    engine.Read(InjectGrid());
    ReadExtension(engine.sim,
                  "[entries]\nmobile = [\"A\", \"B\"]\n"
                  "[[inject]]\nname = \"field\"\nrectangle = [0, 2, 1, 3]\n"
                  "concentration = { B = 2.5 }\n"
                  "[[inject]]\nnodes = [[1, 1],\n         [0, 0]]\n"
                  "concentration = { B = 0, A = 4 }\n",
                  "m.kvx");
    const CInjection& inject = engine.sim.m_ext.m_inject;
    EXPECT_EQ(inject.m_entries, (std::vector<int>{8, 9}));
    EXPECT_EQ(inject.m_nodes, (std::vector<int>{0, 2, 3, 5, 6, 7}));
    EXPECT_EQ(inject.m_nodeTable, (std::vector<int>{1, 0, 0, 1, 0, 0}));
    ASSERT_EQ(inject.m_tables.size(), 2u);
    const CInjectTable& field = inject.m_tables[0];
    EXPECT_EQ(field.m_name, "field");
    EXPECT_TRUE(field.m_rectangle);
    EXPECT_EQ(field.m_line, 3);
    EXPECT_EQ(field.m_concentration, (std::vector<double>{0.0, 2.5}));
    const CInjectTable& second = inject.m_tables[1];
    EXPECT_EQ(second.m_name, "");
    EXPECT_EQ(second.m_concentration, (std::vector<double>{4.0, 0.0}));
    EXPECT_EQ(second.m_named, (std::vector<int>{8, 9})); // toml keeps keys sorted
    int line = 0;
    EXPECT_EQ(InjectNodeKey(second, 1, 0, 0, &line), "inject[1].nodes[1]");
    EXPECT_EQ(line, 9);
    EXPECT_EQ(InjectNodeKey(field, 0, 1, 3, &line), "inject[0].rectangle");
    EXPECT_EQ(line, 5);
}

TEST(ExtensionFile, NamesUnitsAndWellsLandInTheModel) {
    CEngine engine;
    engine.Read(Grid());
    ReadExtension(engine.sim,
                  "[units]\nlength = \"m\"\ntime = \"d\"\nmass = "
                  "\"kilogram-of-nitrogen-as-ammonium-ion-xyz\"\n"
                  "[aquifer]\nthickness = 2.5\n"
                  "[entries]\nimmobile = [\"X\"]\n"
                  "mobile = [{ name = \"NH4\", units = \"mg/L\" }, \"O2\"]\n"
                  "[[observe]]\nname = \"A\"\nrow = 2\ncol = 3\nentries = [\"O2\", \"head\"]\n"
                  "[[observe]]\nname = \"B\"\nx = 1.5\ny = 21\n"
                  "[[observe]]\nname = \"C\"\nx = -0.4\ny = -4\n",
                  "m.kvx");
    const CSimulation& s = engine.sim;
    EXPECT_EQ(s.m_ext.m_file, "m.kvx");
    EXPECT_EQ(s.m_ext.m_massUnit.size(), 40u); // the longest label there may be
    EXPECT_EQ(s.m_ext.m_thickness, 2.5);
    const std::vector<std::string> names = {
        EntryName(s.m_ext, 10, 2, 7), EntryName(s.m_ext, 10, 2, 8), EntryName(s.m_ext, 10, 2, 9)};
    EXPECT_EQ(names, (std::vector<std::string>{"X", "NH4", "O2"}));
    EXPECT_EQ(EntryUnits(s.m_ext, 10, 2, 8), "mg/L");
    EXPECT_EQ(EntryUnits(s.m_ext, 10, 2, 9), "");
    // The positional names still find their entries.
    EXPECT_EQ(FindEntryByName(s.m_ext, 10, 2, "O2"), 9);
    EXPECT_EQ(FindEntryByName(s.m_ext, 10, 2, "mobile_1"), 9);
    EXPECT_EQ(FindEntryByName(s.m_ext, 10, 2, "immobile_1"), -1);
    ASSERT_EQ(s.m_ext.m_observe.size(), 3u);
    const CObservationWell& a = s.m_ext.m_observe[0];
    EXPECT_EQ(a.m_row * 10 + a.m_col, 23);
    EXPECT_EQ(a.m_entries, (std::vector<int>{9, SLOT_HEAD}));
    EXPECT_FALSE(a.m_snapped);
    // x 1.5 lies between columns 1 and 2: the lower wins the tie; y 21 is
    // nearer to the row at 30 than to the one at 10.
    const CObservationWell& b = s.m_ext.m_observe[1];
    EXPECT_EQ(b.m_row * 10 + b.m_col, 21);
    EXPECT_TRUE(b.m_snapped);
    EXPECT_EQ(b.m_entries, (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(b.m_line, 15);
    // The grid reaches half a cell past its outer nodes: half of 1 along x,
    // half of 10 along y.
    const CObservationWell& c = s.m_ext.m_observe[2];
    EXPECT_EQ(c.m_row * 10 + c.m_col, 0);
}

// A single row's cell is 1 wide around its node.
TEST(ExtensionFile, ASingleRowReachesHalfAUnitAroundIt) {
    CTestModel m;
    m.Grid(1, 2, {5}, {0, 1}).Mobile(1, 0.1, 0);
    for (const auto& [y, outcome] : std::vector<std::pair<double, bool>>{
             {4.6, true}, {5.4, true}, {4.4, false}, {5.6, false}}) {
        CEngine engine;
        engine.Read(m);
        const std::string text =
            "[[observe]]\nname = \"W\"\nx = 0\ny = " + std::to_string(y) + "\n";
        const std::string result = Outcome([&] { ReadExtension(engine.sim, text, "m.kvx"); });
        EXPECT_EQ(result.empty(), outcome) << y << ": " << result;
    }
}

// One node, one mobile entry and two first-order decays of it in one set.
std::string TwoReactionModel() {
    std::string text = "1 1 0 1 2 1\n0 1 1 0.1 1e-13\n0\n0\n0 0 0\n0 0 0.3 0 0 0 0 1\n0\n0\n";
    text += "2  0 0 0 0 0 0 0 -1  1 7 0.1\n";
    text += "2  0 0 0 0 0 0 0 -1  1 7 0.2\n";
    return text + "0\n0\n0  2 0 1\n";
}

std::string ReactionNamesOutcome(const std::string& text) {
    CEngine engine;
    engine.Read(TwoReactionModel());
    return Outcome([&] { ReadExtension(engine.sim, text, "m.kvx"); });
}

TEST(ExtensionFile, ReactionNamesAreOnePerRecordAndDistinct) {
    const struct {
        const char* text;
        const char* outcome; // the outcome starts with it; empty: read
    } rows[] = {
        {"[reactions]\nnames = [\"decay_fast\", \"decay_slow\"]\n", ""},
        {"[reactions]\n\nnames = [\"decay\"]\n",
         "input: key reactions.names (line 3): 1 names for the 2 reaction records of the model"},
        {"[reactions]\nnames = [\"a\", \"b\", \"c\"]\n",
         "input: key reactions.names (line 2): 3 names for the 2 reaction records"},
        {"[reactions]\nnames = [\"decay\", \"decay\"]\n",
         "input: key reactions.names[1] (line 2): the name \"decay\" is given to reaction 0 "
         "already"},
        {"[reactions]\nnames = [\"decay\", \"\"]\n",
         "input: key reactions.names[1] (line 2): a reaction's name of 1..64 characters"},
        {"[reactions]\nnames = [\"decay-TCE\", \"b\"]\n",
         "input: key reactions.names[0] (line 2): \"decay-TCE\" may hold letters, digits and "
         "'_' only"},
        {"[reactions]\nnames = [\"a b\", \"b\"]\n",
         "input: key reactions.names[0] (line 2): \"a b\" may hold letters"},
        {"[reactions]\nnames = [\"a\", 2]\n",
         "input: key reactions.names[1] (line 2): must be a string, not an integer"},
        {"[reactions]\nnames = \"a\"\n",
         "input: key reactions.names (line 2): must be an array of names, not a string"},
        {"[reactions]\nname = [\"a\", \"b\"]\n",
         "input: key reactions.name (line 2): unknown key (known here: names)"},
    };
    for (const auto& row : rows) {
        const std::string outcome = ReactionNamesOutcome(row.text);
        if (*row.outcome == '\0')
            EXPECT_EQ(outcome, "") << row.text;
        else
            EXPECT_EQ(outcome.rfind(row.outcome, 0), 0u) << row.text << "\n" << outcome;
    }
    CEngine engine;
    engine.Read(TwoReactionModel());
    ReadExtension(engine.sim, "[reactions]\nnames = [\"fast\", \"slow\"]\n", "m.kvx");
    EXPECT_EQ(engine.sim.m_ext.m_reactionNames, (std::vector<std::string>{"fast", "slow"}));
}

TEST(ExtensionFile, WithoutOneTheNamesAreTheDefaults) {
    CExtension mobileOnly;
    mobileOnly.m_mobile = {{"NH4", ""}, {"O2", ""}};
    EXPECT_EQ(EntryName(mobileOnly, 10, 2, 7), "immobile_0");
    EXPECT_EQ(EntryName(mobileOnly, 10, 2, 8), "NH4");
    CExtension immobileOnly;
    immobileOnly.m_immobile = {{"X", ""}};
    EXPECT_EQ(EntryName(immobileOnly, 10, 2, 7), "X");
    EXPECT_EQ(EntryName(immobileOnly, 10, 2, 9), "mobile_1");
    // Fewer names than entries (the file cannot say so, a caller can): the
    // entries past the names keep their defaults.
    EXPECT_EQ(EntryName(immobileOnly, 11, 2, 8), "immobile_1");
    CExtension none;
    EXPECT_EQ(EntryName(none, 10, 2, 7), "immobile_0");
    EXPECT_EQ(EntryName(none, 10, 2, 9), "mobile_1");
    EXPECT_EQ(EntryName(none, 10, 2, SLOT_FLUXCOL), "flux_col");
    EXPECT_EQ(FindEntryByName(none, 10, 2, "mobile_0"), 8);
}

} // namespace

// [output] checkpoint: how many records apart the checkpoints are (0: none).
struct CCheckpointEvery {
    const char* text; // the extension file
    int every;
};

class CheckpointEvery : public ::testing::TestWithParam<CCheckpointEvery> {};

TEST_P(CheckpointEvery, ReadsTheCount) {
    CEngine engine;
    engine.Read(Grid());
    ReadExtension(engine.sim, GetParam().text, "m.kvx");
    EXPECT_EQ(engine.sim.m_ext.m_checkpointEvery, GetParam().every);
}

INSTANTIATE_TEST_SUITE_P(
    ExtensionFile, CheckpointEvery,
    ::testing::Values(CCheckpointEvery{"", 1}, CCheckpointEvery{"[output]\n", 1},
                      CCheckpointEvery{"[output]\ncheckpoint = \"none\"\n", 0},
                      CCheckpointEvery{"[output]\ncheckpoint = \"every record\"\n", 1},
                      CCheckpointEvery{"[output]\ncheckpoint = \"every 1 records\"\n", 1},
                      CCheckpointEvery{"[output]\ncheckpoint = \"every 25 records\"\n", 25}));

TEST(ExtensionFile, RecordTimesAreReadAndMakeTheRecordsExact) {
    for (const auto& [text, exact, times] :
         std::vector<std::tuple<std::string, bool, std::vector<double>>>{
             {"", false, {}},
             {"[output]\nexact = false\n", false, {}},
             {"[output]\nexact = true\n", true, {}},
             {"[output]\ntimes = [0.5, 2, 10]\n", true, {0.5, 2.0, 10.0}}}) {
        CEngine engine;
        engine.Read(Grid());
        ReadExtension(engine.sim, text, "m.kvx");
        EXPECT_EQ(engine.sim.m_ext.m_exactRecords, exact) << text;
        EXPECT_EQ(engine.sim.m_ext.m_recordTimes, times) << text;
    }
}
