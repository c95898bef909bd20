// Names of the outputs, and the file operations that must never lose a recording.
#include "repair/OutputNaming.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

TEST(OutputNames, AreFormedInTheRecordingsFolderWithLowercasePrefixes) {
    OutputNames names = MakeOutputNames("/rec/clip.2005.avi", "clip.2005.avi");
    EXPECT_EQ(names.directoryPrefix, "/rec/");
    EXPECT_EQ(names.fixName, "/rec/fix_clip.2005.avi");
    EXPECT_EQ(names.temporaryName, "/rec/tmp_clip.2005.avi");
    EXPECT_EQ(names.companionPath, "/rec/clip.2005.sub");
    EXPECT_EQ(names.companionCopy, "/rec/fix_clip.2005.sub");

    OutputNames upper = MakeOutputNames("/rec/CAM01.AVI", "CAM01.AVI");
    EXPECT_EQ(upper.fixName, "/rec/fix_CAM01.AVI");
    EXPECT_EQ(upper.companionPath, "/rec/CAM01.sub");

    EXPECT_EQ(CompanionName(".avi"), ".sub");
    EXPECT_EQ(CompanionName("a"), ".sub");
    EXPECT_EQ(MakeOutputNames("clip.avi", "clip.avi").fixName, "fix_clip.avi") << "a path without a folder";
}

TEST(MoveFileNoReplace, NeverReplacesAnExistingFile) {
    ScratchDir dir;
    WriteBytes(dir / "clip.avi", Bytes{1});
    WriteBytes(dir / "tmp_clip.avi", Bytes{2});
    EXPECT_EQ(MoveFileNoReplace((dir / "clip.avi").string(), (dir / "tmp_clip.avi").string()), EEXIST);
    EXPECT_EQ(ReadBytes(dir / "clip.avi"), Bytes{1});
    EXPECT_EQ(ReadBytes(dir / "tmp_clip.avi"), Bytes{2});

    fs::remove(dir / "tmp_clip.avi");
    EXPECT_EQ(MoveFileNoReplace((dir / "clip.avi").string(), (dir / "tmp_clip.avi").string()), 0);
    EXPECT_EQ(ReadBytes(dir / "tmp_clip.avi"), Bytes{1});
    EXPECT_FALSE(fs::exists(dir / "clip.avi"));
}

TEST(CopyFileReplacing, ReplacesLinksInsteadOfWritingThroughThem) {
    ScratchDir dir;
    WriteBytes(dir / "source", Bytes{1, 2, 3});
    WriteBytes(dir / "elsewhere", Bytes{9});
    fs::create_symlink(dir / "elsewhere", dir / "soft");
    fs::create_hard_link(dir / "source", dir / "hard");

    EXPECT_EQ(CopyFileReplacing((dir / "source").string(), (dir / "soft").string()), 0);
    EXPECT_EQ(CopyFileReplacing((dir / "source").string(), (dir / "hard").string()), 0);

    EXPECT_EQ(ReadBytes(dir / "elsewhere"), Bytes{9});
    EXPECT_FALSE(fs::is_symlink(dir / "soft"));
    EXPECT_EQ(ReadBytes(dir / "soft"), (Bytes{1, 2, 3}));
    EXPECT_EQ(fs::hard_link_count(dir / "source"), 1u);
    EXPECT_EQ(ReadBytes(dir / "source"), (Bytes{1, 2, 3}));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"elsewhere", "hard", "soft", "source"}));
}

TEST(CopyFileReplacing, ReportsAFailureAndLeavesNoPartialFile) {
    ScratchDir dir;
    EXPECT_EQ(CopyFileReplacing((dir / "missing").string(), (dir / "copy").string()), ENOENT);
    WriteBytes(dir / "source", Bytes{1});
    fs::create_directory(dir / "copy");
    WriteBytes(dir / "copy" / "inside", Bytes{1});
    EXPECT_NE(CopyFileReplacing((dir / "source").string(), (dir / "copy").string()), 0);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"copy", "source"}));
}

} // namespace
} // namespace clipwright::test
