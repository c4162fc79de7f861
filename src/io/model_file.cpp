#include "io/model_file.h"

#include "io/extension_file.h"
#include "io/reader.h"
#include "model/exceptions.h"
#include "model/simulation.h"
#include "run/platform.h"
#include "run/run_control.h"

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

void LoadModel(CSimulation& s, const std::string& base) {
    LoadModelFile(s, base);
    LoadExtension(s, base);
}

void LoadModelFile(CSimulation& s, const std::string& base) {
    const std::string path = ModelFileName(base);
    s.m_runControl->SetStatus("Reading Input Data ...");
    try {
        errno = 0;
        const int fd = OpenRegular(path);
        if (fd < 0)
            throw BadFileException(std::string("Bad File: the model file cannot be read: ") +
                                   std::strerror(errno));
        close(fd);
        std::ifstream in(path);
        ReadInput(s, in);
    } catch (Exception& e) {
        e.AddWhere("(file " + path + ")");
        throw;
    }
}

CModelLock::CModelLock(const std::string& base) {
    const std::string path = ModelFileName(base);
    try {
        m_fd = OpenRegular(path);
    } catch (Exception& e) {
        e.AddWhere("(file " + path + ")");
        throw;
    }
    if (m_fd < 0 || flock(m_fd, LOCK_EX | LOCK_NB) == 0)
        return;
    const int reason = errno;
    struct stat info;
    const long holder = fstat(m_fd, &info) == 0 ? FlockHolder(info.st_dev, info.st_ino) : 0;
    close(m_fd);
    m_fd = -1;
    if (reason != EWOULDBLOCK)
        return; // no locks on this file system: runs are not kept apart
    throw InputException("the model file " + path + " is locked by another run" +
                         (holder > 0 ? " (process " + std::to_string(holder) + ")" : "") +
                         ": one run per base at a time");
}

CModelLock::~CModelLock() {
    if (m_fd >= 0)
        close(m_fd);
}
