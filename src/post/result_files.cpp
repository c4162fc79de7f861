#include "post/result_files.h"

#include "post/little_endian.h"
#include "post/record_times.h"
#include "post/result_exception.h"

#include <filesystem>
#include <limits>

namespace {

std::string Str(int64_t value) {
    return std::to_string(value);
}

std::vector<unsigned char> ReadWholeFile(const std::string& path, const char* what) {
    std::ifstream in;
    OpenResultFile(in, path, what);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    std::vector<unsigned char> bytes(static_cast<size_t>(size < 0 ? 0 : size));
    if (size < 0 || !in.read(reinterpret_cast<char*>(bytes.data()), size))
        throw ResultException(path + ": cannot read the " + what);
    return bytes;
}

int64_t FileSize(std::ifstream& in) {
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    return static_cast<int64_t>(size);
}

} // namespace

void OpenResultFile(std::ifstream& in, const std::string& path, const char* what) {
    std::error_code error;
    if (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error))
        throw ResultException(path + ": not a regular file, so not a " + std::string(what));
    in.open(path, std::ios::binary);
    if (!in)
        throw ResultException(path + ": cannot open the " + what);
}

CResultFiles::CResultFiles(const std::string& base, const CModelGrid& grid)
    : m_timePath(base + ".kvt"), m_dataPath(base + ".kvo") {
    m_recordBytes = static_cast<int64_t>(grid.m_nNodes) * grid.m_nComp * 8;
    ReadTimeFile(grid);
    CheckDataFile(grid);
    m_buffer.resize(static_cast<size_t>(m_recordBytes));
}

void CResultFiles::ReadTimeFile(const CModelGrid& grid) {
    const std::vector<unsigned char> bytes = ReadWholeFile(m_timePath, "time file");
    const int64_t size = static_cast<int64_t>(bytes.size());
    if (size == RESULT_MARKER_BYTES) {
        if (DecodeI32(bytes.data()) != 0)
            throw ResultException(m_timePath + ": 4 bytes holding " + Str(DecodeI32(bytes.data())) +
                                  ", which is not the unfinished-run marker 0");
        m_finished = false;
        return;
    }
    if (size < RESULT_TIME_HEADER_BYTES)
        throw ResultException(m_timePath + ": " + Str(size) +
                              " bytes, too short for a time file (4 bytes while a run is "
                              "going, 36 + 8 x records once it has finished)");

    const int32_t count = DecodeI32(bytes.data());
    const int32_t rows = DecodeI32(bytes.data() + 4);
    const int32_t cols = DecodeI32(bytes.data() + 8);
    if (count < 0)
        throw ResultException(m_timePath + ": record count " + Str(count) + " is negative");
    const int64_t expected = RESULT_TIME_HEADER_BYTES + 8 * static_cast<int64_t>(count);
    if (size != expected)
        throw ResultException(m_timePath + ": " + Str(size) + " bytes, but its record count " +
                              Str(count) + " needs 36 + 8 x " + Str(count) + " = " + Str(expected));
    if (rows != grid.m_nRows || cols != grid.m_nCols)
        throw ResultException(m_timePath + ": grid " + Str(rows) + " x " + Str(cols) +
                              " does not match the " + Str(grid.m_nRows) + " x " +
                              Str(grid.m_nCols) + " grid of the model file");
    m_finished = true;
    m_nRecords = count;
    m_times.resize(static_cast<size_t>(count));
    for (int32_t r = 0; r < count; ++r)
        m_times[static_cast<size_t>(r)] =
            DecodeDouble(bytes.data() + RESULT_TIME_HEADER_BYTES + 8 * static_cast<int64_t>(r));
}

void CResultFiles::CheckDataFile(const CModelGrid& grid) {
    OpenResultFile(m_data, m_dataPath, "data file");
    const int64_t size = FileSize(m_data);
    if (size < 0)
        throw ResultException(m_dataPath + ": cannot read the data file");
    if (m_finished) {
        const std::string recordText = Str(m_recordBytes) + " bytes (" + Str(grid.m_nNodes) +
                                       " nodes x " + Str(grid.m_nComp) + " entries x 8)";
        const int64_t expected = m_nRecords * m_recordBytes;
        if (size != expected)
            throw ResultException(m_dataPath + ": " + Str(size) + " bytes, but " + m_timePath +
                                  " lists " + Str(m_nRecords) + " records of " + recordText +
                                  " = " + Str(expected) + " bytes");
        return;
    }

    // A run stopped hard (killed, a power cut) can leave its last record half
    // written. The records before it are whole and as good as any; only the
    // cut one is left out, and the tools say so.
    const int64_t count = size / m_recordBytes;
    m_skippedBytes = size % m_recordBytes;
    if (count > std::numeric_limits<int>::max())
        throw ResultException(m_dataPath + ": " + Str(count) + " records, more than can be read");
    m_nRecords = static_cast<int>(count);
    const CRecordTimes times = ReconstructRecordTimes(grid, m_nRecords);
    m_times = times.m_times;
    m_timesReplayed = times.m_replayed;
}

void CResultFiles::ReadRecord(int r, std::vector<double>& values) {
    if (r < 0 || r >= m_nRecords)
        throw ResultException(m_dataPath + ": record " + Str(r) + " outside 0.." +
                              Str(m_nRecords - 1));
    m_data.clear();
    m_data.seekg(static_cast<std::streamoff>(r * m_recordBytes), std::ios::beg);
    if (!m_data.read(reinterpret_cast<char*>(m_buffer.data()),
                     static_cast<std::streamsize>(m_recordBytes)))
        throw ResultException(m_dataPath + ": cannot read record " + Str(r) +
                              " (the file changed while it was read)");
    const size_t count = static_cast<size_t>(m_recordBytes / 8);
    values.resize(count);
    for (size_t t = 0; t < count; ++t)
        values[t] = DecodeDouble(m_buffer.data() + 8 * t);
}
