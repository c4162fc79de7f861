// The two output files of a run, raw little-endian memory images without
// padding:
//
//   BASE.kvo  one record per output time: m_stateNew, m_nValues doubles
//   BASE.kvt  while the run is in progress: one int32 0 (the "not finished"
//             marker); after Finish: int32 N, int32 rows, int32 columns,
//             double start time, double last record time (end time if N = 0),
//             double output interval, then the N record times
//
// Every write and close is checked: records that do not reach the disk are a
// computational error, never a run that reports success. A run that fails or
// is abandoned leaves its whole records in BASE.kvo and the marker in
// BASE.kvt; a time file that cannot be written in full gets its marker back,
// so that it never describes records that are not there. Both files stay
// open for the whole run, so nothing planted in their place meanwhile is
// written through.
#pragma once

#include "io/run_output.h"

#include <cstdio>
#include <string>

// Counts a new record and notes its time (m_currentTime); throws
// ComputeException past OUTPUT_MAX_RECORDS records or when the list of times
// cannot grow. Every writer of BASE.kvo records calls it once a record.
void NoteRecordTime(CSimulation& s);

class COutputFiles : public CRunOutput {
public:
    explicit COutputFiles(const std::string& base);
    // Open files are closed: the records written reach the disk, and the time
    // file keeps its marker.
    ~COutputFiles() override;
    COutputFiles(const COutputFiles&) = delete;
    COutputFiles& operator=(const COutputFiles&) = delete;

    // Opens both files unchanged. Symbolic links and files that are not
    // regular files are refused (InputException); a file that cannot be
    // opened is a ComputeException.
    void OpenFiles() override;
    // The marker into BASE.kvt, and BASE.kvo emptied (each replaced by a new
    // file where it has other hard links).
    void Start() override;
    void Discard() override;
    // Appends m_stateNew, flushed to the system, and notes the record's time
    // in m_outputTimes.
    void WriteRecord(CSimulation& s) override;
    // Closes BASE.kvo and writes the full time file ("Closing Files ...").
    void Finish(const CSimulation& s) override;
    // The records' length; the time file is written whole at the end, and
    // holds its marker until then.
    void Mark(COutputMarks& marks) override;
    void Resume(COutputMarks& marks, const CSimulation& s) override;

private:
    void WriteTimeFile(std::FILE* file, const CSimulation& s) const;

    std::string m_timeName;
    std::string m_dataName;
    std::FILE* m_data = nullptr; // owned: the data file between Open and Finish
    std::FILE* m_time = nullptr; // owned: the time file between Open and Finish
    bool m_timeCreated = false;  // OpenFiles created the file
    bool m_dataCreated = false;
};
