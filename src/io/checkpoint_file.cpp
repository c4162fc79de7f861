#include "io/checkpoint_file.h"

#include "io/safe_file.h"
#include "model/exceptions.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "a checkpoint is little-endian");

namespace {

const char SIGNATURE[8] = {'K', 'O', 'V', 'A', 'K', 'V', 'R', '\n'};
constexpr size_t COPY_BYTES = 1 << 20;

} // namespace

std::string CheckpointFileName(const std::string& base) {
    return base + ".kvr";
}

std::string PreviousCheckpointFileName(const std::string& base) {
    return base + ".kvr.prev";
}

uint64_t FileDigest(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const std::string why = fd < 0 ? Reason() : ": not a regular file";
        if (fd >= 0)
            close(fd);
        throw InputException("cannot read " + path + why);
    }
    XXH3_state_t* state = XXH3_createState();
    XXH3_64bits_reset(state);
    std::vector<char> buffer(COPY_BYTES);
    ssize_t got = 0;
    while ((got = read(fd, buffer.data(), buffer.size())) > 0)
        XXH3_64bits_update(state, buffer.data(), static_cast<size_t>(got));
    const int error = errno;
    close(fd);
    const uint64_t digest = XXH3_64bits_digest(state);
    XXH3_freeState(state);
    if (got < 0)
        throw InputException("cannot read " + path + ": " + std::strerror(error));
    return digest;
}

CCheckpointOut::CCheckpointOut(const std::string& base)
    : m_name(CheckpointFileName(base)), m_part(m_name + ".part"),
      m_previous(PreviousCheckpointFileName(base)) {
    // A part left by a run killed while writing it is the run's own.
    unlink(m_part.c_str());
    bool created = false;
    m_file = OpenUnchanged(m_part, "Could not open the checkpoint file.", &created);
    m_digest = XXH3_createState();
    if (!m_digest)
        throw ComputeException("no memory for the checkpoint's digest");
    XXH3_64bits_reset(m_digest);
    Bytes(SIGNATURE, sizeof SIGNATURE);
    Int(CHECKPOINT_FORMAT);
}

CCheckpointOut::~CCheckpointOut() {
    if (m_file) {
        std::fclose(m_file);
        unlink(m_part.c_str());
    }
    XXH3_freeState(m_digest);
}

void CCheckpointOut::Bytes(const void* data, size_t size) {
    XXH3_64bits_update(m_digest, data, size);
    WriteChecked(m_file, data, 1, size, "the checkpoint file " + m_part);
}

void CCheckpointOut::Text(const std::string& text) {
    Int(static_cast<int64_t>(text.size()));
    Bytes(text.data(), text.size());
}

void CCheckpointOut::Doubles(const std::vector<double>& values) {
    Int(static_cast<int64_t>(values.size()));
    Doubles(values.data(), values.size());
}

void CCheckpointOut::Commit() {
    const uint64_t digest = XXH3_64bits_digest(m_digest);
    const std::string what = "the checkpoint file " + m_part;
    WriteChecked(m_file, &digest, sizeof digest, 1, what);
    CloseChecked(m_file, what);
    // The one before steps aside whole, then the new one takes its name.
    unlink(m_previous.c_str());
    errno = 0;
    const bool before = std::rename(m_name.c_str(), m_previous.c_str()) == 0 || errno == ENOENT;
    if (!before || std::rename(m_part.c_str(), m_name.c_str()) != 0) {
        const std::string why = Reason();
        unlink(m_part.c_str());
        throw SystemFailure("could not replace the checkpoint file " + m_name + why);
    }
    unlink(m_previous.c_str());
}

CCheckpointIn::CCheckpointIn(const std::string& base) : m_name(CheckpointFileName(base)) {
    int fd = open(m_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        // Killed between the renames: the checkpoint before is whole.
        const std::string previous = PreviousCheckpointFileName(base);
        fd = open(previous.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT)
            m_name = previous;
        else
            errno = ENOENT;
    }
    struct stat info;
    if (fd < 0) {
        if (errno == ENOENT)
            throw InputException("there is no checkpoint " + m_name +
                                 " to continue from (a run writes one at its records unless "
                                 "[output] checkpoint = \"none\")");
        throw InputException("cannot read the checkpoint " + m_name + Reason());
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        throw InputException("the checkpoint " + m_name + " is not a regular file");
    }
    m_file = fdopen(fd, "rb");
    if (!m_file) {
        close(fd);
        throw InputException("cannot read the checkpoint " + m_name + Reason());
    }
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size < sizeof SIGNATURE + 2 * sizeof(uint64_t))
        Refuse("it is too short to be a checkpoint (" + std::to_string(size) + " bytes)");
    // The digest first, over every byte before it: nothing is used from a
    // file that is not whole.
    XXH3_state_t* state = XXH3_createState();
    XXH3_64bits_reset(state);
    std::vector<char> buffer(COPY_BYTES);
    uint64_t left = size - sizeof(uint64_t);
    while (left > 0) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
        if (std::fread(buffer.data(), 1, take, m_file) != take)
            break;
        XXH3_64bits_update(state, buffer.data(), take);
        left -= take;
    }
    const uint64_t computed = XXH3_64bits_digest(state);
    XXH3_freeState(state);
    uint64_t stored = 0;
    if (left > 0 || std::fread(&stored, sizeof stored, 1, m_file) != 1)
        Refuse("it cannot be read whole" + Reason());
    if (stored != computed)
        Refuse("it is damaged (its digest does not match its contents)");
    std::rewind(m_file);
    m_left = size - sizeof(uint64_t);
    char signature[sizeof SIGNATURE];
    Bytes(signature, sizeof signature, "signature");
    if (std::memcmp(signature, SIGNATURE, sizeof SIGNATURE) != 0)
        Refuse("it is not a checkpoint file");
    const int64_t format = Int("format");
    if (format != CHECKPOINT_FORMAT)
        Refuse("it is of format " + std::to_string(format) + ", this program reads format " +
               std::to_string(CHECKPOINT_FORMAT));
}

CCheckpointIn::~CCheckpointIn() {
    if (m_file)
        std::fclose(m_file);
}

void CCheckpointIn::Refuse(const std::string& why) const {
    throw InputException("the checkpoint " + m_name + " cannot be continued from: " + why);
}

void CCheckpointIn::Bytes(void* data, size_t size, const char* what) {
    if (size > m_left || std::fread(data, 1, size, m_file) != size)
        Refuse(std::string("it ends inside its ") + what);
    m_left -= size;
}

int64_t CCheckpointIn::Int(const char* what) {
    int64_t value = 0;
    Bytes(&value, sizeof value, what);
    return value;
}

int64_t CCheckpointIn::IntIn(int64_t low, int64_t high, const char* what) {
    const int64_t value = Int(what);
    if (value < low || value > high)
        Refuse(std::string("its ") + what + " " + std::to_string(value) + " is outside " +
               std::to_string(low) + ".." + std::to_string(high));
    return value;
}

double CCheckpointIn::Double(const char* what) {
    double value = 0.0;
    Bytes(&value, sizeof value, what);
    return value;
}

std::string CCheckpointIn::Text(const char* what) {
    const int64_t size = IntIn(0, 1 << 20, what);
    std::string text(static_cast<size_t>(size), '\0');
    Bytes(text.data(), text.size(), what);
    return text;
}

void CCheckpointIn::Doubles(double* values, size_t count, const char* what) {
    Bytes(values, count * sizeof(double), what);
}

std::vector<double> CCheckpointIn::Doubles(size_t most, const char* what) {
    const int64_t count = IntIn(0, static_cast<int64_t>(most), what);
    std::vector<double> values(static_cast<size_t>(count));
    Doubles(values.data(), values.size(), what);
    return values;
}

void CCheckpointIn::Ints(int* values, size_t count, const char* what) {
    Bytes(values, count * sizeof(int), what);
}

void CCheckpointIn::End() {
    if (m_left != 0)
        Refuse(std::to_string(m_left) + " bytes follow its last value");
}
