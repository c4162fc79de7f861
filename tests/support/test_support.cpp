#include "support/test_support.h"

#include "io/model_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kova_test {

std::unique_ptr<std::istringstream> ModelStream(const std::string& text) {
    auto in = std::make_unique<std::istringstream>(text);
    PrepareModelStream(*in);
    return in;
}

TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kova-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    m_path = buffer.data();
}

namespace {
int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return std::remove(path);
}
} // namespace

TempDir::~TempDir() {
    nftw(m_path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<unsigned char> ReadBinaryFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string CopyModel(const std::string& fromDir, const std::string& name,
                      const std::string& base) {
    WriteTextFile(base + ".kvi", ReadTextFile(fromDir + "/" + name + ".kvi"));
    return base;
}

std::string StageModel(const TempDir& dir, const std::string& fromDir, const std::string& name) {
    return CopyModel(fromDir, name, dir.File(name));
}

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::function<void()>& inChild) {
    // stdout goes to a file of the caller's; stderr through a pipe read to its
    // end, which no file-size limit of the child's can cut short.
    const TempDir dir;
    const std::string out = dir.File("out");
    int err[2];
    if (pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(err[1], 2);
        close(err[0]);
        close(err[1]);
        if (inChild)
            inChild();
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(err[1]);
    ProcessResult result;
    char buffer[4096];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            result.err.append(buffer, static_cast<size_t>(n));
        else if (errno != EINTR)
            break;
    }
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadTextFile(out);
    return result;
}

ProcessResult RunCompute(const std::vector<std::string>& args,
                         const std::function<void()>& inChild) {
    return RunProgram(KOVA_COMPUTE_BIN, args, inChild);
}

} // namespace kova_test
