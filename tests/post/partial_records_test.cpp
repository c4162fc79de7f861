// The data file of a run stopped hard (killed, a power cut) may end inside a
// record while its time file still holds the unfinished-run marker. The whole
// records before the cut are read as usual; the cut one is skipped and named.
// A finished run's data file must still match its time file exactly.
#include "post/result_exception.h"
#include "post/run_results.h"
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace kova_test;

namespace {

constexpr int64_t RECORD_BYTES = 12 * 10 * 8; // the fixture's 3 x 4 grid, 10 entries

struct CCut {
    const char* what;
    int64_t bytes;        // length of the data file
    int wholeRecords;     // records the tools read
    int64_t skippedBytes; // bytes of the cut record
};

const CCut CUTS[] = {
    {"an empty data file", 0, 0, 0},
    {"one byte into the first record", 1, 0, 1},
    {"one record short of a whole first record", RECORD_BYTES - 1, 0, RECORD_BYTES - 1},
    {"exactly one record", RECORD_BYTES, 1, 0},
    {"a double into the third record", 2 * RECORD_BYTES + 8, 2, 8},
    {"inside a double of the third record", 2 * RECORD_BYTES + 3, 2, 3},
    {"one byte short of five records", 5 * RECORD_BYTES - 1, 4, RECORD_BYTES - 1},
    {"five whole records", 5 * RECORD_BYTES, 5, 0},
};

std::vector<unsigned char> Head(const std::vector<unsigned char>& bytes, int64_t count) {
    return std::vector<unsigned char>(bytes.begin(), bytes.begin() + count);
}

TEST(PartialRecords, AnUnfinishedRunReadsEveryWholeRecordAndSkipsTheCutOne) {
    TempDir dir;
    const std::string base = dir.File("run");
    CResultFixture fx;
    fx.Write(base, false);
    const std::vector<unsigned char> data = fx.DataBytes();
    ASSERT_EQ(static_cast<int64_t>(data.size()), 5 * RECORD_BYTES);

    for (const CCut& cut : CUTS) {
        SCOPED_TRACE(cut.what);
        WriteBinaryFile(base + ".kvo", Head(data, cut.bytes));
        CRunResults run(base);
        ASSERT_EQ(run.m_files.RecordCount(), cut.wholeRecords);
        EXPECT_EQ(run.m_files.SkippedBytes(), cut.skippedBytes);
        // The replayed times of the whole records, no time for the cut one.
        EXPECT_EQ(run.m_files.RecordTimes(),
                  std::vector<double>(fx.times.begin(), fx.times.begin() + cut.wholeRecords));
        EXPECT_NE(run.UnfinishedNotice().find(std::to_string(cut.wholeRecords) +
                                              (cut.wholeRecords == 1 ? " record " : " records ") +
                                              "taken from the length of"),
                  std::string::npos)
            << run.UnfinishedNotice();

        if (cut.skippedBytes == 0)
            EXPECT_EQ(run.SkippedRecordNotice(), "");
        else
            EXPECT_EQ(run.SkippedRecordNotice(),
                      base + ".kvo ends " + std::to_string(cut.skippedBytes) +
                          " bytes into record " + std::to_string(cut.wholeRecords) +
                          ", which is skipped");

        // Every whole record reads back bit for bit; the cut one is not offered.
        std::vector<double> values;
        for (int r = 0; r < cut.wholeRecords; ++r) {
            run.m_files.ReadRecord(r, values);
            for (int n = 0; n < fx.Nodes(); ++n)
                for (int k = 0; k < fx.Comp(); ++k)
                    ASSERT_EQ(Bits(values[static_cast<size_t>(n * fx.Comp() + k)]),
                              Bits(fx.Value(r, n, k)))
                        << "record " << r << " node " << n << " entry " << k;
        }
        EXPECT_THROW(run.m_files.ReadRecord(cut.wholeRecords, values), ResultException);
    }
}

TEST(PartialRecords, AFinishedRunWhoseDataFileIsCutIsStillRefused) {
    TempDir dir;
    const std::string base = dir.File("run");
    CResultFixture fx;
    fx.Write(base); // the time file lists 5 records
    const std::vector<unsigned char> data = fx.DataBytes();

    for (const int64_t bytes : {int64_t{0}, RECORD_BYTES - 1, 4 * RECORD_BYTES + 8,
                                5 * RECORD_BYTES - 1, 5 * RECORD_BYTES + 1}) {
        SCOPED_TRACE(bytes);
        std::vector<unsigned char> cut = Head(data, std::min<int64_t>(bytes, 5 * RECORD_BYTES));
        cut.resize(static_cast<size_t>(bytes), 0);
        WriteBinaryFile(base + ".kvo", cut);
        try {
            CRunResults run(base);
            ADD_FAILURE() << "a data file of " << bytes << " bytes was taken";
        } catch (const ResultException& e) {
            EXPECT_EQ(e.Detail(), base + ".kvo: " + std::to_string(bytes) + " bytes, but " + base +
                                      ".kvt lists 5 records of 960 bytes (12 nodes x 10 entries "
                                      "x 8) = 4800 bytes");
        }
    }
}

} // namespace
