#include "io/model_file.h"

#include "io/extension_file.h"
#include "io/reader.h"
#include "model/exceptions.h"
#include "model/simulation.h"
#include "run/platform.h"
#include "run/run_progress.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Opens path for reading without blocking (a FIFO would wait for a writer
// for ever) and refuses anything but a regular file. -1 with errno set when
// it cannot be opened at all.
int OpenRegular(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        throw InputException("the model file is not a regular file (a FIFO or a device would "
                             "block the run, a directory holds no model)");
    }
    return fd;
}

} // namespace

std::string ModelFileName(const std::string& base) {
    return base + ".kvi";
}

std::string ModelBaseOf(const std::string& argument) {
    const std::string ext = ".kvi";
    if (argument.size() > ext.size() &&
        argument.compare(argument.size() - ext.size(), ext.size(), ext) == 0 &&
        !Exists(ModelFileName(argument)) && Exists(argument))
        return argument.substr(0, argument.size() - ext.size());
    return argument;
}

void LoadModel(CSimulation& s, CReactions& rx, const std::string& base) {
    LoadModelFile(s, rx, base);
    LoadExtension(s, base);
}

void LoadModelFile(CSimulation& s, CReactions& rx, const std::string& base) {
    const std::string path = ModelFileName(base);
    s.m_progress->SetStatus("Reading Input Data ...");
    try {
        errno = 0;
        const int fd = OpenRegular(path);
        if (fd < 0)
            throw BadFileException(std::string("Bad File: the model file cannot be read: ") +
                                   std::strerror(errno));
        close(fd);
        std::ifstream in(path);
        ReadInput(s, rx, in);
    } catch (Exception& e) {
        e.AddWhere("(file " + path + ")");
        throw;
    }
}

std::string LockFileName(const std::string& base) {
    const size_t slash = base.rfind('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    return base.substr(0, name) + "." + base.substr(name) + ".lock";
}

namespace {

// Takes the run's lock on fd; false when the file system keeps no locks.
// A lock another run holds is the InputException of a locked base.
bool TakeRunLock(int fd, const std::string& modelFile) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    const int reason = errno;
    if (reason != EWOULDBLOCK)
        return false; // no locks on this file system: runs are not kept apart
    struct stat info;
    const long holder = fstat(fd, &info) == 0 ? FlockHolder(info.st_dev, info.st_ino) : 0;
    throw InputException("the model file " + modelFile + " is locked by another run" +
                         (holder > 0 ? " (process " + std::to_string(holder) + ")" : "") +
                         ": one run per base at a time");
}

// The lock file, opened (created when missing) as a regular file and never
// through a symbolic link; -1 when the folder takes no new file.
int OpenLockFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == ELOOP)
            throw InputException("the lock file " + path +
                                 " is a symbolic link: a run does not lock through one");
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        throw InputException("the lock file " + path + " is not a regular file");
    }
    return fd;
}

} // namespace

CModelLock::CModelLock(const std::string& base) {
    const std::string path = ModelFileName(base);
    // The lock file first: an editor that saves BASE.kvi by renaming a new
    // file over it replaces the model file, and a lock on the model file
    // alone would go with the old one.
    m_lockFd = OpenLockFile(LockFileName(base));
    if (m_lockFd >= 0 && !TakeRunLock(m_lockFd, path)) {
        close(m_lockFd);
        m_lockFd = -1;
    }
    // The model file too, for the tools that look for the lock there.
    try {
        m_fd = OpenRegular(path);
    } catch (Exception& e) {
        e.AddWhere("(file " + path + ")");
        throw;
    }
    if (m_fd >= 0 && !TakeRunLock(m_fd, path)) {
        close(m_fd);
        m_fd = -1;
    }
}

CModelLock::~CModelLock() {
    if (m_fd >= 0)
        close(m_fd);
    if (m_lockFd >= 0)
        close(m_lockFd);
}
