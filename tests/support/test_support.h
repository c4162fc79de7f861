// Helpers shared by the tests: model streams, temporary directories, running
// the real binary, reading output files.
#pragma once

#include "run/message_sink.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kova_test {

// A stream over text, prepared as the reader prepares the model file.
std::unique_ptr<std::istringstream> ModelStream(const std::string& text);

// A fresh empty directory under the system's temporary directory, removed with
// its files when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    // Path of a file inside the directory.
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// The int32 or the double at offset of a run's output file, little-endian as
// every machine the tests run on; throws std::out_of_range past the end.
template <typename T> T ValueAt(const std::vector<unsigned char>& bytes, size_t offset) {
    if (offset + sizeof(T) > bytes.size())
        throw std::out_of_range("no number at byte " + std::to_string(offset));
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}
inline int32_t IntAt(const std::vector<unsigned char>& b, size_t at) {
    return ValueAt<int32_t>(b, at);
}
inline double DoubleAt(const std::vector<unsigned char>& b, size_t at) {
    return ValueAt<double>(b, at);
}

void WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);
std::vector<unsigned char> ReadBinaryFile(const std::string& path);
bool FileExists(const std::string& path);

// Copies the model file fromDir/name.kvi to base.kvi; returns base.
std::string CopyModel(const std::string& fromDir, const std::string& name, const std::string& base);
// Copies fromDir/name.kvi into dir under its own name, so that a run writes
// its output files beside it; returns the base path of the copy.
std::string StageModel(const TempDir& dir, const std::string& fromDir, const std::string& name);

// Outcome of running a program to its end.
struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs kova-compute with the given arguments (no shell involved). inChild,
// when given, runs in the child between fork and exec (to set a resource
// limit or drop privileges, say); it may only make async-signal-safe calls.
ProcessResult RunCompute(const std::vector<std::string>& args,
                         const std::function<void()>& inChild = nullptr);
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::function<void()>& inChild = nullptr);

// Records the worker's failure reports for assertions.
class CRecordingSink : public CMessageSink {
public:
    void ShowMessage(const char* caption, const char* text, const char* detail) override {
        captions.push_back(caption);
        texts.push_back(text);
        details.push_back(detail ? detail : "");
    }
    void WriteDiagnostic(const char*) override {}
    void WriteWarning(const char* line) override { warnings.push_back(line); }
    std::vector<std::string> warnings;
    std::vector<std::string> captions;
    std::vector<std::string> texts;
    std::vector<std::string> details;
};

} // namespace kova_test
