// The picture kova-plot draws is a temporary file beside the target until it
// is put in place; whatever way the drawing ends without that, the target is
// untouched and nothing is left beside it.
#include "post/gnuplot_runner.h"
#include "post/result_exception.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace kova_test;

namespace {

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(PictureFile, DrawsBesideTheTargetAndReplacesItOnlyOnCommit) {
    TempDir dir;
    const std::string target = dir.File("pic.png");
    WriteTextFile(target, "old");
    {
        CPictureFile picture(target);
        const std::filesystem::path draw(picture.DrawPath());
        EXPECT_EQ(draw.parent_path().string(), dir.Path());
        EXPECT_EQ(draw.filename().string().rfind(".pic.png.", 0), 0u) << draw;
        EXPECT_TRUE(FileExists(picture.DrawPath()));
        WriteTextFile(picture.DrawPath(), "new, never put in place");
    }
    EXPECT_EQ(ReadTextFile(target), "old");
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>({"pic.png"}));

    {
        CPictureFile picture(target);
        WriteTextFile(picture.DrawPath(), "new");
        picture.Commit();
    }
    EXPECT_EQ(ReadTextFile(target), "new");
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>({"pic.png"}));
}

TEST(PictureFile, AFailedDrawingIsRemovedAsTheErrorLeaves) {
    TempDir dir;
    const std::string target = dir.File("pic.png");
    try {
        CPictureFile picture(target);
        WriteTextFile(picture.DrawPath(), "half");
        throw ResultException("gnuplot failed");
    } catch (const ResultException&) {
    }
    EXPECT_FALSE(FileExists(target));
    EXPECT_TRUE(Names(dir.Path()).empty());
}

// Only a regular file or a link is replaced: a device or a FIFO named by
// mistake (-o /dev/null) would be lost to the rename.
TEST(PictureFile, TargetsThatCannotBeWrittenAreRefusedUpFront) {
    TempDir dir;
    const std::string fifo = dir.File("fifo.png");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string folderLink = dir.File("folder.png");
    ASSERT_EQ(symlink(dir.Path().c_str(), folderLink.c_str()), 0);
    const struct {
        std::string target;
        std::string error;
    } cases[] = {
        {dir.File("none/pic.png"), dir.File("none/pic.png") +
                                       ": cannot write the picture file (a temporary file in " +
                                       dir.File("none/") + ": No such file or directory)"},
        {dir.Path(), dir.Path() + ": a folder, not a picture file"},
        {folderLink, folderLink + ": a folder, not a picture file"},
        {fifo, fifo + ": a FIFO, not a picture file"},
        {"/dev/null", "/dev/null: a character device, not a picture file"},
    };
    for (const auto& c : cases) {
        try {
            CPictureFile picture(c.target);
            ADD_FAILURE() << c.target << " was taken";
        } catch (const ResultException& e) {
            EXPECT_EQ(e.Detail(), c.error);
        }
    }
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>({"fifo.png", "folder.png"}));
    struct stat info;
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// gnuplot takes its time; what appears at the target meanwhile is checked
// again before the rename.
TEST(PictureFile, AFifoMadeWhileTheDrawingWasMadeIsNotReplaced) {
    TempDir dir;
    const std::string target = dir.File("pic.png");
    {
        CPictureFile picture(target);
        WriteTextFile(picture.DrawPath(), "new");
        ASSERT_EQ(mkfifo(target.c_str(), 0644), 0);
        try {
            picture.Commit();
            ADD_FAILURE() << "the FIFO was replaced";
        } catch (const ResultException& e) {
            EXPECT_EQ(e.Detail(), target + ": a FIFO, not a picture file");
        }
    }
    struct stat info;
    ASSERT_EQ(lstat(target.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>({"pic.png"}));
}

} // namespace
