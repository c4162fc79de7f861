#include "io/output_files.h"

#include "io/safe_file.h"

#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_progress.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the output files are little-endian memory images");
static_assert(sizeof(double) == 8 && sizeof(int32_t) == 4, "the output files use 8-byte doubles");

namespace {

const int32_t MARKER = 0;

// Best effort after a failed write of the full time file: the 4-byte marker
// again. On a full disk the truncation has freed room for it; if even this
// fails, the failure already reported stands.
void RestoreMarker(std::FILE* file) {
    std::fflush(file);
    if (ftruncate(fileno(file), 0) != 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return;
    std::fwrite(&MARKER, sizeof MARKER, 1, file);
    std::fflush(file);
}

} // namespace

COutputFiles::COutputFiles(const std::string& base)
    : m_timeName(base + ".kvt"), m_dataName(base + ".kvo") {}

COutputFiles::~COutputFiles() {
    if (m_data)
        std::fclose(m_data);
    if (m_time)
        std::fclose(m_time);
}

void COutputFiles::OpenFiles() {
    m_time = OpenUnchanged(m_timeName, "Could not open time output file.", &m_timeCreated);
    try {
        m_data = OpenUnchanged(m_dataName, "Could not open data output file.", &m_dataCreated);
    } catch (const Exception&) {
        Discard();
        throw;
    }
}

void COutputFiles::Start() {
    try {
        const std::string what = "the time output file " + m_timeName;
        Renew(m_time, m_timeName, what);
        WriteChecked(m_time, &MARKER, sizeof MARKER, 1, what);
        FlushChecked(m_time, what);
        Renew(m_data, m_dataName, "the data output file " + m_dataName);
    } catch (const Exception&) {
        Discard();
        throw;
    }
}

void COutputFiles::Discard() {
    if (m_time) {
        std::fclose(m_time);
        m_time = nullptr;
        if (m_timeCreated)
            unlink(m_timeName.c_str());
    }
    if (m_data) {
        std::fclose(m_data);
        m_data = nullptr;
        if (m_dataCreated)
            unlink(m_dataName.c_str());
    }
}

void NoteRecordTime(CSimulation& s) {
    if (s.m_clock.m_recordCount >= OUTPUT_MAX_RECORDS)
        throw ComputeException("more than " + std::to_string(OUTPUT_MAX_RECORDS) +
                               " output records: the time file cannot count them");
    // The list of record times grows past its reserved capacity if it must.
    try {
        s.m_clock.m_outputTimes.push_back(s.m_clock.m_currentTime);
    } catch (const std::bad_alloc&) {
        throw ComputeException(
            OutOfMemory("the list of record times",
                        16.0 * static_cast<double>(s.m_clock.m_outputTimes.size())));
    }
    s.m_clock.m_recordCount += 1;
}

void COutputFiles::WriteRecord(CSimulation& s) {
    if (!m_data)
        throw Exception("output record written while no data output file is open");
    NoteRecordTime(s);
    // Each record goes to the system as a whole before the run goes on, so
    // that a run killed later loses nothing it has written. The failure text
    // is built only on failure: the time loop allocates nothing.
    errno = 0;
    const size_t count = static_cast<size_t>(s.m_nValues);
    if (std::fwrite(s.m_stateNew.get(), sizeof(double), count, m_data) != count ||
        std::fflush(m_data) != 0)
        throw SystemFailure("could not write record " +
                            std::to_string(s.m_clock.m_recordCount - 1) +
                            " to the data output file" + Reason());
}

void COutputFiles::Finish(const CSimulation& s) {
    s.m_progress->SetStatus("Closing Files ...");
    if (m_data)
        CloseChecked(m_data, "the data output file " + m_dataName + " after " +
                                 std::to_string(s.m_clock.m_recordCount) + " records");
    if (!m_time)
        throw Exception("output files finished while they are not open");
    const std::string what = "the time output file " + m_timeName;
    try {
        Truncate(m_time, what);
        WriteTimeFile(m_time, s);
        FlushChecked(m_time, what);
    } catch (const ComputeException&) {
        RestoreMarker(m_time);
        std::fclose(m_time);
        m_time = nullptr;
        throw;
    }
    CloseChecked(m_time, what);
}
void COutputFiles::Mark(COutputMarks& marks) {
    marks.Add({m_dataName, LengthOf(m_data, "the data output file " + m_dataName), {}});
}

void COutputFiles::Resume(COutputMarks& marks, const CSimulation& s) {
    const COutputMark& mark = marks.Take(m_dataName);
    const uint64_t record = static_cast<uint64_t>(s.m_nValues) * sizeof(double);
    if (mark.m_length != record * static_cast<uint64_t>(s.m_clock.m_recordCount))
        throw InputException("the checkpoint's " + m_dataName + " of " +
                             std::to_string(mark.m_length) + " bytes does not hold its " +
                             std::to_string(s.m_clock.m_recordCount) + " records");
    CutTo(m_data, mark.m_length, m_dataName);
    const std::string what = "the time output file " + m_timeName;
    Truncate(m_time, what);
    WriteChecked(m_time, &MARKER, sizeof MARKER, 1, what);
    FlushChecked(m_time, what);
}

void COutputFiles::WriteTimeFile(std::FILE* file, const CSimulation& s) const {
    const std::string what = "the time output file " + m_timeName;
    const int32_t records = s.m_clock.m_recordCount;
    const int32_t rows = s.m_nRows;
    const int32_t cols = s.m_nCols;
    const double last =
        records > 0 ? s.m_clock.m_outputTimes[ToSize(records - 1)] : s.m_settings.m_endTime;
    WriteChecked(file, &records, sizeof records, 1, what + " (record count)");
    WriteChecked(file, &rows, sizeof rows, 1, what + " (rows)");
    WriteChecked(file, &cols, sizeof cols, 1, what + " (columns)");
    WriteChecked(file, &s.m_settings.m_startTime, sizeof(double), 1, what + " (start time)");
    WriteChecked(file, &last, sizeof last, 1, what + " (last record time)");
    WriteChecked(file, &s.m_settings.m_outputInterval, sizeof(double), 1,
                 what + " (output interval)");
    if (records > 0)
        WriteChecked(file, s.m_clock.m_outputTimes.data(), sizeof(double), ToSize(records),
                     what + " (record times)");
}
