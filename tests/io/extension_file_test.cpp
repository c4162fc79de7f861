// The extension file: what it says lands in the model, and every key that
// cannot serve is refused naming the key and its line.
#include "io/extension_file.h"
#include "support/engine.h"

#include <gtest/gtest.h>

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
    const char* text;
    const char* detail; // the outcome starts with it
};

class Refusals : public ::testing::TestWithParam<CRefusal> {};

TEST_P(Refusals, NameTheKeyAndItsLine) {
    EXPECT_EQ(ReadOutcomeOf(GetParam().text).rfind(GetParam().detail, 0), 0u)
        << ReadOutcomeOf(GetParam().text);
}

const CRefusal REFUSALS[] = {
    {"unknown_table", "[units]\nmass = \"kg\"\n[transprt]\n",
     "input: key transprt (line 3): unknown key (known here: units, aquifer, entries, observe, "
     "transport)"},
    {"scheme_unknown", "[transport]\nscheme = \"upwind\"\n",
     "input: key transport.scheme (line 2): must be \"spec\", \"symmetric\" or \"tvd\""},
    {"scheme_not_a_string", "[transport]\n\nscheme = 1\n",
     "input: key transport.scheme (line 3): must be a string, not an integer"},
    {"transport_key_misspelt", "[transport]\nschme = \"tvd\"\n",
     "input: key transport.schme (line 2): unknown key (known here: scheme)"},
    {"misspelt_key", "[units]\nlenght = \"m\"\n", "input: key units.lenght (line 2): unknown key"},
    {"label_not_a_string", "[units]\ntime = 1\n",
     "input: key units.time (line 2): must be a string, not an integer"},
    {"label_with_a_comma", "[units]\nmass = \"k,g\"\n", "input: key units.mass (line 2): \"k,g\""},
    {"label_too_long", "[units]\nmass = \"kilogram-of-nitrogen-as-ammonium-ion-xyzw\"\n",
     "input: key units.mass (line 2): a label of 1..40 characters"},
    {"thickness_a_string", "[aquifer]\nthickness = \"2\"\n",
     "input: key aquifer.thickness (line 2): must be a number, not a string"},
    {"thickness_zero", "\n[aquifer]\nthickness = 0\n",
     "input: key aquifer.thickness (line 3): must be a finite number > 0"},
    {"thickness_infinite", "[aquifer]\nthickness = inf\n",
     "input: key aquifer.thickness (line 2): must be a finite number > 0"},
    {"too_few_names", "[entries]\nmobile = [\"A\"]\n",
     "input: key entries.mobile (line 2): 1 names for the 2 entries"},
    {"duplicate_name", "[entries]\nimmobile = [\"A\"]\nmobile = [\"B\", \"A\"]\n",
     "input: key entries.mobile[1] (line 3): the name \"A\" is given twice"},
    {"name_with_a_blank", "[entries]\nmobile = [\"N H4\", \"B\"]\n",
     "input: key entries.mobile[0] (line 2): \"N H4\" may hold letters, digits"},
    {"hydraulic_name", "[entries]\nimmobile = [\"head\"]\n",
     "input: key entries.immobile[0] (line 2): \"head\" names a quantity of its own"},
    {"entry_table_key", "[entries]\nimmobile = [{ name = \"A\", unit = \"x\" }]\n",
     "input: key entries.immobile[0].unit (line 2): unknown key"},
    {"well_row_outside", "[[observe]]\nname = \"W\"\nrow = 3\ncol = 0\n",
     "input: key observe[0].row (line 3): 3 outside 0..2"},
    {"well_col_negative", "[[observe]]\nname = \"W\"\nrow = 0\ncol = -1\n",
     "input: key observe[0].col (line 4): -1 outside 0..3"},
    {"well_x_outside", "[[observe]]\nname = \"W\"\nx = 3.6\ny = 0\n",
     "input: key observe[0].x (line 3): 3.6"},
    {"well_y_outside", "[[observe]]\nname = \"W\"\nx = 0\ny = -5.5\n",
     "input: key observe[0].y (line 4): -5.5"},
    {"well_both_places", "[[observe]]\nname = \"W\"\nrow = 0\ncol = 0\nx = 1\n",
     "input: key observe[0] (line 1): give row and col, or x and y, not both"},
    {"well_half_a_place", "[[observe]]\nname = \"W\"\nrow = 0\n",
     "input: key observe[0] (line 1): row and col must both be given"},
    {"well_without_name", "[[observe]]\nrow = 0\ncol = 0\n",
     "input: key observe[0] (line 1): the well has no name"},
    {"duplicate_well", "[[observe]]\nname = \"W\"\nrow = 0\ncol = 0\n[[observe]]\nname = \"W\"\n",
     "input: key observe[1].name (line 6): the well name \"W\" is given twice"},
    {"well_entry_unknown", "[[observe]]\nname = \"W\"\nrow = 0\ncol = 0\nentries = [\"NH4\"]\n",
     "input: key observe[0].entries[0] (line 5): \"NH4\" names no entry"},
    {"observe_not_tables", "observe = 3\n",
     "input: key observe (line 1): must be an array of tables"},
    {"not_toml", "[units\n", "input: not a TOML file: "},
};

INSTANTIATE_TEST_SUITE_P(ExtensionFile, Refusals, ::testing::ValuesIn(REFUSALS),
                         [](const ::testing::TestParamInfo<CRefusal>& p) { return std::string(p.param.name); });

TEST(ExtensionFile, NamesUnitsAndWellsLandInTheModel) {
    CEngine engine;
    engine.Read(Grid());
    ReadExtension(engine.sim,
                  "[units]\nlength = \"m\"\ntime = \"d\"\nmass = \"kilogram-of-nitrogen-as-ammonium-ion-xyz\"\n"
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
    const std::vector<std::string> names = {EntryName(s.m_ext, 10, 2, 7),
                                            EntryName(s.m_ext, 10, 2, 8),
                                            EntryName(s.m_ext, 10, 2, 9)};
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
        const std::string text = "[[observe]]\nname = \"W\"\nx = 0\ny = " + std::to_string(y) + "\n";
        const std::string result = Outcome([&] { ReadExtension(engine.sim, text, "m.kvx"); });
        EXPECT_EQ(result.empty(), outcome) << y << ": " << result;
    }
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
