// The two result files of a run, checked against the model they came from.
//
// BASE.kvt gives the record count, the grid size and the record times; while
// a run is going (or after it failed) it holds only a 4-byte 0. BASE.kvo is
// the records and nothing else: per record, every node's state vector in node
// order. Everything is little-endian int32 and IEEE double, without padding.
// Sizes that do not fit the model are refused with a detail naming the file;
// no value is read from a file that failed its checks. The one exception is
// the data file of an unfinished run ending inside a record: its whole
// records are read and the cut one is skipped.
#pragma once

#include "post/model_grid.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

constexpr int64_t RESULT_TIME_HEADER_BYTES = 36; // count, rows, cols, start, last, interval
constexpr int64_t RESULT_MARKER_BYTES = 4;       // the unfinished-run marker

// Opens one of a run's files for reading; a directory or a device is not one.
// Throws ResultException naming the file and what it should have been.
void OpenResultFile(std::ifstream& in, const std::string& path, const char* what);

class CResultFiles {
public:
    // Opens and checks BASE.kvt and BASE.kvo; throws ResultException.
    CResultFiles(const std::string& base, const CModelGrid& grid);

    int RecordCount() const { return m_nRecords; }
    double RecordTime(int r) const { return m_times[static_cast<size_t>(r)]; }
    const std::vector<double>& RecordTimes() const { return m_times; }
    // false: the time file holds only the marker; the record count comes from
    // the data file's length and the times from ReconstructRecordTimes.
    bool IsFinished() const { return m_finished; }
    // For an unfinished run: whether the times were replayed exactly.
    bool TimesReplayed() const { return m_timesReplayed; }
    // For an unfinished run: the bytes of the cut-short record after the
    // whole ones (record RecordCount()), which is not read; 0 when the data
    // file ends on a record boundary.
    int64_t SkippedBytes() const { return m_skippedBytes; }
    const std::string& TimePath() const { return m_timePath; }
    const std::string& DataPath() const { return m_dataPath; }

    // Reads record r, 0 <= r < RecordCount(): m_nNodes x m_nComp doubles,
    // value n x m_nComp + k is entry k of node n.
    void ReadRecord(int r, std::vector<double>& values);

private:
    void ReadTimeFile(const CModelGrid& grid);
    void CheckDataFile(const CModelGrid& grid);

    std::string m_timePath;
    std::string m_dataPath;
    std::ifstream m_data;
    int64_t m_recordBytes = 0;
    int m_nRecords = 0;
    int64_t m_skippedBytes = 0;
    bool m_finished = false;
    bool m_timesReplayed = false;
    std::vector<double> m_times;
    std::vector<unsigned char> m_buffer; // one record's bytes
};
