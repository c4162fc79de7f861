#include "post/replaced_file.h"

#include "post/result_exception.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Enough for the write calls not to matter next to building the text.
constexpr size_t WRITE_BUFFER_BYTES = 1 << 20;

// What a node that is neither a regular file nor a link is, for an error;
// empty for those two and for a missing path.
std::string KindOfNode(const std::string& path) {
    struct stat node;
    if (lstat(path.c_str(), &node) != 0 || S_ISREG(node.st_mode) || S_ISLNK(node.st_mode)) {
        // A link to a folder would be replaced by a file, and the folder's
        // user most likely meant a file inside it.
        struct stat target;
        return stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode) ? "a folder" : "";
    }
    if (S_ISDIR(node.st_mode))
        return "a folder";
    if (S_ISCHR(node.st_mode))
        return "a character device";
    if (S_ISBLK(node.st_mode))
        return "a block device";
    if (S_ISFIFO(node.st_mode))
        return "a FIFO";
    if (S_ISSOCK(node.st_mode))
        return "a socket";
    return "not a regular file";
}

// The permissions the new file ends with: an existing file keeps its own; a
// new one gets what any new file would (0666 less the umask), not the
// owner-only mode of a temporary file.
mode_t NewFileMode(const std::string& outPath) {
    struct stat existing;
    if (stat(outPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        return existing.st_mode & 0777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

} // namespace

void CheckReplaceable(const std::string& path, const std::string& what) {
    const std::string kind = KindOfNode(path);
    if (!kind.empty())
        throw ResultException(path + ": " + kind + ", not a " + what);
}

CReplacedFile::CReplacedFile(const std::string& outPath, const std::string& what)
    : m_outPath(outPath), m_what(what), m_note("; " + outPath + " is left as it was") {
    CheckReplaceable(outPath, what);
    // A hidden name beside the target, as editors use for their saves.
    const std::string folder = FolderOf(outPath);
    const std::string pattern = folder + "." + outPath.substr(folder.size()) + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int error = 0;
    {
        CStopSignalsHeld held; // made and noted, or neither
        m_fd = mkostemp(buffer.data(), O_CLOEXEC);
        if (m_fd >= 0)
            m_cleanup = std::make_unique<CCleanupPath>(buffer.data(), false);
        else
            error = errno;
    }
    if (m_fd < 0)
        Fail(std::string("a temporary file in ") +
             (folder.empty() ? "the current folder" : folder) + ": " + std::strerror(error));
    m_tempPath = buffer.data();
    if (fchmod(m_fd, NewFileMode(outPath)) != 0) {
        error = errno;
        Discard();
        throw ResultException(m_tempPath + ": cannot set the permissions of the " + what + ": " +
                              std::strerror(error));
    }
}

CReplacedFile::~CReplacedFile() {
    if (!m_committed)
        Discard();
}

void CReplacedFile::Discard() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    if (!m_tempPath.empty())
        std::remove(m_tempPath.c_str());
}

void CReplacedFile::Write(const std::string& text) {
    m_buffer += text;
    if (m_buffer.size() >= WRITE_BUFFER_BYTES)
        Flush();
}

void CReplacedFile::Flush() {
    const char* data = m_buffer.data();
    size_t left = m_buffer.size();
    while (left > 0) {
        const ssize_t n = write(m_fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail(n < 0 ? std::strerror(errno) : "nothing written");
        data += n;
        left -= static_cast<size_t>(n);
    }
    m_buffer.clear();
}

void CReplacedFile::Commit() {
    Flush();
    const int fd = m_fd;
    m_fd = -1;
    // Some file systems (NFS, a full quota) say only here that data was lost.
    if (close(fd) != 0)
        Fail(std::strerror(errno));
    CStopSignalsHeld held; // renamed and its notes withdrawn, or neither
    // The target may have changed while the file was written.
    CheckReplaceable(m_outPath, m_what);
    if (std::rename(m_tempPath.c_str(), m_outPath.c_str()) != 0)
        throw ResultException(m_outPath + ": cannot put the " + m_what + " in place (renaming " +
                              m_tempPath + ": " + std::strerror(errno) + ")");
    m_committed = true;
    m_note.Withdraw();
    m_cleanup.reset();
}

void CReplacedFile::Fail(const std::string& cause) const {
    throw ResultException(m_outPath + ": cannot write the " + m_what + " (" + cause + ")");
}
