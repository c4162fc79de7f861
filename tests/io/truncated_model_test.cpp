// Every model file of the examples and of the test data, cut short: a cut that
// leaves a number the reader needs missing ends in "Input Error" with nothing
// written; a cut that leaves every needed number ends as the whole file does.
// The cuts run in-process, as the binary runs them. Labelled slow.
#include "support/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <unistd.h>

using namespace kova_test;

namespace {

// The ends (one past the last character) of the text's tokens.
std::vector<size_t> TokenEnds(const std::string& text) {
    std::vector<size_t> ends;
    for (size_t k = 0; k < text.size(); ++k)
        if (!std::isspace(static_cast<unsigned char>(text[k])) &&
            (k + 1 == text.size() || std::isspace(static_cast<unsigned char>(text[k + 1]))))
            ends.push_back(k + 1);
    return ends;
}

// How many leading tokens reading the text consumes; 0 when it fails.
size_t TokensNeeded(const std::string& text, size_t* recordBytes = nullptr) {
    CEngine engine;
    auto in = ModelStream(text);
    if (!Outcome([&] { engine.Read(*in); }).empty())
        return 0;
    in->clear(); // a file that ends right after its last number leaves eof set
    const std::streamoff end = in->tellg();
    const size_t position = end < 0 ? text.size() : static_cast<size_t>(end);
    const std::vector<size_t> ends = TokenEnds(text);
    if (recordBytes)
        *recordBytes = static_cast<size_t>(engine.sim.m_nValues) * 8;
    return static_cast<size_t>(std::upper_bound(ends.begin(), ends.end(), position) - ends.begin());
}

// How one run of a text ended: its error, report, status, records.
struct CRunEnd {
    CInProcessRun run;
    bool wroteOutput = false;
    size_t records = 0;   // from the time file
    bool complete = true; // time file and data file agree
};

CRunEnd RunText(const TempDir& dir, const std::string& text, size_t recordBytes) {
    const std::string base = dir.File("cut");
    unlink((base + ".kvo").c_str());
    unlink((base + ".kvt").c_str());
    WriteTextFile(base + ".kvi", text);
    CRunEnd end;
    end.run = RunInProcess(base);
    end.wroteOutput = FileExists(base + ".kvo") || FileExists(base + ".kvt");
    if (end.run.error.empty()) {
        const std::vector<unsigned char> kvt = ReadBinaryFile(base + ".kvt");
        const int32_t n = kvt.size() >= 36 ? IntAt(kvt, 0) : 0;
        end.records = n > 0 ? static_cast<size_t>(n) : 0;
        end.complete = n >= 1 && kvt.size() == 36 + 8 * end.records &&
                       ReadBinaryFile(base + ".kvo").size() == end.records * recordBytes;
    }
    return end;
}

void ExpectInputError(const CRunEnd& end, const std::string& where) {
    EXPECT_EQ(end.run.error, "Input Error") << where << "\nstatus: " << end.run.status;
    EXPECT_EQ(end.run.texts, std::vector<std::string>{"ERROR - A kova Input Exception was caught"})
        << where;
    EXPECT_FALSE(end.wroteOutput) << where;
}

// Small files are cut at every byte; larger ones at every token boundary
// among their first and last 64 tokens, every 31st between, and every 257th
// byte. A large file's complete cuts are read, not run: the same numbers make
// the same run, and the examples' runs are tested end to end.
TEST(TruncatedModel, EveryCutIsAnInputErrorOrTheWholeRun) {
    std::vector<std::string> files;
    for (const char* dir : {KOVA_EXAMPLES_DIR, KOVA_TEST_DATA_DIR})
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().extension() == ".kvi")
                files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 10u);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::string text = ReadTextFile(file);
        const std::vector<size_t> ends = TokenEnds(text);
        size_t recordBytes = 0;
        const size_t needed = TokensNeeded(text, &recordBytes);
        const bool small = text.size() <= 2048;
        TempDir dir;
        const CRunEnd whole = small || !needed ? RunText(dir, text, recordBytes) : CRunEnd();
        if (!needed)
            ExpectInputError(whole, "the whole file");
        // Inside the last needed token a cut may leave another complete number.
        const size_t lastBegin =
            needed ? text.find_last_of(" \t\n", ends[needed - 1] - 1) + 1 : text.size() + 1;
        const size_t lastEnd = needed ? ends[needed - 1] : text.size() + 1;
        std::vector<size_t> cuts;
        for (size_t k = 0; k <= ends.size(); ++k)
            if (small || k < 64 || k + 64 >= ends.size() || k % 31 == 0)
                cuts.push_back(k ? ends[k - 1] : 0);
        for (size_t cut = 0; cut <= text.size(); cut += small ? 1 : 257)
            cuts.push_back(cut);
        for (const size_t cut : cuts) {
            const std::string part = text.substr(0, cut);
            const std::string where = "cut at byte " + std::to_string(cut) + ", ending \"" +
                                      part.substr(cut > 40 ? cut - 40 : 0) + "\"";
            if (cut >= lastEnd && !small) {
                EXPECT_EQ(TokensNeeded(part), needed) << where;
            } else if (cut >= lastEnd) {
                const CRunEnd end = RunText(dir, part, recordBytes);
                EXPECT_EQ(end.run.error, whole.run.error) << where;
                EXPECT_EQ(end.run.texts, whole.run.texts) << where;
                EXPECT_EQ(end.run.status, whole.run.status) << where;
                EXPECT_EQ(end.records, whole.records) << where;
                EXPECT_TRUE(end.complete) << where;
            } else {
                const CRunEnd end = RunText(dir, part, recordBytes);
                if (cut <= lastBegin)
                    ExpectInputError(end, where);
                else if (end.run.error != "Input Error") {
                    EXPECT_TRUE(end.run.error.empty() && end.complete)
                        << where << ": " << end.run.error;
                }
            }
            if (HasFailure())
                return;
        }
    }
}

} // namespace
