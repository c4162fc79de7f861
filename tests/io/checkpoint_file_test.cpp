// The checkpoint container: what is written is read back bit for bit, a
// checkpoint replaces the one before only when whole, and a file that is
// damaged, cut, of another format or read past its end is refused, naming
// why.
#include "io/checkpoint_file.h"
#include "support/engine.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

using namespace kova_test;

namespace {

// A checkpoint of a text, a whole number, three doubles (a NaN among them,
// whose bits must survive) and two ints.
void WriteSample(const std::string& base, int64_t number) {
    CCheckpointOut out(base);
    out.Text("version");
    out.Int(number);
    const double values[] = {1.5, -0.0, std::nan("7")};
    out.Doubles(values, 3);
    const int ints[] = {-4, 9};
    out.Ints(ints, 2);
    out.Commit();
}

TEST(CheckpointFile, ValuesComeBackBitForBit) {
    const TempDir dir;
    const std::string base = dir.File("m");
    WriteSample(base, -123456789012345);
    CCheckpointIn in(base);
    EXPECT_EQ(in.Text("text"), "version");
    EXPECT_EQ(in.Int("number"), -123456789012345);
    double values[3];
    in.Doubles(values, 3, "values");
    const double expected[] = {1.5, -0.0, std::nan("7")};
    EXPECT_EQ(std::memcmp(values, expected, sizeof values), 0);
    int ints[2];
    in.Ints(ints, 2, "ints");
    EXPECT_EQ(ints[0], -4);
    EXPECT_EQ(ints[1], 9);
    in.End();
    EXPECT_FALSE(FileExists(base + ".kvr.part"));
}

// A writer that does not commit (a failure, or a run killed while it
// writes, as far as the file it leaves goes) keeps the checkpoint before.
TEST(CheckpointFile, AWriterThatDoesNotCommitLeavesTheOldCheckpoint) {
    const TempDir dir;
    const std::string base = dir.File("m");
    WriteSample(base, 1);
    {
        CCheckpointOut out(base);
        out.Int(2);
    }
    EXPECT_FALSE(FileExists(base + ".kvr.part"));
    CCheckpointIn in(base);
    in.Text("text");
    EXPECT_EQ(in.Int("number"), 1);
}

// Killed between its renames, a run leaves the checkpoint before as
// BASE.kvr.prev, which is read; the next checkpoint leaves none behind.
TEST(CheckpointFile, TheCheckpointBeforeServesWhileTheNewOneTakesItsName) {
    const TempDir dir;
    const std::string base = dir.File("m");
    WriteSample(base, 4);
    ASSERT_EQ(std::rename((base + ".kvr").c_str(), (base + ".kvr.prev").c_str()), 0);
    {
        CCheckpointIn in(base);
        EXPECT_EQ(in.Name(), base + ".kvr.prev");
        in.Text("text");
        EXPECT_EQ(in.Int("number"), 4);
    }
    WriteSample(base, 6);
    EXPECT_FALSE(FileExists(base + ".kvr.prev"));
    CCheckpointIn in(base);
    in.Text("text");
    EXPECT_EQ(in.Int("number"), 6);
}

// A part a killed run left behind is the next writer's to replace.
TEST(CheckpointFile, APartLeftBehindIsReplaced) {
    const TempDir dir;
    const std::string base = dir.File("m");
    WriteTextFile(base + ".kvr.part", "left by a killed run");
    WriteSample(base, 3);
    CCheckpointIn in(base);
    in.Text("text");
    EXPECT_EQ(in.Int("number"), 3);
}

struct CDamage {
    const char* name;
    void (*change)(std::vector<unsigned char>& bytes);
    const char* why;
};

class Damaged : public ::testing::TestWithParam<CDamage> {};

TEST_P(Damaged, IsRefusedSayingWhy) {
    const TempDir dir;
    const std::string base = dir.File("m");
    WriteSample(base, 5);
    std::vector<unsigned char> bytes = ReadBinaryFile(base + ".kvr");
    GetParam().change(bytes);
    WriteTextFile(base + ".kvr", std::string(bytes.begin(), bytes.end()));
    const std::string outcome = Outcome([&] { CCheckpointIn in(base); });
    EXPECT_NE(outcome.find("cannot be continued from: "), std::string::npos) << outcome;
    EXPECT_NE(outcome.find(GetParam().why), std::string::npos) << outcome;
}

const CDamage DAMAGES[] = {
    {"one_bit_flipped", [](auto& b) { b[b.size() / 2] ^= 1; }, "it is damaged"},
    {"digest_flipped", [](auto& b) { b.back() ^= 0x80; }, "it is damaged"},
    {"cut_short", [](auto& b) { b.resize(b.size() - 1); }, "it is damaged"},
    {"cut_to_nothing", [](auto& b) { b.resize(4); }, "too short to be a checkpoint"},
    {"longer", [](auto& b) { b.push_back(0); }, "it is damaged"},
};

INSTANTIATE_TEST_SUITE_P(CheckpointFile, Damaged, ::testing::ValuesIn(DAMAGES),
                         [](const ::testing::TestParamInfo<CDamage>& p) {
                             return std::string(p.param.name);
                         });

TEST(CheckpointFile, AReadPastTheEndNamesTheValue) {
    const TempDir dir;
    const std::string base = dir.File("m");
    {
        CCheckpointOut out(base);
        out.Int(7);
        out.Commit();
    }
    CCheckpointIn in(base);
    EXPECT_EQ(in.IntIn(0, 10, "count"), 7);
    EXPECT_NE(Outcome([&] { in.Double("time reached"); }).find("it ends inside its time reached"),
              std::string::npos);
}

TEST(CheckpointFile, ValuesLeftOverOrOutsideTheirRangeAreRefused) {
    const TempDir dir;
    const std::string base = dir.File("m");
    {
        CCheckpointOut out(base);
        out.Int(11);
        out.Int(0);
        out.Commit();
    }
    CCheckpointIn in(base);
    EXPECT_NE(Outcome([&] {
                  in.IntIn(0, 10, "record count");
              }).find("its record count 11 is outside 0..10"),
              std::string::npos);
    EXPECT_NE(Outcome([&] { in.End(); }).find("8 bytes follow its last value"), std::string::npos);
}

TEST(CheckpointFile, NoCheckpointOrNoneAtAllIsRefused) {
    const TempDir dir;
    const std::string base = dir.File("m");
    EXPECT_NE(Outcome([&] { CCheckpointIn in(base); }).find("there is no checkpoint"),
              std::string::npos);
    WriteTextFile(base + ".kvr", std::string(40, 'x'));
    EXPECT_NE(Outcome([&] { CCheckpointIn in(base); }).find("it is damaged"), std::string::npos);
}

TEST(CheckpointFile, TheDigestOfAFileFollowsItsBytes) {
    const TempDir dir;
    WriteTextFile(dir.File("a"), "100 100 0 1 0 1\n");
    WriteTextFile(dir.File("b"), "100 100 0 1 0 1\n");
    EXPECT_EQ(FileDigest(dir.File("a")), FileDigest(dir.File("b")));
    WriteTextFile(dir.File("b"), "100 100 0 1 0 2\n");
    EXPECT_NE(FileDigest(dir.File("a")), FileDigest(dir.File("b")));
    EXPECT_NE(Outcome([&] { FileDigest(dir.File("none")); }).find("cannot read"),
              std::string::npos);
}

} // namespace
