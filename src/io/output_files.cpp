#include "io/output_files.h"

#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"

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

} // namespace

COutputFiles::COutputFiles(const std::string& base)
    : m_timeName(base + ".kvt"), m_dataName(base + ".kvo") {}

COutputFiles::~COutputFiles() {
    if (m_file)
        std::fclose(m_file);
}

void COutputFiles::Open() {
    std::FILE* time = OpenForWriting(m_timeName, "Could not open time output file.");
    const int32_t marker = 0;
    try {
        WriteChecked(time, &marker, sizeof marker, 1, "the time output file " + m_timeName);
    } catch (const ComputeException&) {
        std::fclose(time);
        throw;
    }
    CloseChecked(time, "the time output file " + m_timeName);
    m_file = OpenForWriting(m_dataName, "Could not open data output file.");
}

void COutputFiles::WriteRecord(CSimulation& s) {
    if (!m_file)
        throw Exception("output record written while no data output file is open");
    if (s.m_recordCount >= OUTPUT_MAX_RECORDS)
        throw ComputeException("more than " + std::to_string(OUTPUT_MAX_RECORDS) +
                               " output records: the time file cannot count them");
    // The list of record times grows past its reserved capacity if it must.
    s.m_outputTimes.push_back(s.m_currentTime);
    s.m_recordCount += 1;
    // The failure text is built only on failure: the time loop allocates nothing.
    errno = 0;
    const size_t count = static_cast<size_t>(s.m_nValues);
    if (std::fwrite(s.m_stateNew.get(), sizeof(double), count, m_file) != count)
        throw ComputeException("could not write record " + std::to_string(s.m_recordCount - 1) +
                               " to the data output file" + Reason());
}

void COutputFiles::Finish(const CSimulation& s) {
    s.m_runControl->SetStatus("Closing Files ...");
    if (m_file)
        CloseChecked(m_file, "the data output file " + m_dataName + " after " +
                                 std::to_string(s.m_recordCount) + " records");
    std::FILE* file = OpenForWriting(m_timeName, "Could not open time output file.");
    try {
        WriteTimeFile(file, s);
        CloseChecked(file, "the time output file " + m_timeName);
    } catch (const ComputeException&) {
        if (file)
            std::fclose(file);
        RestoreMarker(m_timeName);
        throw;
    }
}

void COutputFiles::WriteTimeFile(std::FILE* file, const CSimulation& s) const {
    const std::string what = "the time output file " + m_timeName;
    const int32_t records = s.m_recordCount;
    const int32_t rows = s.m_nRows;
    const int32_t cols = s.m_nCols;
    const double last = records > 0 ? s.m_outputTimes[ToSize(records - 1)] : s.m_endTime;
    WriteChecked(file, &records, sizeof records, 1, what + " (record count)");
    WriteChecked(file, &rows, sizeof rows, 1, what + " (rows)");
    WriteChecked(file, &cols, sizeof cols, 1, what + " (columns)");
    WriteChecked(file, &s.m_startTime, sizeof(double), 1, what + " (start time)");
    WriteChecked(file, &last, sizeof last, 1, what + " (last record time)");
    WriteChecked(file, &s.m_outputInterval, sizeof(double), 1, what + " (output interval)");
    if (records > 0)
        WriteChecked(file, s.m_outputTimes.data(), sizeof(double), ToSize(records),
                     what + " (record times)");
}
