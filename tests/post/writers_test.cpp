#include "post/base_path.h"
#include "post/csv_writer.h"
#include "post/entry_names.h"
#include "post/little_endian.h"
#include "post/vtk_writer.h"
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>

using namespace kova_test;

namespace {

CModelGrid Grid(int rows, int cols, int immobile, int mobile) {
    CModelGrid grid;
    grid.m_nRows = rows;
    grid.m_nCols = cols;
    grid.m_nImmobile = immobile;
    grid.m_nMobile = mobile;
    grid.m_nComp = 7 + immobile + mobile;
    grid.m_nNodes = rows * cols;
    for (int i = 0; i < rows; ++i)
        grid.m_rowCoord.push_back(10.0 * i);
    for (int j = 0; j < cols; ++j)
        grid.m_colCoord.push_back(0.5 * j);
    return grid;
}

TEST(EntryNames, SlotsThenImmobileThenMobile) {
    const CModelGrid grid = Grid(1, 1, 2, 1);
    EXPECT_EQ(EntryNames(grid),
              std::vector<std::string>({"head", "source", "porosity", "k_row", "k_col", "flux_row",
                                        "flux_col", "immobile_0", "immobile_1", "mobile_0"}));
    EXPECT_EQ(EntryName(Grid(1, 1, 0, 2), 7), "mobile_0");
    EXPECT_EQ(EntryName(Grid(1, 1, 1, 0), 7), "immobile_0");
}

TEST(EntryNames, FindByNameOrIndex) {
    const CModelGrid grid = Grid(1, 1, 2, 1);
    EXPECT_EQ(FindEntry(grid, "head"), 0);
    EXPECT_EQ(FindEntry(grid, "flux_col"), 6);
    EXPECT_EQ(FindEntry(grid, "immobile_1"), 8);
    EXPECT_EQ(FindEntry(grid, "mobile_0"), 9);
    EXPECT_EQ(FindEntry(grid, "9"), 9);
    EXPECT_EQ(FindEntry(grid, "10"), -1);
    EXPECT_EQ(FindEntry(grid, "mobile_1"), -1);
    EXPECT_EQ(FindEntry(grid, "-1"), -1);
    EXPECT_EQ(FindEntry(grid, ""), -1);
}

TEST(CsvWriter, EveryDoubleReadsBackBitForBit) {
    const CModelGrid grid = Grid(2, 3, 0, 1);
    const double specials[] = {-0.0,
                               4.9406564584124654e-324,
                               std::numeric_limits<double>::max(),
                               0.1,
                               1.0 / 3.0,
                               -2.5e-300,
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity()};
    std::vector<double> values(static_cast<size_t>(grid.m_nNodes * grid.m_nComp));
    for (size_t t = 0; t < values.size(); ++t)
        values[t] = specials[t % 8] * (t % 16 < 8 ? 1.0 : -1.0);
    values[5] = std::numeric_limits<double>::quiet_NaN();

    std::ostringstream out;
    WriteCsvHeader(out, EntryNames(grid));
    WriteCsvRecord(out, grid, 7, 1.0 / 7.0, values);
    std::istringstream in(out.str());
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "record,time,i,j,x,y,head,source,porosity,k_row,k_col,flux_row,flux_col,"
                    "mobile_0");
    for (int n = 0; n < grid.m_nNodes; ++n) {
        ASSERT_TRUE(std::getline(in, line));
        std::vector<std::string> cells;
        std::stringstream row(line);
        for (std::string cell; std::getline(row, cell, ',');)
            cells.push_back(cell);
        ASSERT_EQ(cells.size(), 14u) << line;
        EXPECT_EQ(cells[0], "7");
        EXPECT_EQ(Bits(std::strtod(cells[1].c_str(), nullptr)), Bits(1.0 / 7.0));
        EXPECT_EQ(cells[2], std::to_string(n / 3));                        // i
        EXPECT_EQ(cells[3], std::to_string(n % 3));                        // j
        EXPECT_EQ(std::strtod(cells[4].c_str(), nullptr), 0.5 * (n % 3));  // x: column
        EXPECT_EQ(std::strtod(cells[5].c_str(), nullptr), 10.0 * (n / 3)); // y: row
        for (int k = 0; k < grid.m_nComp; ++k) {
            const double expected = values[static_cast<size_t>(n * grid.m_nComp + k)];
            const double got = std::strtod(cells[static_cast<size_t>(6 + k)].c_str(), nullptr);
            if (std::isnan(expected))
                EXPECT_TRUE(std::isnan(got)) << cells[static_cast<size_t>(6 + k)];
            else
                EXPECT_EQ(Bits(got), Bits(expected))
                    << "node " << n << " entry " << k << ": " << cells[static_cast<size_t>(6 + k)];
        }
    }
    EXPECT_FALSE(std::getline(in, line));
}

// The byte offset of the appended array named `name` and its values.
std::vector<double> AppendedArray(const std::string& text, const std::string& name) {
    const size_t element = text.find("Name=\"" + name + "\"");
    const size_t offsetAt = text.find("offset=\"", element) + 8;
    const size_t offset = std::stoul(text.substr(offsetAt));
    const size_t data = text.find("_", text.find("<AppendedData")) + 1 + offset;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data()) + data;
    const uint64_t count = DecodeU64(bytes) / 8;
    std::vector<double> values;
    for (uint64_t t = 0; t < count; ++t)
        values.push_back(DecodeDouble(bytes + 8 + 8 * t));
    return values;
}

TEST(VtkWriter, EachEntryIsOnePointArrayInNodeOrder) {
    TempDir dir;
    const CModelGrid grid = Grid(2, 3, 1, 1);
    std::vector<double> values(static_cast<size_t>(grid.m_nNodes * grid.m_nComp));
    for (size_t t = 0; t < values.size(); ++t)
        values[t] = static_cast<double>(t) + 0.25;
    const std::string path = dir.File("r.vtr");
    WriteVtrFile(path, grid, EntryNames(grid), values, 2.5);
    const std::string text = ReadTextFile(path);

    EXPECT_NE(text.find("WholeExtent=\"0 2 0 1 0 0\""), std::string::npos);
    EXPECT_EQ(AppendedArray(text, "TimeValue"), std::vector<double>({2.5}));
    // Entry k of node n is value n x 9 + k.
    EXPECT_EQ(AppendedArray(text, "immobile_0"),
              std::vector<double>({7.25, 16.25, 25.25, 34.25, 43.25, 52.25}));
    EXPECT_EQ(AppendedArray(text, "x"), grid.m_colCoord);
    EXPECT_EQ(AppendedArray(text, "y"), grid.m_rowCoord);
    EXPECT_EQ(AppendedArray(text, "z"), std::vector<double>({0.0}));
}

TEST(VtkWriter, CollectionEscapesFileNamesAndKeepsExactTimes) {
    TempDir dir;
    const std::string path = dir.File("c.pvd");
    WritePvdFile(path, {{0.1, "a&b\"<c>_0000.vtr"}, {1e300, "x_0001.vtr"}});
    const std::string text = ReadTextFile(path);
    EXPECT_NE(text.find("timestep=\"0.10000000000000001\" group=\"\" part=\"0\" "
                        "file=\"a&amp;b&quot;&lt;c&gt;_0000.vtr\""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("timestep=\"1.0000000000000001e+300\""), std::string::npos) << text;
}

TEST(BasePath, ExtensionsStemAndDirectory) {
    EXPECT_EQ(StripResultExtension("a/model.kvi"), "a/model");
    EXPECT_EQ(StripResultExtension("model.kvo"), "model");
    EXPECT_EQ(StripResultExtension("model.kvt"), "model");
    EXPECT_EQ(StripResultExtension("model.v2"), "model.v2");
    EXPECT_EQ(StripResultExtension(".kvi"), ".kvi");
    EXPECT_EQ(BaseStem("a/b/model"), "model");
    EXPECT_EQ(BaseStem("model"), "model");
    EXPECT_EQ(BaseDirectory("a/b/model"), "a/b");
    EXPECT_EQ(BaseDirectory("model"), ".");
    EXPECT_EQ(BaseDirectory("/model"), "/");
}

} // namespace
