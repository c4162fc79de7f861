#include "post/gnuplot_runner.h"

#include "post/interrupt_cleanup.h"
#include "post/result_exception.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <spawn.h>
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
        // A group of its own, so that the handler ends whatever it starts in
        // turn (a wrapper's gnuplot) and not only the program itself.
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
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
