#include "post/gnuplot_runner.h"

#include "post/result_exception.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

const unsigned char PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A private directory removed with its files when the object goes.
class CScratchDir {
public:
    CScratchDir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kova-plot-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data()))
            throw ResultException("cannot create a temporary directory under " +
                                  pattern.substr(0, pattern.rfind('/')) + ": " +
                                  std::strerror(errno));
        m_path = buffer.data();
    }
    ~CScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw ResultException(path + ": cannot write the file");
}

// Runs program with the script as its only argument. Returns its exit status,
// or sets startError when it could not be started.
int Spawn(const std::string& program, const std::string& script, int& startError) {
    std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                               const_cast<char*>(script.c_str()), nullptr};
    pid_t pid = 0;
    startError = posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (startError != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) {
            startError = errno;
            return -1;
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

void RunGnuplot(const CPlotJob& job, const std::string& outPath) {
    const char* override = std::getenv("KOVA_GNUPLOT");
    const std::string program = override && *override ? override : "gnuplot";

    CScratchDir scratch;
    const std::string dataPath = scratch.Path() + "/plot.dat";
    const std::string scriptPath = scratch.Path() + "/plot.gp";
    WriteText(dataPath, job.m_data);
    WriteText(scriptPath, std::string(PLOT_DATA_VARIABLE) + " = " + GnuplotQuote(dataPath) + "\n" +
                              job.m_script);

    // Make sure the picture can be written before gnuplot is asked to.
    {
        std::ofstream probe(outPath, std::ios::binary | std::ios::trunc);
        if (!probe)
            throw ResultException(outPath + ": cannot write the picture");
    }
    int startError = 0;
    const int status = Spawn(program, scriptPath, startError);
    if (startError == 0 && status == 0 && IsPngFile(outPath))
        return;
    std::error_code ignored;
    std::filesystem::remove(outPath, ignored);
    if (startError != 0 || status == 127)
        throw ResultException(
            "cannot run " + program +
            (startError != 0 ? ": " + std::string(std::strerror(startError)) : std::string()) +
            " (install gnuplot-nox, for example with scripts/install-deps.sh)");
    throw ResultException(outPath + ": " + program + " did not draw the picture (exit " +
                          std::to_string(status) + ")");
}
