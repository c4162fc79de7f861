// What kova-export writes when asked for some entries: the command line it
// takes, and the entries the names choose, or the message that says why none.
#include "post/entry_names.h"
#include "post/export_command.h"
#include "post/result_exception.h"

#include <gtest/gtest.h>

namespace {

// The seven hydraulic entries, an immobile Fe and two mobile entries, NH4
// and the unnamed third.
CModelGrid Grid() {
    CModelGrid grid;
    grid.m_nImmobile = 1;
    grid.m_nMobile = 2;
    grid.m_nComp = 10;
    grid.m_ext.m_immobile = {{"Fe", ""}};
    grid.m_ext.m_mobile = {{"NH4", "mg/L"}, {"O2", ""}};
    return grid;
}

TEST(ExportEntries, NamesChooseEntriesInTheirOrderAndHydraulicOnlyWhenAsked) {
    const struct {
        std::vector<std::string> names;
        bool hydraulic;
        std::vector<int> entries;
    } cases[] = {
        // Nothing asked: every entry, as exports always were.
        {{}, false, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {{"NH4"}, false, {8}},
        {{"O2", "head", "Fe"}, false, {9, 0, 7}},
        // Positional names and indices beside the extension file's names.
        {{"mobile_1", "immobile_0", "5"}, false, {9, 7, 5}},
        {{}, true, {0, 1, 2, 3, 4, 5, 6}},
        {{"NH4"}, true, {0, 1, 2, 3, 4, 5, 6, 8}},
        // A hydraulic entry named beside --hydraulic is written once.
        {{"flux_col", "NH4"}, true, {0, 1, 2, 3, 4, 5, 6, 8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.names) + (c.hydraulic ? " hydraulic" : ""));
        EXPECT_EQ(SelectEntries(Grid(), c.names, c.hydraulic, "--entries", "m.kvi"), c.entries);
    }
}

TEST(ExportEntries, ANameThatChoosesNoEntryOrOneChosenAgainIsRefused) {
    const std::string known =
        " (head, source, porosity, k_row, k_col, flux_row, flux_col, Fe, NH4, O2)";
    const struct {
        std::vector<std::string> names;
        std::string message;
    } cases[] = {
        {{"NH4", "benzene"}, "--entries benzene names no entry of m.kvi" + known},
        {{"10"}, "--entries 10 names no entry of m.kvi" + known},
        {{"NH4", "O2", "NH4"}, "--entries: NH4 is named twice"},
        {{"NH4", "mobile_0"}, "--entries: NH4 and mobile_0 both name NH4"},
        {{"0", "head"}, "--entries: 0 and head both name head"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.names));
        try {
            SelectEntries(Grid(), c.names, false, "--entries", "m.kvi");
            ADD_FAILURE() << "accepted";
        } catch (const ResultException& e) {
            EXPECT_EQ(e.Detail(), c.message);
        }
    }
}

TEST(ExportEntries, TheCommandLineTakesListsAndRefusesAnEmptyName) {
    const struct {
        std::vector<std::string> args; // after "m --format csv"
        std::vector<std::string> entries;
        bool hydraulic;
        std::string error;
    } cases[] = {
        {{}, {}, false, ""},
        {{"--entries", "NH4"}, {"NH4"}, false, ""},
        {{"--entries", "O2,7", "--hydraulic", "--entries", "head"}, {"O2", "7", "head"}, true, ""},
        {{"--hydraulic"}, {}, true, ""},
        {{"--entries", "NH4,,O2"}, {}, false, "--entries \"NH4,,O2\" has an empty name"},
        {{"--entries", ""}, {}, false, "--entries \"\" has an empty name"},
        {{"--entries"}, {}, false, "--entries needs a value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        std::vector<std::string> args = {"m", "--format", "csv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CExportOptions options = ParseExportOptions(args);
        EXPECT_EQ(options.error, c.error);
        if (c.error.empty()) {
            EXPECT_EQ(options.entries, c.entries);
            EXPECT_EQ(options.hydraulic, c.hydraulic);
        }
    }
}

} // namespace
