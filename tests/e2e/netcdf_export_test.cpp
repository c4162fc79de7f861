// kova-export --format netcdf read back with libnetcdf: every value of every
// record and entry the run wrote, bit for bit, with the names, units and
// coordinates of the model.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <netcdf.h>

using namespace kova_test;

namespace {

std::string TextAttribute(int file, int var, const char* name) {
    size_t length = 0;
    if (nc_inq_attlen(file, var, name, &length) != NC_NOERR)
        return "";
    std::string text(length, '\0');
    nc_get_att_text(file, var, name, text.data());
    return text;
}

TEST(NetcdfExport, HoldsEveryRecordBitForBit) {
    const TempDir dir;
    const std::string base = StageModel(dir, KOVA_EXAMPLES_DIR, "decay_chain");
    WriteTextFile(base + ".kvx", ReadTextFile(std::string(KOVA_EXAMPLES_DIR) + "/decay_chain.kvx"));
    ASSERT_EQ(RunCompute({"--no-progress", base}).exitCode, 0);
    const ProcessResult r =
        RunProgram(KOVA_EXPORT_BIN, {base, "--format", "netcdf", "-o", dir.File("nc")});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const std::vector<unsigned char> times = ReadBinaryFile(base + ".kvt");
    const std::vector<unsigned char> data = ReadBinaryFile(base + ".kvo");
    const size_t records = static_cast<size_t>(IntAt(times, 0));
    const size_t rows = static_cast<size_t>(IntAt(times, 4));
    const size_t cols = static_cast<size_t>(IntAt(times, 8));
    const size_t nComp = 10;

    int file = -1;
    ASSERT_EQ(nc_open(dir.File("nc/decay_chain.nc").c_str(), NC_NOWRITE, &file), NC_NOERR);
    EXPECT_EQ(TextAttribute(file, NC_GLOBAL, "Conventions"), "CF-1.8");
    int var = -1;
    ASSERT_EQ(nc_inq_varid(file, "time", &var), NC_NOERR);
    std::vector<double> t(records);
    ASSERT_EQ(nc_get_var_double(file, var, t.data()), NC_NOERR);
    for (size_t k = 0; k < records; ++k)
        EXPECT_EQ(t[k], DoubleAt(times, 36 + 8 * k));
    // CF time: readers decode it without being told how; the numbers stay
    // the model's times.
    EXPECT_EQ(TextAttribute(file, var, "units"), "days since 1970-01-01 00:00:00");
    EXPECT_EQ(TextAttribute(file, var, "calendar"), "standard");

    const char* names[nComp] = {"head",     "source",   "porosity", "k_row", "k_col",
                                "flux_row", "flux_col", "TCE",      "cDCE",  "VC"};
    std::vector<double> field(records * rows * cols);
    for (size_t k = 0; k < nComp; ++k) {
        ASSERT_EQ(nc_inq_varid(file, names[k], &var), NC_NOERR) << names[k];
        ASSERT_EQ(nc_get_var_double(file, var, field.data()), NC_NOERR) << names[k];
        size_t differ = 0;
        for (size_t rec = 0; rec < records; ++rec)
            for (size_t n = 0; n < rows * cols; ++n)
                if (field[rec * rows * cols + n] !=
                    DoubleAt(data, ((rec * rows * cols + n) * nComp + k) * 8))
                    ++differ;
        EXPECT_EQ(differ, 0u) << names[k];
    }
    ASSERT_EQ(nc_inq_varid(file, "cDCE", &var), NC_NOERR);
    EXPECT_EQ(TextAttribute(file, var, "units"), "mg/L");
    ASSERT_EQ(nc_inq_varid(file, "x", &var), NC_NOERR);
    EXPECT_EQ(TextAttribute(file, var, "units"), "m");
    nc_close(file);
}

// A file that cannot be written in full is not left behind.
TEST(NetcdfExport, AFailureLeavesNoFile) {
    const TempDir dir;
    const std::string base = StageModel(dir, KOVA_EXAMPLES_DIR, "two_nodes");
    ASSERT_EQ(RunCompute({"--no-progress", base}).exitCode, 0);
    WriteTextFile(dir.File("nc"), "a file where the folder should be");
    const ProcessResult r =
        RunProgram(KOVA_EXPORT_BIN, {base, "--format", "netcdf", "-o", dir.File("nc")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("nc"), std::string::npos) << r.err;
}

} // namespace
