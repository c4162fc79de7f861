#include "io/output_files.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "support/run_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kova_test;

namespace {

// A model sized by hand: rows x cols nodes of nComp values, no input read.
class OutputTest : public ::testing::Test {
protected:
    void Size(int rows, int cols, int nComp) {
        m_sim.m_nRows = rows;
        m_sim.m_nCols = cols;
        m_sim.m_nComp = nComp;
        m_sim.m_nNodes = rows * cols;
        m_sim.m_nValues = rows * cols * nComp;
        m_sim.m_stateNew.reset(new double[m_sim.m_nValues]());
        m_sim.m_outputTimes.reserve(1);
    }
    // One record at time t whose values are t + index / 1000.
    void Record(double t) {
        for (int v = 0; v < m_sim.m_nValues; ++v)
            m_sim.m_stateNew[v] = t + v / 1000.0;
        m_sim.m_currentTime = t;
        m_out->WriteRecord(m_sim);
    }
    std::string Base() const { return m_dir.File("run"); }
    // The output files of base, replacing (and so closing) the previous ones.
    COutputFiles& Output(const std::string& base) {
        m_out = std::make_unique<COutputFiles>(base);
        return *m_out;
    }

    TempDir m_dir;
    CRunControl m_control{"run"};
    CSimulation m_sim{&m_control};
    std::unique_ptr<COutputFiles> m_out;
};

TEST_F(OutputTest, OpenLeavesTheMarkerAndAnEmptyDataFile) {
    Size(1, 2, 8);
    Output(Base()).Open();
    const std::vector<unsigned char> marker = ReadBinaryFile(Base() + ".kvt");
    ASSERT_EQ(marker.size(), 4u);
    EXPECT_EQ(IntAt(marker, 0), 0);
    EXPECT_EQ(ReadBinaryFile(Base() + ".kvo").size(), 0u);
}

// Records at 0, 3, 5, 8 and 10 on a 2 x 3 grid of 9 values per node.
TEST_F(OutputTest, TimeFileOfTheTwoByThreeExample) {
    Size(2, 3, 9);
    m_sim.m_startTime = 0.0;
    m_sim.m_endTime = 10.0;
    m_sim.m_outputInterval = 2.5;
    Output(Base()).Open();
    const double times[] = {0.0, 3.0, 5.0, 8.0, 10.0};
    for (double t : times)
        Record(t);
    m_out->Finish(m_sim);
    EXPECT_EQ(m_control.GetStatus().value(), "Closing Files ...");

    const std::vector<unsigned char> kvt = ReadBinaryFile(Base() + ".kvt");
    ASSERT_EQ(kvt.size(), 76u);
    EXPECT_EQ(IntAt(kvt, 0), 5);
    EXPECT_EQ(IntAt(kvt, 4), 2);
    EXPECT_EQ(IntAt(kvt, 8), 3);
    EXPECT_EQ(DoubleAt(kvt, 12), 0.0);
    EXPECT_EQ(DoubleAt(kvt, 20), 10.0);
    EXPECT_EQ(DoubleAt(kvt, 28), 2.5);
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(DoubleAt(kvt, 36 + 8 * r), times[r]) << "record " << r;

    const std::vector<unsigned char> kvo = ReadBinaryFile(Base() + ".kvo");
    ASSERT_EQ(kvo.size(), 5u * 6 * 9 * 8);
    for (int r = 0; r < 5; ++r)
        for (int v : {0, 1, 53})
            EXPECT_EQ(DoubleAt(kvo, (r * 54 + v) * 8), times[r] + v / 1000.0)
                << "record " << r << " value " << v;
    // The list of record times grew past the one entry reserved.
    EXPECT_EQ(m_sim.m_outputTimes.size(), 5u);
}

TEST_F(OutputTest, WithoutRecordsTheLastTimeIsTheEndTime) {
    Size(1, 1, 7);
    m_sim.m_startTime = 1.0;
    m_sim.m_endTime = 4.0;
    m_sim.m_outputInterval = 0.5;
    Output(Base()).Open();
    m_out->Finish(m_sim);
    const std::vector<unsigned char> kvt = ReadBinaryFile(Base() + ".kvt");
    ASSERT_EQ(kvt.size(), 36u);
    EXPECT_EQ(IntAt(kvt, 0), 0);
    EXPECT_EQ(DoubleAt(kvt, 12), 1.0);
    EXPECT_EQ(DoubleAt(kvt, 20), 4.0);
    EXPECT_EQ(DoubleAt(kvt, 28), 0.5);
}

TEST_F(OutputTest, ASecondRunReplacesBothFiles) {
    WriteTextFile(Base() + ".kvo", std::string(5000, 'x'));
    WriteTextFile(Base() + ".kvt", std::string(500, 'x'));
    Size(1, 1, 7);
    Output(Base()).Open();
    Record(0.0);
    m_out->Finish(m_sim);
    EXPECT_EQ(ReadBinaryFile(Base() + ".kvo").size(), 56u);
    EXPECT_EQ(ReadBinaryFile(Base() + ".kvt").size(), 44u);
}

TEST_F(OutputTest, FilesThatCannotBeCreatedAreComputationalErrors) {
    Size(1, 1, 7);
    const std::string missing = m_dir.File("no/such/dir/run");
    try {
        Output(missing).Open();
        FAIL() << "expected ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_NE(e.Detail().find("Could not open time output file."), std::string::npos)
            << e.Detail();
    }

    // A directory in the data file's place: nothing is changed or left.
    ASSERT_EQ(mkdir((Base() + ".kvo").c_str(), 0700), 0);
    try {
        Output(Base()).Open();
        FAIL() << "expected ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_NE(e.Detail().find("Could not open data output file."), std::string::npos)
            << e.Detail();
    }
    EXPECT_FALSE(FileExists(Base() + ".kvt")) << "the time file made for the run is gone";
}

// Files may grow to `bytes` at most while the object lives; a write beyond
// fails with EFBIG instead of killing the process.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {bytes, m_old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~CFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    struct rlimit m_old;
    void (*m_oldHandler)(int);
};

// Records that do not reach the disk end the run with a failure that names
// the file and the record; each record is flushed, so the failure comes at
// the record itself.
TEST_F(OutputTest, FailedWritesAreComputationalErrors) {
    Size(2, 1, 8); // 128 bytes a record
    Output(Base()).Open();
    Record(0.0);
    {
        const CFileSizeLimit limit(200);
        try {
            Record(1.0);
            FAIL() << "expected ComputeException";
        } catch (const ComputeException& e) {
            EXPECT_NE(e.Detail().find("record 1 to the data output file"), std::string::npos)
                << e.Detail();
        }
    }
    m_out.reset();
    EXPECT_EQ(ReadBinaryFile(Base() + ".kvt").size(), 4u) << "the marker stays";
    EXPECT_GE(ReadBinaryFile(Base() + ".kvo").size(), 128u) << "the first record stays";
}

TEST_F(OutputTest, FailedTimeFileWriteIsAComputationalError) {
    Size(1, 1, 7);
    m_sim.m_endTime = 4.0;
    Output(Base()).Open();
    const CFileSizeLimit limit(20); // the marker fits, the 36 bytes do not
    try {
        m_out->Finish(m_sim);
        FAIL() << "expected ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_NE(e.Detail().find("time output file"), std::string::npos) << e.Detail();
    }
    const std::vector<unsigned char> kvt = ReadBinaryFile(Base() + ".kvt");
    ASSERT_EQ(kvt.size(), 4u) << "the marker is back";
    EXPECT_EQ(IntAt(kvt, 0), 0);
}

// The time file counts records in 32 bits: a record past that count is a
// failure, not a count that wraps.
TEST_F(OutputTest, RecordsBeyondTheTimeFilesCountAreAComputationalError) {
    Size(1, 1, 7);
    Output(Base()).Open();
    m_sim.m_recordCount = OUTPUT_MAX_RECORDS - 1;
    Record(1.0);
    EXPECT_EQ(m_sim.m_recordCount, OUTPUT_MAX_RECORDS);
    try {
        Record(2.0);
        FAIL() << "expected ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_NE(e.Detail().find("the time file cannot count them"), std::string::npos)
            << e.Detail();
    }
    EXPECT_EQ(m_sim.m_recordCount, OUTPUT_MAX_RECORDS);
    EXPECT_EQ(ReadBinaryFile(Base() + ".kvt").size(), 4u);
}

} // namespace
