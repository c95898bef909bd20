// File errors as users meet them: through the real file handle, on real files and file systems.
#include "Recordings.h"
#include "TestFiles.h"
#include "platform/SourceFile.h"
#include "repair/RepairEngine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

TEST(FileErrorMessages, EachCauseHasItsFixedSentenceAndOthersNone) {
    EXPECT_STREQ(FileErrorMessage(filecause::kDiskFull), "ERROR: disk full !");
    EXPECT_STREQ(FileErrorMessage(filecause::kFileNotFound), "ERROR: The file could not be located.");
    EXPECT_STREQ(FileErrorMessage(filecause::kSharingViolation),
                 "ERROR: SHARE.EXE was not loaded, or a shared region was locked.");
    EXPECT_STREQ(FileErrorMessage(filecause::kEndOfFile), "ERROR: The end of file was reached.");
    for (int32_t cause = 1; cause <= 14; ++cause)
        EXPECT_EQ(std::string(FileErrorMessage(cause)).rfind("ERROR: ", 0), 0u) << cause;
    EXPECT_EQ(FileErrorMessage(0), nullptr);
    EXPECT_EQ(FileErrorMessage(15), nullptr);
    EXPECT_EQ(FileErrorMessage(-1), nullptr);
}

TEST(FileErrorMessages, SystemErrorsMapToCausesAndTheRestToUnspecified) {
    EXPECT_EQ(CauseFromErrno(ENOENT), filecause::kFileNotFound);
    EXPECT_EQ(CauseFromErrno(EACCES), filecause::kAccessDenied);
    EXPECT_EQ(CauseFromErrno(ENOSPC), filecause::kDiskFull);
    EXPECT_EQ(CauseFromErrno(EIO), filecause::kHardIO);
    EXPECT_EQ(CauseFromErrno(ENAMETOOLONG), filecause::kBadPath);
    EXPECT_EQ(CauseFromErrno(EPROTO), filecause::kGeneric);
}

TEST(SourceFileHandle, OpenReportsTheCauseThroughItsResult) {
    ScratchDir dir;
    SourceFile file;
    FileError error;
    EXPECT_FALSE(file.Open((dir / "missing.avi").string(), ShareMode::DenyNone, error));
    EXPECT_EQ(error.cause, filecause::kFileNotFound);
    EXPECT_FALSE(file.Open(dir.Path().string(), ShareMode::DenyNone, error));
    EXPECT_EQ(error.cause, filecause::kAccessDenied);
    EXPECT_FALSE(file.Open((dir / "no-folder" / "x.avi").string(), ShareMode::DenyNone, error));
    EXPECT_EQ(error.cause, filecause::kFileNotFound);
    WriteBytes(dir / "plain", Bytes{1});
    EXPECT_FALSE(file.Open((dir / "plain" / "x.avi").string(), ShareMode::DenyNone, error));
    EXPECT_EQ(error.cause, filecause::kBadPath);
    ASSERT_EQ(::mkfifo((dir / "pipe.avi").c_str(), 0644), 0);
    EXPECT_FALSE(file.Open((dir / "pipe.avi").string(), ShareMode::DenyNone, error)) << "and does not hang";
    EXPECT_FALSE(file.IsOpen());
}

TEST(SourceFileHandle, ReadsAtTheEndReturnLessAndClosingTwiceIsHarmless) {
    ScratchDir dir;
    WriteBytes(dir / "f", Bytes{1, 2, 3, 4, 5, 6});
    SourceFile file;
    FileError error;
    ASSERT_TRUE(file.Open((dir / "f").string(), ShareMode::DenyNone, error));
    uint8_t buffer[8] = {};
    file.Seek(4, SeekFrom::Begin);
    EXPECT_EQ(file.Read(buffer, 8), 2u);
    EXPECT_EQ(file.Read(buffer, 8), 0u);
    file.Seek(100, SeekFrom::End);
    EXPECT_EQ(file.Read(buffer, 8), 0u);
    try {
        file.Seek(-1, SeekFrom::Begin);
        ADD_FAILURE() << "a position before the start must raise";
    } catch (const FileError& seekError) {
        EXPECT_EQ(seekError.cause, filecause::kBadSeek);
    }
    file.Close();
    file.Close();
    try {
        file.Write(buffer, 1);
        ADD_FAILURE() << "writing a closed handle must raise";
    } catch (const FileError& writeError) {
        EXPECT_EQ(writeError.cause, filecause::kInvalidFile);
    }
}

TEST(FileErrorsInAJob, DirectoryAndReadOnlyRecordingAreNotAccessible) {
    ScratchDir dir;
    fs::create_directory(dir / "folder.avi");
    WriteCameraRecording(dir / "locked.avi", CameraRecordingPlan{});
    fs::permissions(dir / "locked.avi",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const Bytes lockedBefore = ReadBytes(dir / "locked.avi");

    for (const char* name : {"folder.avi", "locked.avi"}) {
        RecordingHost host;
        RepairEngine fixer;
        fixer.SetHost(&host);
        fixer.RunFixJob(FixRequest{(dir / name).string(), name, OutputMode::ReplaceOriginal});
        ASSERT_EQ(host.messages.size(), 1u) << name << ": told once, by the probe";
        EXPECT_EQ(host.messages[0].text, "ERROR: The file could not be accessed.");
    }
    EXPECT_EQ(ReadBytes(dir / "locked.avi"), lockedBefore);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"folder.avi", "locked.avi"}));
}

TEST(FileErrorsInAJob, PermissionDeniedForAnUnprivilegedUser) {
    ScratchDir dir("/tmp");
    fs::permissions(dir.Path(), fs::perms::all);
    const fs::path clip = dir / "private.avi";
    WriteCameraRecording(clip, CameraRecordingPlan{});
    fs::permissions(clip, fs::perms::owner_read | fs::perms::owner_write);
    const Bytes before = ReadBytes(clip);

    CommandResult result =
        RunCommand(AsUnprivileged(ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + ShellQuote(clip)));

    EXPECT_EQ(result.exitStatus, 1);
    const std::string line = "clipwright-cli: " + clip.string() + ": The file could not be accessed.\n";
    EXPECT_EQ(result.err, line) << "told once, by the probe";
    EXPECT_EQ(ReadBytes(clip), before);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"private.avi"});
}

// A real, small, full file system.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const fs::path& where, const char* size) : path_(where) {
        fs::create_directories(path_);
        mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted_)
            ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    // Takes every free byte, so that the next block the repair needs is refused.
    void Fill() {
        int fd = ::open((path_ / "ballast").c_str(), O_WRONLY | O_CREAT, 0644);
        std::vector<char> block(4096, 'b');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, block.data(), 1) > 0) {
        }
        ::close(fd);
    }
    void Free() { fs::remove(path_ / "ballast"); }

private:
    fs::path path_;
    bool mounted_ = false;
};

TEST(FileErrorsInAJob, DiskFullIsReportedAndARepeatedRunCompletesTheRepair) {
    ScratchDir dir;
    SmallFileSystem disk(dir / "disk", "1m");
    if (!disk.Mounted())
        GTEST_SKIP() << "mounting a small file system needs root";
    const fs::path clip = dir / "disk" / "clip.avi";
    CameraRecordingPlan plan;
    // Over 256 chunks: the index alone needs more than the page the data ends in.
    plan.sequence.videoFrameCount = 150;
    auto summary = WriteCameraRecording(clip, plan);
    const Bytes before = ReadBytes(clip);
    disk.Fill();

    RecordingHost host;
    RepairEngine fixer;
    fixer.SetHost(&host);
    fixer.RunFixJob(FixRequest{clip.string(), "clip.avi", OutputMode::ReplaceOriginal});
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "ERROR: disk full !");
    const Bytes halfway = ReadBytes(clip);
    EXPECT_TRUE(std::equal(before.begin() + 2060, before.end(), halfway.begin() + 2060)) << "footage intact";

    // New-file mode on the full disk: the copy fails and nothing is patched, whether it is made
    // after the look or beside it.
    FixRequest newFile{clip.string(), "clip.avi", OutputMode::NewFile};
    for (const uint64_t copyAheadFrom : {newFile.copyAheadFrom, uint64_t{0}}) {
        host.messages.clear();
        newFile.copyAheadFrom = copyAheadFrom;
        fixer.RunFixJob(newFile);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_NE(host.messages[0].text.find("could not be copied"), std::string::npos);
        EXPECT_FALSE(fs::exists(dir / "disk" / "fix_clip.avi"));
        EXPECT_FALSE(fs::exists(dir / "disk" / ".fix_clip.avi.partial"));
    }

    // Where there is room.
    host.messages.clear();
    newFile.outputFolder = dir.Path().string() + "/";
    fixer.RunFixJob(newFile);
    EXPECT_TRUE(host.messages.empty()) << host.messages[0].text;
    EXPECT_EQ(Probe(dir / "fix_clip.avi")["video"].packets, summary.videoCount);
    EXPECT_EQ(ReadBytes(clip), halfway);

    disk.Free();
    host.messages.clear();
    fixer.RunFixJob(FixRequest{clip.string(), "clip.avi", OutputMode::ReplaceOriginal});
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(Probe(clip)["video"].packets, summary.videoCount);
    EXPECT_EQ(DecodeErrors(clip), "");
}

TEST(CompanionFile, HeldOpenReadOnlyOrMissingIsNotCopiedAndNothingIsShown) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    WriteCameraRecording(clip, CameraRecordingPlan{});
    RecordingHost host;
    RepairEngine fixer;
    fixer.SetHost(&host);
    auto run = [&] { fixer.RunFixJob(FixRequest{clip.string(), "clip.avi", OutputMode::NewFile}); };

    run(); // no companion at all
    EXPECT_FALSE(fs::exists(dir / "fix_clip.sub"));

    WriteBytes(dir / "clip.sub", Bytes{'s'});
    {
        // Another program holds it open, only for reading.
        int release[2];
        int ready[2];
        ASSERT_EQ(::pipe(release), 0);
        ASSERT_EQ(::pipe(ready), 0);
        pid_t holder = ::fork();
        if (holder == 0) {
            int held = ::open((dir / "clip.sub").c_str(), O_RDONLY);
            char signal = held >= 0 ? 'y' : 'n';
            (void)!::write(ready[1], &signal, 1);
            (void)!::read(release[0], &signal, 1);
            ::_exit(0);
        }
        char signal = 0;
        ASSERT_EQ(::read(ready[0], &signal, 1), 1);
        ASSERT_EQ(signal, 'y');
        run();
        EXPECT_FALSE(fs::exists(dir / "fix_clip.sub")) << "held open by another program";
        (void)!::write(release[1], &signal, 1);
        ::waitpid(holder, nullptr, 0);
        for (int fd : {release[0], release[1], ready[0], ready[1]})
            ::close(fd);
    }
    int ownDescriptor = ::open((dir / "clip.sub").c_str(), O_RDONLY);
    run();
    EXPECT_FALSE(fs::exists(dir / "fix_clip.sub")) << "held open by a descriptor of its own";
    ::close(ownDescriptor);

    fs::permissions(dir / "clip.sub", fs::perms::owner_read);
    run();
    EXPECT_FALSE(fs::exists(dir / "fix_clip.sub")) << "read-only";

    fs::permissions(dir / "clip.sub", fs::perms::owner_read | fs::perms::owner_write);
    run();
    EXPECT_EQ(ReadBytes(dir / "fix_clip.sub"), Bytes{'s'});
    EXPECT_TRUE(host.messages.empty());
}

} // namespace
} // namespace clipwright::test
