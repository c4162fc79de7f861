// The model's unit labels in what the tools write: axes and colour bars of
// the pictures, the comment heading an exported VTK file. A model without
// them gets plain names, never empty brackets. And the entry a name chooses.
#include "post/entry_names.h"
#include "post/plot_scripts.h"
#include "post/unit_labels.h"
#include "post/vtk_writer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

// One row of two nodes: an immobile Fe without a unit, a mobile NH4 with one.
CModelGrid Grid(bool units) {
    CModelGrid grid;
    grid.m_nRows = 1;
    grid.m_nCols = 2;
    grid.m_nImmobile = 1;
    grid.m_nMobile = 1;
    grid.m_nComp = 9;
    grid.m_nNodes = 2;
    grid.m_rowCoord = {0.0};
    grid.m_colCoord = {0.0, 10.0};
    if (units) {
        grid.m_ext.m_lengthUnit = "m";
        grid.m_ext.m_timeUnit = "d";
        grid.m_ext.m_massUnit = "kg";
        grid.m_ext.m_immobile = {{"Fe", ""}};
        grid.m_ext.m_mobile = {{"NH4", "mg/L"}};
    }
    return grid;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(UnitLabels, AxesAndTheVtkCommentCarryTheUnitsGiven) {
    const struct {
        bool units;
        const char* time;
        const char* mass;
        const char* x;
        const char* nh4; // entry 8
        const char* head;
        std::vector<int> entries; // of the VTK file
        const char* vtk;
    } cases[] = {
        // clang-format off
        {true, "time [d]", "mass [kg]", "x (column coordinate) [m]", "NH4 [mg/L]", "head [m]",
         {0, 1, 2, 3, 4, 5, 6, 7, 8},
         "KOVA Compute record 3 time 30 [d]; units: length m, time d, mass kg; head m, "
         "source 1/d, k_row m/d, k_col m/d, flux_row m/d, flux_col m/d, NH4 mg/L"},
        // The comment names the units of the arrays in the file, in their order.
        {true, "time [d]", "mass [kg]", "x (column coordinate) [m]", "NH4 [mg/L]", "head [m]",
         {8, 7, 0}, "KOVA Compute record 3 time 30 [d]; units: length m, time d, mass kg; "
                    "NH4 mg/L, head m"},
        {false, "time", "mass", "x (column coordinate)", "mobile_0", "head",
         {0, 1, 2, 3, 4, 5, 6, 7, 8}, "KOVA Compute record 3 time 30"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.units ? "with units" : "without");
        const CModelGrid grid = Grid(c.units);
        EXPECT_EQ(TimeAxisLabel(grid), c.time);
        EXPECT_EQ(MassAxisLabel(grid), c.mass);
        EXPECT_EQ(WithUnit(c.units ? "NH4" : "mobile_0", EntryUnit(grid, 8)), c.nh4);
        EXPECT_EQ(WithUnit("head", EntryUnitByName(grid, "head")), c.head);
        EXPECT_EQ(EntryUnitByName(grid, "Fe"), "");
        EXPECT_EQ(VtkTitle(grid, c.entries, 3, 30.0), c.vtk);
        const std::vector<double> values(18, 1.0);
        const std::string script = BuildFieldPlot(grid, "t", c.nh4, 8, values, "o.png").m_script;
        EXPECT_TRUE(Has(script, std::string("set xlabel '") + c.x + "'\n")) << script;
        EXPECT_TRUE(Has(script, std::string("set cblabel '") + c.nh4 + "'")) << script;
    }
}

TEST(UnitLabels, AValueAxisNamesAUnitOnlyWhenEveryCurveHasIt) {
    const struct {
        std::vector<std::string> names;
        std::vector<std::string> units;
        const char* label;
    } cases[] = {
        {{"NH4"}, {"mg/L"}, "NH4 [mg/L]"},
        {{"NH4"}, {""}, "NH4"},
        {{"NH4", "O2"}, {"mg/L", "mg/L"}, "value [mg/L]"},
        {{"NH4", "O2"}, {"mg/L", "mol/L"}, "value"},
        {{"NH4", "O2"}, {"mg/L", ""}, "value"},
        {{"NH4", "O2"}, {"", ""}, "value"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ValueAxisLabel(c.names, c.units), c.label);
}

// Names made of digits are allowed; the entry a user names is the one drawn,
// so a name wins over the index it spells.
TEST(EntryNames, ANameMadeOfDigitsWinsOverTheIndexItSpells) {
    CModelGrid grid = Grid(true);
    grid.m_nMobile = 2;
    grid.m_nComp = 10;
    grid.m_ext.m_immobile = {{"9", ""}};
    grid.m_ext.m_mobile = {{"7", ""}, {"8", ""}};
    const struct {
        const char* name;
        int entry;
    } cases[] = {
        {"9", 7},    {"7", 8},        {"8", 9},          {"6", 6}, {"0", 0},   {"10", -1},
        {"head", 0}, {"mobile_0", 8}, {"immobile_0", 7}, {"", -1}, {"-1", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindEntry(grid, c.name), c.entry) << c.name;
}

TEST(UnitLabels, AUnitLabelCannotEndTheVtkFilesComment) {
    kova_test::TempDir dir;
    CModelGrid grid = Grid(true);
    grid.m_ext.m_massUnit = "kg-->x--";
    const std::string path = dir.File("m.vtr");
    WriteVtrFile(path, grid, std::vector<std::string>(9, "a"), std::vector<double>(18, 0.0),
                 {0, 1, 2, 3, 4, 5, 6, 7, 8}, 0, 0.0);
    const std::string text = kova_test::ReadTextFile(path);
    const size_t open = text.find("<!-- ");
    const size_t close = text.find(" -->\n<VTKFile");
    ASSERT_NE(open, std::string::npos);
    ASSERT_NE(close, std::string::npos);
    const std::string inside = text.substr(open + 5, close - open - 5);
    EXPECT_EQ(inside.find("--"), std::string::npos) << inside;
    EXPECT_TRUE(Has(inside, "mass kg- ->x- -;")) << inside;
}

} // namespace
