#include "post/gnuplot_runner.h"

#include "post/result_exception.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

const unsigned char PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::vector<char> Writable(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return buffer;
}

// A private directory removed with its files when the object goes, and by
// the interrupt handler if the tool is stopped first.
class CScratchDir {
public:
    CScratchDir() {
        const char* tmp = std::getenv("TMPDIR");
        const std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kova-plot-XXXXXX";
        std::vector<char> buffer = Writable(pattern);
        int error = 0;
        {
            CStopSignalsHeld held; // made and noted, or neither
            if (mkdtemp(buffer.data()))
                m_cleanup = std::make_unique<CCleanupPath>(buffer.data(), true);
            else
                error = errno;
        }
        if (!m_cleanup)
            throw ResultException("cannot create a temporary directory under " +
                                  pattern.substr(0, pattern.rfind('/')) + ": " +
                                  std::strerror(error));
    }
    ~CScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(Path(), ignored);
    }
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;
    const std::string& Path() const { return m_cleanup->Path(); }
    // The path of a file in the directory, noted for the interrupt handler
    // before anything writes it.
    std::string File(const std::string& name) {
        m_files.push_back(std::make_unique<CCleanupPath>(Path() + "/" + name, false));
        return m_files.back()->Path();
    }

private:
    // Declared first, so the folder's note outlives those of its files.
    std::unique_ptr<CCleanupPath> m_cleanup;
    std::vector<std::unique_ptr<CCleanupPath>> m_files;
};

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw ResultException(path + ": cannot write the file");
}

// The permissions the picture ends with: an existing picture keeps its own;
// a new one gets what any new file would (0666 less the umask), not the
// owner-only mode of a temporary file.
mode_t PictureMode(const std::string& outPath) {
    struct stat existing;
    if (stat(outPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        return existing.st_mode & 0777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Runs program with the script as its only argument. Returns its exit status,
// or sets startError when it could not be started. While it runs it is
// noted for the interrupt handler.
int Spawn(const std::string& program, const std::string& script, int& startError) {
    std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                               const_cast<char*>(script.c_str()), nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    pid_t pid = 0;
    {
        // Started and noted, or neither: a child the handler did not know of
        // would outlive the tool and draw into a removed file.
        CStopSignalsHeld held;
        posix_spawnattr_setsigmask(&attributes, &held.Previous());
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        startError =
            posix_spawnp(&pid, program.c_str(), nullptr, &attributes, argv.data(), environ);
        if (startError == 0)
            NoteChild(pid);
    }
    posix_spawnattr_destroy(&attributes);
    if (startError != 0)
        return -1;

    // Wait without reaping: until the child is forgotten its pid cannot pass
    // to another process, so the handler kills nothing but gnuplot.
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    int status = 0;
    {
        CStopSignalsHeld held;
        NoteChild(0);
        while (waitpid(pid, &status, 0) < 0)
            if (errno != EINTR) {
                startError = errno;
                return -1;
            }
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

} // namespace

CPictureFile::CPictureFile(const std::string& outPath)
    : m_outPath(outPath), m_note("; " + outPath + " is left as it was") {
    std::error_code ignored;
    if (std::filesystem::is_directory(outPath, ignored))
        throw ResultException(outPath + ": a folder, not a picture file");
    // A hidden name beside the picture, as editors use for their saves.
    const size_t slash = outPath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : outPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? outPath : outPath.substr(slash + 1);
    std::vector<char> buffer = Writable(folder + "." + name + ".XXXXXX");
    int fd = -1;
    int error = 0;
    {
        CStopSignalsHeld held; // made and noted, or neither
        fd = mkstemp(buffer.data());
        if (fd >= 0)
            m_cleanup = std::make_unique<CCleanupPath>(buffer.data(), false);
        else
            error = errno;
    }
    if (fd < 0)
        throw ResultException(outPath + ": cannot write the picture (a temporary file in " +
                              (folder.empty() ? std::string("the current folder") : folder) + ": " +
                              std::strerror(error) + ")");
    m_drawPath = buffer.data();
    const int modeFailed = fchmod(fd, PictureMode(outPath));
    error = errno;
    close(fd);
    if (modeFailed != 0)
        throw ResultException(m_drawPath +
                              ": cannot set the picture's permissions: " + std::strerror(error));
}

CPictureFile::~CPictureFile() {
    if (!m_committed && !m_drawPath.empty())
        std::remove(m_drawPath.c_str());
}

void CPictureFile::Commit() {
    CStopSignalsHeld held; // renamed and its notes withdrawn, or neither
    if (std::rename(m_drawPath.c_str(), m_outPath.c_str()) != 0)
        throw ResultException(m_outPath + ": cannot put the picture in place (renaming " +
                              m_drawPath + ": " + std::strerror(errno) + ")");
    m_committed = true;
    m_cleanup.reset();
    m_note.Withdraw();
}

bool IsPngFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[8] = {};
    return in.read(reinterpret_cast<char*>(head), 8) &&
           std::memcmp(head, PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
}

void RunGnuplot(const CPlotJob& job, CPictureFile& picture) {
    const char* override = std::getenv("KOVA_GNUPLOT");
    const std::string program = override && *override ? override : "gnuplot";

    CScratchDir scratch;
    const std::string dataPath = scratch.File("plot.dat");
    const std::string scriptPath = scratch.File("plot.gp");
    WriteText(dataPath, job.m_data);
    WriteText(scriptPath, std::string(PLOT_DATA_VARIABLE) + " = " + GnuplotQuote(dataPath) + "\n" +
                              job.m_script);

    int startError = 0;
    const int status = Spawn(program, scriptPath, startError);
    if (startError == 0 && status == 0 && IsPngFile(picture.DrawPath())) {
        picture.Commit();
        return;
    }
    if (startError != 0 || status == 127)
        throw ResultException(
            "cannot run " + program +
            (startError != 0 ? ": " + std::string(std::strerror(startError)) : std::string()) +
            " (install gnuplot-nox, for example with scripts/install-deps.sh)");
    throw ResultException(picture.OutPath() + ": " + program + " did not draw the picture (exit " +
                          std::to_string(status) + ")");
}
