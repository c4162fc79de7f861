// Every model file of the examples and of the test data, cut short: a cut that
// leaves a number the reader needs missing ends in "Input Error" with nothing
// written; a cut that leaves every needed number ends as the whole file does.
// The cuts run in-process through CSimulation::Run, as the binary runs them.
#include "io/reader.h"
#include "model/exceptions.h"
#include "model/simulation.h"
#include "support/in_process.h"
#include "support/run_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <unistd.h>

using namespace kova_test;

namespace {

struct CToken {
    size_t begin;
    size_t end; // one past the last character
};

std::vector<CToken> Tokens(const std::string& text) {
    std::vector<CToken> tokens;
    size_t k = 0;
    while (k < text.size()) {
        while (k < text.size() && std::isspace(static_cast<unsigned char>(text[k])))
            ++k;
        if (k == text.size())
            break;
        const size_t begin = k;
        while (k < text.size() && !std::isspace(static_cast<unsigned char>(text[k])))
            ++k;
        tokens.push_back({begin, k});
    }
    return tokens;
}

// How the whole file reads: the number of its leading tokens the reader
// consumes (0 when it fails) and the size of one output record.
struct CModelShape {
    bool reads = false;
    size_t tokensNeeded = 0;
    size_t recordBytes = 0;
};

CModelShape Shape(const std::string& text, const std::vector<CToken>& tokens) {
    CModelReader reader;
    CSimulation& sim = reader.sim;
    auto in = ModelStream(text);
    CModelShape shape;
    try {
        ReadInput(sim, *in);
    } catch (const Exception&) {
        sim.FreeArrays();
        return shape;
    }
    in->clear(); // a file that ends right after its last number leaves eof set
    const std::streamoff end = in->tellg();
    const size_t position = end < 0 ? text.size() : static_cast<size_t>(end);
    shape.reads = true;
    while (shape.tokensNeeded < tokens.size() && tokens[shape.tokensNeeded].end <= position)
        ++shape.tokensNeeded;
    shape.recordBytes = static_cast<size_t>(sim.m_nValues) * 8;
    sim.FreeArrays();
    return shape;
}

// What one run of a model file ended with.
struct CRunEnd : CInProcessRun {
    bool wroteOutput = false;
    size_t records = 0;   // from the time file; 0 when it is not complete
    bool complete = true; // time file and data file agree
};

CRunEnd RunFile(const TempDir& dir, const std::string& text, size_t recordBytes) {
    const std::string base = dir.File("cut");
    unlink((base + ".kvo").c_str());
    unlink((base + ".kvt").c_str());
    WriteTextFile(base + ".kvi", text);
    CRunEnd end;
    static_cast<CInProcessRun&>(end) = RunInProcess(base);
    end.wroteOutput = FileExists(base + ".kvo") || FileExists(base + ".kvt");
    if (end.error.empty()) {
        const std::vector<unsigned char> kvt = ReadBinaryFile(base + ".kvt");
        const std::vector<unsigned char> kvo = ReadBinaryFile(base + ".kvo");
        const int32_t n = kvt.size() >= 36 ? IntAt(kvt, 0) : 0;
        end.records = n > 0 ? static_cast<size_t>(n) : 0;
        end.complete =
            n >= 1 && kvt.size() == 36 + 8 * end.records && kvo.size() == end.records * recordBytes;
    }
    return end;
}

std::string Describe(const std::string& file, const std::string& text, size_t cut) {
    const size_t from = cut > 40 ? cut - 40 : 0;
    return file + " cut at byte " + std::to_string(cut) + " of " + std::to_string(text.size()) +
           ", ending \"" + text.substr(from, cut - from) + "\"";
}

void ExpectInputError(const CRunEnd& end, const std::string& where) {
    EXPECT_EQ(end.error, "Input Error") << where << "\nstatus: " << end.status;
    ASSERT_EQ(end.texts.size(), 1u) << where;
    EXPECT_EQ(end.texts[0], "ERROR - A kova Input Exception was caught") << where;
    EXPECT_NE(end.status, "Done.") << where;
    EXPECT_FALSE(end.wroteOutput) << where;
}

void ExpectSameEnd(const CRunEnd& end, const CRunEnd& whole, const std::string& where) {
    EXPECT_EQ(end.error, whole.error) << where;
    EXPECT_EQ(end.texts, whole.texts) << where;
    EXPECT_EQ(end.status, whole.status) << where;
    EXPECT_EQ(end.records, whole.records) << where;
    EXPECT_TRUE(end.complete) << where;
}

std::vector<std::string> ModelFiles() {
    std::vector<std::string> files;
    for (const char* dir : {KOVA_EXAMPLES_DIR, KOVA_TEST_DATA_DIR})
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().extension() == ".kvi")
                files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Small files are cut at every token boundary and every byte; larger ones at
// every token boundary among their first and last tokens, every 31st one
// between, and every 257th byte.
constexpr size_t SMALL_FILE_BYTES = 2048;
constexpr size_t EDGE_TOKENS = 64;

bool Sampled(size_t index, size_t count, size_t every, bool small) {
    return small || index < EDGE_TOKENS || index + EDGE_TOKENS >= count || index % every == 0;
}

TEST(TruncatedModel, EveryCutIsAnInputErrorOrTheWholeRun) {
    const std::vector<std::string> files = ModelFiles();
    ASSERT_GE(files.size(), 10u);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::string text = ReadTextFile(file);
        const std::vector<CToken> tokens = Tokens(text);
        const CModelShape shape = Shape(text, tokens);
        const bool small = text.size() <= SMALL_FILE_BYTES;
        TempDir dir;
        // A large file's complete cuts are read, not run: the same numbers
        // read make the same run, and the examples' runs are tested end to end.
        CRunEnd whole;
        if (small || !shape.reads)
            whole = RunFile(dir, text, shape.recordBytes);
        if (!shape.reads)
            ExpectInputError(whole, file + " as a whole");
        auto expectComplete = [&](const std::string& cutText, const std::string& where) {
            if (small) {
                ExpectSameEnd(RunFile(dir, cutText, shape.recordBytes), whole, where);
                return;
            }
            const CModelShape cutShape = Shape(cutText, Tokens(cutText));
            EXPECT_TRUE(cutShape.reads) << where;
            EXPECT_EQ(cutShape.tokensNeeded, shape.tokensNeeded) << where;
        };

        // Token boundaries: the cut keeps tokens 0 .. k - 1.
        for (size_t k = 0; k <= tokens.size(); ++k) {
            if (!Sampled(k, tokens.size(), 31, small))
                continue;
            const size_t cut = k == 0 ? 0 : tokens[k - 1].end;
            const std::string where = Describe(file, text, cut);
            if (shape.reads && k >= shape.tokensNeeded)
                expectComplete(text.substr(0, cut), where);
            else
                ExpectInputError(RunFile(dir, text.substr(0, cut), shape.recordBytes), where);
            if (HasFailure())
                return;
        }

        // Byte offsets. Inside the last needed token the cut may leave a
        // different but complete number, so either end is fine there.
        const size_t lastBegin = shape.reads && shape.tokensNeeded > 0
                                     ? tokens[shape.tokensNeeded - 1].begin
                                     : text.size() + 1;
        const size_t lastEnd = shape.reads && shape.tokensNeeded > 0
                                   ? tokens[shape.tokensNeeded - 1].end
                                   : text.size() + 1;
        for (size_t cut = 0; cut <= text.size(); ++cut) {
            if (!small && cut % 257 != 0)
                continue;
            const std::string where = Describe(file, text, cut);
            if (cut >= lastEnd) {
                expectComplete(text.substr(0, cut), where);
                continue;
            }
            const CRunEnd end = RunFile(dir, text.substr(0, cut), shape.recordBytes);
            if (cut <= lastBegin)
                ExpectInputError(end, where);
            else if (end.error != "Input Error") {
                EXPECT_TRUE(end.error.empty() && end.complete) << where << ": " << end.error;
            }
            if (HasFailure())
                return;
        }
    }
}

} // namespace
