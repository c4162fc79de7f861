// The output files of a run, raw little-endian memory images without padding:
//
//   BASE.kvo  one record per output time: m_stateNew, m_nValues doubles
//   BASE.kvt  while the run is in progress: one int32 0 (the "not finished"
//             marker); after CloseOutput: int32 N, int32 rows, int32 columns,
//             double start time, double last record time (end time if N = 0),
//             double output interval, then the N record times
//
// Every write and close is checked: records that do not reach the disk are a
// computational error, never a run that reports success. A time file that
// cannot be written in full gets its marker back, so that a failed run never
// leaves a time file that describes records that are not there.
#include "run/run_control.h"
#include "sim/exceptions.h"
#include "sim/limits.h"
#include "sim/simulation.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the output files are little-endian memory images");
static_assert(sizeof(double) == 8 && sizeof(int32_t) == 4, "the output files use 8-byte doubles");

namespace {

std::string Reason() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : "";
}

// Opens name for writing (an existing file is replaced) or throws with text.
std::FILE* OpenForWriting(const std::string& name, const char* text) {
    errno = 0;
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file)
        throw ComputeException(std::string(text) + " (" + name + Reason() + ")");
    return file;
}

void WriteChecked(std::FILE* file, const void* data, size_t size, size_t count,
                  const std::string& what) {
    errno = 0;
    if (std::fwrite(data, size, count, file) != count)
        throw ComputeException("could not write " + what + Reason());
}

// Closes *file and forgets it whatever the outcome: a failed close has
// released the stream too.
void CloseChecked(std::FILE*& file, const std::string& what) {
    std::FILE* closing = file;
    file = nullptr;
    errno = 0;
    if (std::fclose(closing) != 0)
        throw ComputeException("could not close " + what + Reason());
}

std::string TimeFileName(const char* base) {
    return std::string(base) + ".kvt";
}
std::string DataFileName(const char* base) {
    return std::string(base) + ".kvo";
}

// Best effort after a failed write of the full time file: the 4-byte marker
// again. On a full disk the truncation has freed room for it; if even this
// fails, the failure already reported stands.
void RestoreMarker(const std::string& name) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file)
        return;
    const int32_t marker = 0;
    std::fwrite(&marker, sizeof marker, 1, file);
    std::fclose(file);
}

void WriteTimeFile(CSimulation& s, const std::string& name) {
    const std::string what = "the time output file " + name;
    const int32_t records = s.m_recordCount;
    const int32_t rows = s.m_nRows;
    const int32_t cols = s.m_nCols;
    const double last = records > 0 ? s.m_outputTimes[records - 1] : s.m_endTime;
    WriteChecked(s.m_outFile, &records, sizeof records, 1, what + " (record count)");
    WriteChecked(s.m_outFile, &rows, sizeof rows, 1, what + " (rows)");
    WriteChecked(s.m_outFile, &cols, sizeof cols, 1, what + " (columns)");
    WriteChecked(s.m_outFile, &s.m_startTime, sizeof(double), 1, what + " (start time)");
    WriteChecked(s.m_outFile, &last, sizeof last, 1, what + " (last record time)");
    WriteChecked(s.m_outFile, &s.m_outputInterval, sizeof(double), 1, what + " (output interval)");
    if (records > 0)
        WriteChecked(s.m_outFile, s.m_outputTimes.data(), sizeof(double), records,
                     what + " (record times)");
}

} // namespace

void CSimulation::OpenOutput(const char* base) {
    const std::string timeName = TimeFileName(base);
    m_outFile = OpenForWriting(timeName, "Could not open time output file.");
    const int32_t marker = 0;
    try {
        WriteChecked(m_outFile, &marker, sizeof marker, 1, "the time output file " + timeName);
    } catch (const ComputeException&) {
        std::fclose(m_outFile);
        m_outFile = nullptr;
        throw;
    }
    CloseChecked(m_outFile, "the time output file " + timeName);
    m_outFile = OpenForWriting(DataFileName(base), "Could not open data output file.");
}

void CSimulation::WriteOutput() {
    if (!m_outFile)
        throw Exception("output record written while no data output file is open");
    if (m_recordCount >= OUTPUT_MAX_RECORDS)
        throw ComputeException("more than " + std::to_string(OUTPUT_MAX_RECORDS) +
                               " output records: the time file cannot count them");
    // The list of record times grows past its reserved capacity if it must.
    m_outputTimes.push_back(m_currentTime);
    m_recordCount += 1;
    // The failure text is built only on failure: the time loop allocates nothing.
    errno = 0;
    const size_t count = static_cast<size_t>(m_nValues);
    if (std::fwrite(m_stateNew.get(), sizeof(double), count, m_outFile) != count)
        throw ComputeException("could not write record " + std::to_string(m_recordCount - 1) +
                               " to the data output file" + Reason());
}

void CSimulation::CloseOutput(const char* base) {
    m_runControl->SetStatus("Closing Files ...");
    if (m_outFile)
        CloseChecked(m_outFile, "the data output file " + DataFileName(base) + " after " +
                                    std::to_string(m_recordCount) + " records");
    const std::string timeName = TimeFileName(base);
    m_outFile = OpenForWriting(timeName, "Could not open time output file.");
    try {
        WriteTimeFile(*this, timeName);
        CloseChecked(m_outFile, "the time output file " + timeName);
    } catch (const ComputeException&) {
        if (m_outFile) {
            std::fclose(m_outFile);
            m_outFile = nullptr;
        }
        RestoreMarker(timeName);
        throw;
    }
}
