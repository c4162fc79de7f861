// kova-export --entries and --hydraulic in every format, read back by a
// reader of each format's own (VTK's, libnetcdf, the CSV's text): the
// entries asked for, in their order, each with its own values.
#include "model/index.h"
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <netcdf.h>

#include <cmath>
#include <sstream>

using namespace kova_test;

namespace {

std::string Output(const ProcessResult& r) {
    return "exit " + std::to_string(r.exitCode) + "\nstdout:\n" + r.out + "stderr:\n" + r.err;
}

const char* const NAMES[] = {"head",     "source",   "porosity",   "k_row",    "k_col",
                             "flux_row", "flux_col", "immobile_0", "mobile_0", "mobile_1"};

bool Same(double got, double expected) {
    return std::isnan(expected) ? std::isnan(got) : Bits(got) == Bits(expected);
}

std::string Joined(const std::vector<int>& entries) {
    std::string text;
    for (const int k : entries)
        text += (text.empty() ? "" : ",") + std::to_string(k);
    return text;
}

void CheckCsv(const CResultFixture& fx, const std::string& path, const std::vector<int>& entries) {
    std::istringstream in(ReadTextFile(path));
    std::string line, header = "record,time,i,j,x,y";
    for (const int k : entries)
        header += std::string(",") + NAMES[k];
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, header);
    for (int rec = 0; rec < 5; ++rec)
        for (int n = 0; n < fx.Nodes(); ++n) {
            ASSERT_TRUE(std::getline(in, line)) << "record " << rec << " node " << n;
            std::vector<std::string> cells;
            std::stringstream row(line);
            for (std::string cell; std::getline(row, cell, ',');)
                cells.push_back(cell);
            ASSERT_EQ(cells.size(), 6 + entries.size()) << line;
            for (size_t e = 0; e < entries.size(); ++e)
                EXPECT_TRUE(
                    Same(std::strtod(cells[6 + e].c_str(), nullptr), fx.Value(rec, n, entries[e])))
                    << NAMES[entries[e]] << " of record " << rec << " node " << n;
        }
}

void CheckNetcdf(const CResultFixture& fx, const std::string& path,
                 const std::vector<int>& entries) {
    int file = -1;
    ASSERT_EQ(nc_open(path.c_str(), NC_NOWRITE, &file), NC_NOERR) << path;
    int count = 0;
    ASSERT_EQ(nc_inq_nvars(file, &count), NC_NOERR);
    std::vector<std::string> names, expected = {"time", "y", "x"};
    for (int var = 0; var < count; ++var) {
        char name[NC_MAX_NAME + 1] = {};
        nc_inq_varname(file, var, name);
        names.push_back(name);
    }
    for (const int k : entries)
        expected.push_back(NAMES[k]);
    EXPECT_EQ(names, expected);
    std::vector<double> field(ToSize(5 * fx.Nodes()));
    for (const int k : entries) {
        int var = -1;
        ASSERT_EQ(nc_inq_varid(file, NAMES[k], &var), NC_NOERR) << NAMES[k];
        ASSERT_EQ(nc_get_var_double(file, var, field.data()), NC_NOERR) << NAMES[k];
        int differ = 0;
        for (int rec = 0; rec < 5; ++rec)
            for (int n = 0; n < fx.Nodes(); ++n)
                differ += !Same(field[ToSize(rec * fx.Nodes() + n)], fx.Value(rec, n, k));
        EXPECT_EQ(differ, 0) << NAMES[k];
    }
    nc_close(file);
}

TEST(ExportEntries, EveryFormatHoldsTheEntriesAskedForInTheirOrder) {
    const struct {
        std::vector<std::string> args;
        std::vector<int> entries;
    } cases[] = {
        {{}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {{"--entries", "mobile_1,head"}, {9, 0}},
        {{"--entries", "immobile_0", "--hydraulic"}, {0, 1, 2, 3, 4, 5, 6, 7}},
    };
    TempDir dir;
    const std::string base = dir.File("m");
    const CResultFixture fx;
    fx.Write(base);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        for (const char* format : {"csv", "netcdf", "vtk"}) {
            SCOPED_TRACE(format);
            const std::string out = dir.File(std::string("out_") + format);
            std::vector<std::string> args = {base, "--format", format, "-o", out};
            args.insert(args.end(), c.args.begin(), c.args.end());
            const ProcessResult r = RunProgram(KOVA_EXPORT_BIN, args);
            ASSERT_EQ(r.exitCode, 0) << Output(r);
            if (std::string(format) == "csv") {
                CheckCsv(fx, out + "/m.csv", c.entries);
            } else if (std::string(format) == "netcdf") {
                CheckNetcdf(fx, out + "/m.nc", c.entries);
            } else {
                const ProcessResult back =
                    RunProgram("/usr/bin/python3",
                               {std::string(KOVA_E2E_DIR) + "/vtk_readback.py", out + "/m.pvd",
                                base, "3", "4", "10", "2", "all", Joined(c.entries)});
                EXPECT_EQ(back.out, "checked 5 files\n") << Output(back);
            }
        }
    }
}

} // namespace
