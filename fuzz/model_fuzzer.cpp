// libFuzzer target: bytes as a model file, run through the run sequence with
// the cuts of RunModelText. Any outcome but a finished run or one of the
// reported failure classes a model may cause aborts, and so does anything the
// sanitizers catch. The output files are links to /dev/null in a directory of
// their own, removed at exit.
#include "fuzz_model.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

std::string g_dir;
std::string g_base;
bool g_verbose = false; // KOVA_FUZZ_VERBOSE set: one line per input on stderr

void RemoveOutputDir() {
    unlink((g_base + ".kvo").c_str());
    unlink((g_base + ".kvt").c_str());
    rmdir(g_dir.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kova-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "kova fuzzer: mkdtemp failed: %s\n", std::strerror(errno));
        std::abort();
    }
    g_dir = pattern;
    g_base = g_dir + "/model";
    if (symlink("/dev/null", (g_base + ".kvo").c_str()) != 0 ||
        symlink("/dev/null", (g_base + ".kvt").c_str()) != 0) {
        std::fprintf(stderr, "kova fuzzer: symlink failed: %s\n", std::strerror(errno));
        std::abort();
    }
    std::atexit(RemoveOutputDir);
    g_verbose = std::getenv("KOVA_FUZZ_VERBOSE") != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const kova_fuzz::CFuzzResult result = kova_fuzz::RunModelText(text, g_base);
    if (g_verbose)
        std::fprintf(stderr, "kova fuzzer: %s, %d records: %s\n",
                     kova_fuzz::OutcomeName(result.outcome), result.records, result.detail.c_str());
    if (!kova_fuzz::IsCleanOutcome(result.outcome)) {
        std::fprintf(stderr, "kova fuzzer: %s: %s\n", kova_fuzz::OutcomeName(result.outcome),
                     result.detail.c_str());
        std::abort();
    }
    return 0;
}
