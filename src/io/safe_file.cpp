#include "io/safe_file.h"

#include "model/exceptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string Reason() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : "";
}

std::FILE* OpenUnchanged(const std::string& name, const char* text, bool* created) {
    const int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    errno = 0;
    int fd = open(name.c_str(), flags);
    *created = false;
    if (fd < 0 && errno == ENOENT) {
        fd = open(name.c_str(), flags | O_CREAT | O_EXCL, 0666);
        *created = fd >= 0;
    }
    if (fd < 0) {
        if (errno == ELOOP || errno == EEXIST)
            throw InputException("the output file " + name +
                                 " is a symbolic link: a run does not write through one");
        if (errno == ENXIO) // a FIFO without a reader
            throw InputException("the output file " + name + " is not a regular file");
        throw SystemFailure(std::string(text) + " (" + name + Reason() + ")");
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        throw InputException("the output file " + name + " is not a regular file");
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        if (*created)
            unlink(name.c_str());
        throw SystemFailure(std::string(text) + " (" + name + Reason() + ")");
    }
    return file;
}

void Truncate(std::FILE* file, const std::string& what) {
    errno = 0;
    if (std::fflush(file) != 0 || ftruncate(fileno(file), 0) != 0 ||
        std::fseek(file, 0, SEEK_SET) != 0)
        throw SystemFailure("could not empty " + what + Reason());
}

void Renew(std::FILE*& file, const std::string& name, const std::string& what) {
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || info.st_nlink <= 1) {
        Truncate(file, what);
        return;
    }
    // A new file beside the old one, then renamed over it: the name never
    // goes missing, and the other links keep the old contents. Its name is
    // made unique, so that one a killed run left behind cannot stand in the
    // way; it takes the old file's permissions.
    std::string fresh = name + ".XXXXXX";
    errno = 0;
    const int fd = mkostemp(&fresh[0], O_CLOEXEC);
    if (fd < 0)
        throw SystemFailure("could not replace " + what + " (" + fresh + Reason() +
                            "), which has other hard links");
    std::FILE* stream = fchmod(fd, info.st_mode & 07777) == 0 ? fdopen(fd, "wb") : nullptr;
    if (!stream || rename(fresh.c_str(), name.c_str()) != 0) {
        const std::string reason = Reason();
        if (stream)
            std::fclose(stream);
        else
            close(fd);
        unlink(fresh.c_str());
        throw SystemFailure("could not replace " + what + ", which has other hard links" + reason);
    }
    std::fclose(file);
    file = stream;
}

uint64_t LengthOf(std::FILE* file, const std::string& what) {
    FlushChecked(file, what);
    struct stat info;
    errno = 0;
    if (fstat(fileno(file), &info) != 0)
        throw SystemFailure("could not measure " + what + Reason());
    return static_cast<uint64_t>(info.st_size);
}

void CutTo(std::FILE* file, uint64_t length, const std::string& name) {
    struct stat info;
    errno = 0;
    if (fstat(fileno(file), &info) != 0)
        throw SystemFailure("could not measure " + name + Reason());
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size < length)
        throw InputException(name + " holds " + std::to_string(size) + " bytes, fewer than the " +
                             std::to_string(length) +
                             " it held at the checkpoint: it was changed since, and the run "
                             "cannot go on from the checkpoint");
    errno = 0;
    if (ftruncate(fileno(file), static_cast<off_t>(length)) != 0 ||
        std::fseek(file, 0, SEEK_END) != 0)
        throw SystemFailure("could not cut " + name + " back to the checkpoint" + Reason());
}

void WriteChecked(std::FILE* file, const void* data, size_t size, size_t count,
                  const std::string& what) {
    errno = 0;
    if (std::fwrite(data, size, count, file) != count)
        throw SystemFailure("could not write " + what + Reason());
}

void FlushChecked(std::FILE* file, const std::string& what) {
    errno = 0;
    if (std::fflush(file) != 0)
        throw SystemFailure("could not write " + what + Reason());
}

void CloseChecked(std::FILE*& file, const std::string& what) {
    std::FILE* closing = file;
    file = nullptr;
    errno = 0;
    if (std::fclose(closing) != 0)
        throw SystemFailure("could not close " + what + Reason());
}

CTextResultFile::~CTextResultFile() {
    if (m_file)
        std::fclose(m_file);
}

void CTextResultFile::OpenFile() {
    const std::string text = "Could not open the result file " + m_name + ".";
    m_file = OpenUnchanged(m_name, text.c_str(), &m_created);
}

void CTextResultFile::Start() {
    try {
        Renew(m_file, m_name, "the result file " + m_name);
    } catch (const Exception&) {
        Discard();
        throw;
    }
}

void CTextResultFile::Discard() {
    if (!m_file)
        return;
    std::fclose(m_file);
    m_file = nullptr;
    if (m_created)
        unlink(m_name.c_str());
}

void CTextResultFile::Open() {
    OpenFile();
    Start();
}

void CTextResultFile::Flush() {
    errno = 0;
    if (!m_file || std::ferror(m_file) || std::fflush(m_file) != 0)
        throw SystemFailure("could not write the result file " + m_name + Reason());
}

uint64_t CTextResultFile::Length() {
    Flush();
    return LengthOf(m_file, "the result file " + m_name);
}

void CTextResultFile::CutTo(uint64_t length) {
    ::CutTo(m_file, length, m_name);
}

void CTextResultFile::Close() {
    if (!m_file)
        return;
    Flush();
    CloseChecked(m_file, "the result file " + m_name);
}
