// What real use leaves at the edges: a recording still being written, a disk that fills, two repairs
// at once, files that are no AVI, damage that readers walk into, a foreign file in the camera's
// shape. Each run through clipwright-cli as a user runs it, judged by real readers.
#include "ReaderOracles.h"
#include "Recordings.h"
#include "TestFiles.h"
#include "avi/LittleEndian.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

CommandResult Cli(const std::string& arguments) {
    return RunCommand(ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + arguments);
}

fs::path CameraRecording(const fs::path& path, uint32_t frames = 40) {
    CameraRecordingPlan plan;
    plan.sequence.videoFrameCount = frames;
    WriteCameraRecording(path, plan);
    return path;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A small file system of its own, for a disk that fills; skipped where nothing may be mounted.
class SmallDisk {
public:
    SmallDisk(const fs::path& at, const char* size) : path_(at) {
        fs::create_directories(at);
        mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount(path_.c_str());
    }
    bool Mounted() const { return mounted_; }
    // Takes all but `bytes` of the free space.
    void LeaveFree(uint64_t bytes) const {
        const uint64_t free = fs::space(path_).available;
        if (free > bytes)
            WriteBytes(path_ / "filler", Bytes(free - bytes, 0xAB));
    }
    void Unfill() const { fs::remove(path_ / "filler"); }

private:
    fs::path path_;
    bool mounted_ = false;
};

// A program that keeps a recording open and appends camera chunks to it, as a camera recording to
// a share does.
class AppendingWriter {
public:
    explicit AppendingWriter(const fs::path& recording) {
        const fs::path chunk = recording.parent_path() / "chunk.bin";
        Bytes bytes(8 + 256, 7);
        const char* id = "01wb";
        std::copy(id, id + 4, bytes.begin());
        le::WriteU32(bytes.data() + 4, 256);
        WriteBytes(chunk, bytes);
        const fs::path ready = recording.parent_path() / "writer-ready";
        const std::string script = "exec 3>>" + ShellQuote(recording.string()) + "; : > " +
                                   ShellQuote(ready.string()) + "; while :; do cat " +
                                   ShellQuote(chunk.string()) + " >&3; sleep 0.01; done";
        child_ = ::fork();
        if (child_ == 0) {
            ::setpgid(0, 0); // its cat and sleep go with it
            ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        while (!fs::exists(ready))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~AppendingWriter() { Stop(); }
    void Stop() {
        if (child_ <= 0)
            return;
        ::kill(-child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
        child_ = -1;
    }

private:
    pid_t child_ = -1;
};

fs::path ForeignFileInTheCamerasShape(const fs::path& dir);

TEST(RealUse, ARecordingStillBeingWrittenIsLeftToItsWriter) {
    for (const bool camera : {true, false})
        for (const char* mode : {"--replace ", ""}) {
            ScratchDir dir;
            const fs::path clip =
                camera ? CameraRecording(dir / "clip.avi") : ForeignFileInTheCamerasShape(dir.Path());
            const Bytes before = ReadBytes(clip);
            AppendingWriter writer(clip);
            const CommandResult check = Cli("--check " + ShellQuote(clip));
            const CommandResult repair = Cli(mode + ShellQuote(clip));
            writer.Stop();

            EXPECT_EQ(repair.exitStatus, 1) << mode << (camera ? "camera" : "another recorder");
            EXPECT_TRUE(Contains(repair.err, "open for writing")) << repair.err;
            EXPECT_TRUE(Contains(check.out, "verdict: refused")) << check.out;
            EXPECT_TRUE(Contains(check.out, "open for writing")) << check.out;
            // Everything the writer wrote is there, behind the recording as it was.
            const Bytes after = ReadBytes(clip);
            ASSERT_GE(after.size(), before.size());
            EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
            EXPECT_EQ((after.size() - before.size()) % 264, 0u);
            EXPECT_FALSE(fs::exists(dir / "fix_clip.avi"));
        }
}

TEST(RealUse, AFullDiskLeavesTheEarlierRepairAndNoPartialCopy) {
    ScratchDir dir;
    SmallDisk disk(dir / "disk", "2m");
    if (!disk.Mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here";
    const fs::path clip = CameraRecording(dir / "disk" / "clip.avi", 60);
    const Bytes recording = ReadBytes(clip);
    ASSERT_EQ(Cli(ShellQuote(clip)).exitStatus, 0);
    const Bytes earlierRepair = ReadBytes(dir / "disk" / "fix_clip.avi");

    // Room for half a copy: the copy fails, and the earlier repair stays as it was.
    disk.LeaveFree(recording.size() / 2);
    const CommandResult full = Cli(ShellQuote(clip));
    EXPECT_EQ(full.exitStatus, 1);
    EXPECT_TRUE(Contains(full.err, "No space left on device")) << full.err;
    EXPECT_EQ(ReadBytes(dir / "disk" / "fix_clip.avi"), earlierRepair);
    EXPECT_EQ(ReadBytes(clip), recording);
    disk.Unfill();
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"disk"}));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "disk"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
}

TEST(RealUse, AFullDiskInPlaceNeverLeavesAHeaderThatClaimsAnIndex) {
    ScratchDir dir;
    SmallDisk disk(dir / "disk", "8m");
    if (!disk.Mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here";
    // Long enough for an index of several pages, which the disk's last free page cannot hold.
    const fs::path clip = CameraRecording(dir / "disk" / "clip.avi", 600);
    const Bytes recording = ReadBytes(clip);
    disk.LeaveFree(0);
    const CommandResult full = Cli("--replace " + ShellQuote(clip));
    EXPECT_EQ(full.exitStatus, 1);
    const Bytes after = ReadBytes(clip);
    // The header block is as it was: nothing says "indexed" while no whole index stands behind.
    EXPECT_TRUE(std::equal(recording.begin(), recording.begin() + 2060, after.begin()));
    EXPECT_FALSE(Contains(Cli("--check " + ShellQuote(clip)).out, "verdict: healthy"));

    disk.Unfill();
    const CommandResult again = Cli("--replace " + ShellQuote(clip));
    EXPECT_EQ(again.exitStatus, 0) << again.err;
    EXPECT_TRUE(Contains(Cli("--check " + ShellQuote(clip)).out, "verdict: healthy"));
    EXPECT_EQ(DecodeErrors(clip), "");
}

TEST(RealUse, TwoNewFileRepairsAtOnceNeverSpoilEachOther) {
    ScratchDir dir;
    const fs::path clip = CameraRecording(dir / "clip.avi", 3000);
    ASSERT_EQ(Cli(ShellQuote(clip)).exitStatus, 0);
    const Bytes alone = ReadBytes(dir / "fix_clip.avi");
    fs::remove(dir / "fix_clip.avi");

    const std::string command = ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + ShellQuote(clip);
    const CommandResult both = RunCommand("{ (" + command + " & " + command + " & wait) 2>&1; ls -a " +
                                          ShellQuote(dir.Path().string()) + "; }");
    EXPECT_FALSE(Contains(both.out, "could not be copied")) << both.out;
    EXPECT_FALSE(Contains(both.out, "partial")) << both.out;
    EXPECT_TRUE(Contains(both.out, "clip.avi: standard layout, repaired")) << both.out;
    EXPECT_EQ(ReadBytes(dir / "fix_clip.avi"), alone);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
}

TEST(RealUse, AFileThatIsNoAviIsNamedForWhatItIsAndNothingIsAsked) {
    ScratchDir dir;
    ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=64x48 -frames:v 1 " +
                         ShellQuote((dir / "pic.jpg").string()) +
                         " && ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=5 -t 1 -c:v mpeg4 " +
                         ShellQuote((dir / "clip.mp4").string()))
                  .exitStatus,
              0);
    WriteBytes(dir / "notes.txt", Bytes{'c', 'a', 'm', ' ', '1', '\n'});
    WriteBytes(dir / "empty.avi", Bytes{});
    struct Case {
        const char* file;
        const char* says;
    };
    for (const Case& c : {Case{"pic.jpg", "not an AVI file: it is a JPEG picture"},
                          Case{"clip.mp4", "not an AVI file: it is an MP4 video"},
                          Case{"notes.txt", "not an AVI file: it is text"}, Case{"empty.avi", "is empty"}}) {
        const std::string file = ShellQuote(dir / c.file);
        for (const std::string& options : {std::string(), std::string("--resolution vga --fps 15 ")}) {
            const CommandResult result = Cli(options + file);
            EXPECT_EQ(result.exitStatus, 1) << c.file;
            EXPECT_TRUE(Contains(result.err, c.says)) << c.file << ": " << result.err;
            EXPECT_FALSE(Contains(result.err, "--resolution")) << result.err;
        }
        const CommandResult check = Cli("--check " + file);
        EXPECT_TRUE(Contains(check.out, "verdict: unreadable")) << check.out;
        EXPECT_TRUE(Contains(check.out, c.says)) << check.out;
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"clip.mp4", "empty.avi", "notes.txt", "pic.jpg"}));
}

TEST(RealUse, DamageLeftInTheDataIsSteppedOverByReadersThatReadFrontToBack) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    recgen::RecordingWriter writer(clip, recgen::HeaderOptions{});
    recgen::CameraSequenceOptions options;
    options.videoFrameCount = 60;
    recgen::CameraSequence sequence(PayloadsFor(640, 480), options);
    uint32_t kept = 0;
    for (int i = 0; auto chunk = sequence.Next(); ++i) {
        recgen::ChunkOptions damaged;
        // A plausible size that is wrong: the walk cannot follow it, and neither can a reader.
        if (i == 30)
            damaged.sizeField = static_cast<uint32_t>(chunk->payload.size() * 3 + 100);
        else if (chunk->id == FourCC("00dc"))
            ++kept;
        writer.AppendChunk(chunk->id, chunk->payload, damaged);
    }
    writer.Finish(recgen::FinishOptions::CutOff());

    const CommandResult result = Cli("--replace " + ShellQuote(clip));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(Contains(result.err, "damaged data")) << result.err;
    EXPECT_EQ(ProbePackets(clip)[0].count, kept);
    EXPECT_EQ(DecodeErrors(clip), "");
}

// A GStreamer MJPEG and PCM file written to a pipe (its header keeps the placeholders), its header block
// padded with JUNK so that its movi list starts at 2048, where the camera's does.
fs::path ForeignFileInTheCamerasShape(const fs::path& dir) {
    const fs::path raw = dir / "raw.avi";
    // avimux fails at the end when it cannot seek back to the header: its exit status says nothing.
    RunCommand("(gst-launch-1.0 -q -e videotestsrc num-buffers=45 ! "
               "video/x-raw,width=160,height=120,framerate=15/1 ! jpegenc ! avimux name=m ! fdsink fd=1 "
               "audiotestsrc num-buffers=24 ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! m. | cat > " +
               ShellQuote(raw.string()) + ")");
    Bytes bytes = ReadBytes(raw);
    const char* kMovi = "movi";
    const auto movi = std::search(bytes.begin(), bytes.end(), kMovi, kMovi + 4);
    if (movi == bytes.end() || movi - bytes.begin() < 8 || movi - bytes.begin() > 2040) {
        ADD_FAILURE() << "no movi list where avimux puts it";
        return raw;
    }
    const auto listAt = static_cast<size_t>(movi - bytes.begin()) - 8;
    Bytes junk(2048 - listAt, 0);
    std::copy_n("JUNK", 4, junk.begin());
    le::WriteU32(junk.data() + 4, static_cast<uint32_t>(junk.size() - 8));
    bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(listAt), junk.begin(), junk.end());
    bytes.resize(bytes.size() - 1000); // cut off inside a chunk
    const fs::path clip = dir / "clip.avi";
    WriteBytes(clip, bytes);
    return clip;
}

TEST(RealUse, AnotherRecordersFileWhoseMoviListStartsWhereTheCamerasDoesKeepsItsHeader) {
    ScratchDir dir;
    const fs::path clip = ForeignFileInTheCamerasShape(dir.Path());
    const CommandResult check = Cli("--check " + ShellQuote(clip));
    EXPECT_TRUE(Contains(check.out, "layout: another recorder")) << check.out;
    const CommandResult result = Cli("--replace " + ShellQuote(clip));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(Contains(result.out, "AVI from another recorder")) << result.out;

    const auto streams = Probe(clip);
    EXPECT_EQ(streams.at("audio").sampleRate, 8000u);
    const auto packets = ProbePackets(clip);
    ASSERT_FALSE(packets.at(0).keys.empty());
    EXPECT_TRUE(std::all_of(packets.at(0).keys.begin(), packets.at(0).keys.end(), [](bool key) {
        return key;
    })) << "every MJPEG frame is a key frame";
    EXPECT_GT(GStreamerSeconds(clip).value_or(0), 2.0);
    EXPECT_EQ(DecodeErrors(clip), "");
}

TEST(RealUse, AFinalisedFileNeedsNoRepairInEitherMode) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=15 -t 2 -c:v mjpeg " +
                         ShellQuote(clip.string()))
                  .exitStatus,
              0);
    const Bytes before = ReadBytes(clip);
    for (const char* mode : {"", "--replace "}) {
        const CommandResult result = Cli(mode + ShellQuote(clip));
        EXPECT_EQ(result.exitStatus, 0) << mode << result.err;
        EXPECT_TRUE(Contains(result.out, "no repair needed")) << result.out;
        EXPECT_TRUE(Contains(result.err, "needed no repair")) << result.err;
        EXPECT_EQ(ReadBytes(clip), before);
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"});
    }
}

} // namespace
} // namespace clipwright::test
