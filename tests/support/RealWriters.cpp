#include "RealWriters.h"

#include "TestFiles.h"
#include "TruthWalk.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace clipwright::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A killed ffmpeg leaves its file at a multiple of its write buffer.
constexpr uintmax_t kFlushBlock = 256 * 1024;
// Bumped when the way the set is made changes in a way its recipes below do not show.
constexpr const char* kSetVersion = "1";

struct FfmpegRecipe {
    const char* name;
    const char* videoCodec;
    const char* audioCodec; // empty: video only
    const char* encoders;
};

// No B-frames and a key frame every 12: decode order is picture order, so the key flags of the
// index and of the decoded pictures can be compared frame by frame.
const FfmpegRecipe kFfmpegRecipes[] = {
    {"mpeg4-adpcm", "mpeg4", "adpcm_ms", "-c:v mpeg4 -bf 0 -g 12 -q:v 5 -c:a adpcm_ms"},
    {"xvid-mulaw", "mpeg4", "pcm_mulaw", "-c:v mpeg4 -vtag XVID -bf 0 -g 12 -q:v 5 -c:a pcm_mulaw"},
    {"mjpeg-pcm", "mjpeg", "pcm_s16le", "-c:v mjpeg -q:v 5 -c:a pcm_s16le"},
    {"h264-mp3", "h264", "mp3", "-c:v libx264 -preset veryfast -g 12 -bf 0 -crf 23 -c:a libmp3lame -b:a 64k"},
    {"mpeg4", "mpeg4", "", "-c:v mpeg4 -bf 0 -g 12 -q:v 5"},
};

// A test picture with noise, so frames are as large as real footage's, and a tone.
constexpr const char* kPicture = "-f lavfi -i testsrc=size=320x240:rate=15%s";
constexpr const char* kTone = "-f lavfi -i sine=frequency=440:sample_rate=22050%s";
constexpr const char* kNoise = "-vf noise=alls=12:allf=t";
constexpr const char* kFourSeconds = ":duration=4";

constexpr const char* kGStreamerPipeline =
    "videotestsrc num-buffers=60 ! video/x-raw,width=320,height=240,framerate=15/1 ! jpegenc ! "
    "avimux name=mux ! %s "
    "audiotestsrc num-buffers=86 samplesperbuffer=1024 ! audio/x-raw,rate=22050,channels=1 ! audioconvert ! "
    "audio/x-raw,format=S16LE ! mux.";

constexpr const char* kMEncoderOptions =
    "-really-quiet -ovc lavc -lavcopts vcodec=mpeg4:vqscale=4 -oac mp3lame";

const char* kGStreamerName = "gstreamer-mjpeg-pcm";
const char* kMEncoderName = "mencoder-mpeg4-mp3";
const char* kRealTimeName = "ffmpeg-mpeg4-adpcm-killed-realtime";

std::string Formatted(const char* pattern, const std::string& value) {
    const size_t at = std::string(pattern).find("%s");
    std::string text = pattern;
    return text.replace(at, 2, value);
}

std::string FfmpegCommand(const FfmpegRecipe& recipe, const std::string& output, const char* duration,
                          const std::string& before = "") {
    // Without a duration the sources run for ever, at the pace of a camera.
    const std::string pace = duration[0] == '\0' ? "-re " : "";
    std::string line =
        before + "ffmpeg -nostdin -v error -y -fflags +bitexact " + pace + Formatted(kPicture, duration);
    if (recipe.audioCodec[0] != '\0')
        line += " " + pace + Formatted(kTone, duration);
    return line + " " + kNoise + " -flags +bitexact " + recipe.encoders + " " + output;
}

void Run(const std::string& commandLine) {
    const CommandResult result = RunCommand(commandLine);
    if (result.exitStatus != 0)
        throw std::runtime_error("failed (" + std::to_string(result.exitStatus) + "): " + commandLine + "\n" +
                                 result.err);
}

RealRecording Made(const fs::path& folder, const std::string& name) {
    for (RealRecording recording : PlannedRecordings())
        if (recording.name == name) {
            recording.path = folder / (name + ".avi");
            if (!fs::exists(recording.path) || fs::file_size(recording.path) == 0)
                throw std::runtime_error("the writer left nothing in " + recording.path.string());
            return recording;
        }
    throw std::logic_error("no recording is planned under the name " + name);
}

// A copy of the first `length` bytes of `whole`, as a writer that stopped there leaves it.
RealRecording CutCopy(const RealRecording& whole, const std::string& name, uint64_t length) {
    Bytes bytes = ReadBytes(whole.path);
    if (length >= bytes.size())
        throw std::logic_error(name + ": a cut at " + std::to_string(length) + " is past the file's end");
    bytes.resize(length);
    WriteBytes(whole.path.parent_path() / (name + ".avi"), bytes);
    return Made(whole.path.parent_path(), name);
}

// Cuts inside a chunk two thirds of the way in: at an odd offset of its payload, and inside its
// header's size field.
std::vector<RealRecording> CutsOf(const RealRecording& whole, bool insideHeaderToo) {
    const Truth truth = TruthWalk(whole.path);
    size_t index = truth.chunks.size() * 2 / 3;
    while (index < truth.chunks.size() && truth.chunks[index].size < 16)
        ++index;
    if (index == truth.chunks.size())
        throw std::logic_error(whole.name + " has no chunk to cut inside");
    const TruthChunk& chunk = truth.chunks[index];
    std::vector<RealRecording> cuts{
        CutCopy(whole, whole.name + "-cut-in-chunk", chunk.offset + 8 + (chunk.size / 2 | 1))};
    if (insideHeaderToo)
        cuts.push_back(CutCopy(whole, whole.name + "-cut-in-header", chunk.offset + 5));
    return cuts;
}

// Starts a shell command line in a process group of its own, so one kill reaches a whole pipeline.
pid_t StartGroup(const std::string& commandLine) {
    const char* line = commandLine.c_str();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execl("/bin/sh", "sh", "-c", line, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (child < 0)
        throw std::runtime_error("cannot start: " + commandLine);
    ::setpgid(child, child);
    return child;
}

// Runs the writer until `file` holds `size` bytes, then kills it as a power cut or a crash would.
// False when it did not get there in time, or ended first.
bool KillOnceGrown(const std::string& commandLine, const fs::path& file, uintmax_t size) {
    const pid_t group = StartGroup(commandLine);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    bool grown = false;
    bool ended = false;
    while (!grown && !ended && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        std::error_code error;
        const uintmax_t written = fs::file_size(file, error);
        grown = !error && written >= size;
        ended = ::waitpid(group, nullptr, WNOHANG) == group;
    }
    ::kill(-group, SIGKILL);
    if (!ended)
        ::waitpid(group, nullptr, 0);
    return grown && !ended;
}

std::string RecipeText() {
    std::string text = std::string(kSetVersion) + "\n" + kPicture + "\n" + kTone + "\n" + kNoise + "\n" +
                       kFourSeconds + "\n" + kGStreamerPipeline + "\n" + kMEncoderOptions + "\n";
    for (const FfmpegRecipe& recipe : kFfmpegRecipes)
        text += std::string(recipe.name) + ": " + recipe.encoders + "\n";
    return text;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

// Held while a test process makes or reads the set, so parallel test processes make it once.
class FolderLock {
public:
    explicit FolderLock(const fs::path& file)
        : fd_(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0)
            throw std::runtime_error("cannot lock " + file.string());
    }
    ~FolderLock() { ::close(fd_); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

} // namespace

std::vector<RealRecording> PlannedRecordings() {
    std::vector<RealRecording> planned;
    auto plan = [&](std::string name, Writer writer, const char* video, const char* audio,
                    Condition condition) {
        planned.push_back({std::move(name), {}, writer, video, audio, condition});
    };
    for (const FfmpegRecipe& r : kFfmpegRecipes) {
        const std::string name = std::string("ffmpeg-") + r.name;
        plan(name + "-finalised", Writer::Ffmpeg, r.videoCodec, r.audioCodec, Condition::Finalised);
        plan(name + "-killed", Writer::Ffmpeg, r.videoCodec, r.audioCodec, Condition::Killed);
        plan(name + "-pipe", Writer::Ffmpeg, r.videoCodec, r.audioCodec, Condition::PipeWritten);
        plan(name + "-pipe-cut-in-chunk", Writer::Ffmpeg, r.videoCodec, r.audioCodec, Condition::Cut);
        plan(name + "-pipe-cut-in-header", Writer::Ffmpeg, r.videoCodec, r.audioCodec, Condition::Cut);
    }
    plan(kRealTimeName, Writer::Ffmpeg, "mpeg4", "adpcm_ms", Condition::Killed);
    const std::string gst = kGStreamerName;
    plan(gst + "-finalised", Writer::GStreamer, "mjpeg", "pcm_s16le", Condition::Finalised);
    plan(gst + "-pipe", Writer::GStreamer, "mjpeg", "pcm_s16le", Condition::PipeWritten);
    plan(gst + "-pipe-cut-in-chunk", Writer::GStreamer, "mjpeg", "pcm_s16le", Condition::Cut);
    const std::string mencoder = kMEncoderName;
    plan(mencoder + "-finalised", Writer::MEncoder, "mpeg4", "mp3", Condition::Finalised);
    plan(mencoder + "-killed", Writer::MEncoder, "mpeg4", "mp3", Condition::Killed);
    return planned;
}

std::vector<RealRecording> WriteFfmpegRecordings(const fs::path& folder) {
    std::vector<RealRecording> made;
    for (const FfmpegRecipe& recipe : kFfmpegRecipes) {
        const std::string name = std::string("ffmpeg-") + recipe.name;
        const fs::path finalised = folder / (name + "-finalised.avi");
        Run(FfmpegCommand(recipe, ShellQuote(finalised), kFourSeconds));
        made.push_back(Made(folder, name + "-finalised"));

        // The same run, stopped by SIGXFSZ where the file reaches the last whole block: a file
        // killed while written, made the same way every time.
        const uintmax_t limit = (fs::file_size(finalised) - 1) / kFlushBlock * kFlushBlock;
        if (limit == 0)
            throw std::logic_error(name + " is too small to be killed after a flush");
        const fs::path killed = folder / (name + "-killed.avi");
        RunCommand(FfmpegCommand(recipe, ShellQuote(killed), kFourSeconds,
                                 "prlimit --fsize=" + std::to_string(limit) + " "));
        if (fs::file_size(killed) != limit)
            throw std::runtime_error(name + ": the size limit did not stop ffmpeg at " +
                                     std::to_string(limit));
        made.push_back(Made(folder, name + "-killed"));

        const fs::path pipe = folder / (name + "-pipe.avi");
        Run("(" + FfmpegCommand(recipe, "-f avi pipe:1", kFourSeconds) + " | cat >" + ShellQuote(pipe) + ")");
        made.push_back(Made(folder, name + "-pipe"));
        for (RealRecording& cut : CutsOf(made.back(), true))
            made.push_back(std::move(cut));
    }
    return made;
}

std::vector<RealRecording> WriteKilledFfmpegRecording(const fs::path& folder) {
    const fs::path file = folder / (std::string(kRealTimeName) + ".avi");
    fs::remove(file);
    const std::string commandLine = "exec " + FfmpegCommand(kFfmpegRecipes[0], ShellQuote(file), "");
    if (!KillOnceGrown(commandLine, file, kFlushBlock))
        return {};
    return {Made(folder, kRealTimeName)};
}

std::vector<RealRecording> WriteGStreamerRecordings(const fs::path& folder) {
    const std::string name = kGStreamerName;
    const fs::path finalised = folder / (name + "-finalised.avi");
    Run("gst-launch-1.0 -q -e " +
        Formatted(kGStreamerPipeline, "filesink location=" + ShellQuote(finalised.string())));
    // avimux fails at the end when it cannot seek back to the header: the pipe file keeps the
    // header it began with, so the exit status says nothing here.
    const fs::path pipe = folder / (name + "-pipe.avi");
    RunCommand("(gst-launch-1.0 -q -e " + Formatted(kGStreamerPipeline, "fdsink fd=1") + " | cat >" +
               ShellQuote(pipe) + ")");
    std::vector<RealRecording> made{Made(folder, name + "-finalised"), Made(folder, name + "-pipe")};
    made.push_back(CutsOf(made.back(), false).front());
    return made;
}

std::vector<RealRecording> WriteMEncoderRecordings(const fs::path& folder) {
    const fs::path source = folder / "mencoder-source.avi";
    Run(FfmpegCommand(kFfmpegRecipes[2], ShellQuote(source), kFourSeconds));
    const std::string name = kMEncoderName;
    Run("mencoder " + ShellQuote(source) + " " + kMEncoderOptions + " -o " +
        ShellQuote(folder / (name + "-finalised.avi")));
    std::vector<RealRecording> made{Made(folder, name + "-finalised")};

    // Fed at the pace of a live source, so it can be caught while it writes.
    const fs::path killed = folder / (name + "-killed.avi");
    fs::remove(killed);
    const std::string commandLine = "ffmpeg -nostdin -v error -re -i " + ShellQuote(source) +
                                    " -c copy -f avi pipe:1 | mencoder - " + kMEncoderOptions + " -o " +
                                    ShellQuote(killed);
    if (KillOnceGrown(commandLine, killed, 160 * 1024))
        made.push_back(Made(folder, name + "-killed"));
    fs::remove(source);
    return made;
}

namespace {

// Frames of 32 MiB make the 1 GiB at which ffmpeg begins an AVIX part in 32 seconds.
constexpr const char* kOpenDmlRecipe =
    "ffmpeg -nostdin -v error -y -fflags +bitexact -f rawvideo -pix_fmt gray -s 8192x4096 -r 1 -i /dev/zero "
    "-f lavfi -i sine=frequency=440:sample_rate=8000 "
    "-f lavfi -i sine=frequency=660:sample_rate=8000:duration=5 "
    "-map 0:v -map 1:a -map 2:a -c:v copy -c:a pcm_u8 -flags +bitexact ";
constexpr uint64_t kIntoSecondPart = (uint64_t{1} << 30) + (uint64_t{100} << 20);
// Odd, so that it falls inside a frame's payload whatever the headers before it take.
constexpr uint64_t kPastFourGiB = (uint64_t{9} << 29) + 12345;

} // namespace

std::pair<uint64_t, uint32_t> ChunkBehind(const fs::path& file, uint64_t from, FourCC id) {
    std::ifstream in(file, std::ios::binary);
    for (uint64_t position = 12; in.seekg(static_cast<std::streamoff>(position));) {
        Bytes header(8);
        if (!in.read(reinterpret_cast<char*>(header.data()), 8))
            break;
        const FourCC found = FourCC::FromBytes(header.data());
        const uint32_t size = U32At(header, 4);
        if (found == id && position >= from)
            return {position, size};
        position += found == fourcc::kList || found == fourcc::kRiff ? 12 : 8 + size + (size & 1);
    }
    throw std::runtime_error(file.string() + " has no " + id.Quoted() + " behind " + std::to_string(from));
}

fs::path WriteOpenDmlRecording(OpenDmlCondition condition, const fs::path& folder) {
    const char* names[] = {"opendml-finalised", "opendml-killed-in-last-part", "opendml-killed-in-first-idx1",
                           "opendml-killed-closing-last-part", "opendml-killed-past-4-gib"};
    const fs::path file = folder / (std::string(names[static_cast<int>(condition)]) + ".avi");
    if (fs::exists(file))
        return file;
    // Stopped by SIGXFSZ where the file reaches the limit, as a kill leaves it, the same every time.
    std::optional<uint64_t> limit;
    if (condition == OpenDmlCondition::KilledInLastPart)
        limit = kIntoSecondPart;
    if (condition == OpenDmlCondition::KilledPastFourGiB)
        limit = kPastFourGiB;
    if (condition == OpenDmlCondition::KilledInFirstIdx1) {
        // Halfway, 8 bytes into an entry: the entry before reads as a chunk header (an id, then
        // its flags for a size) of a chunk that ends where the file does.
        const auto [position, size] =
            ChunkBehind(WriteOpenDmlRecording(OpenDmlCondition::Finalised, folder), 0, fourcc::kIdx1);
        limit = position + 8 + size / 2 / 16 * 16 + 8;
    }
    if (condition == OpenDmlCondition::KilledClosingLastPart) {
        const fs::path finalised = WriteOpenDmlRecording(OpenDmlCondition::Finalised, folder);
        const uint64_t idx1 = ChunkBehind(finalised, 0, fourcc::kIdx1).first;
        limit = ChunkBehind(finalised, idx1, FourCC("ix01")).first + 8 + 16;
    }
    const std::string commandLine =
        (limit ? "prlimit --fsize=" + std::to_string(*limit) + " " : std::string()) + kOpenDmlRecipe +
        (condition == OpenDmlCondition::KilledPastFourGiB ? "-t 150 " : "-t 40 ") + ShellQuote(file);
    const CommandResult result = RunCommand(commandLine);
    if (limit ? !fs::exists(file) || fs::file_size(file) != *limit : result.exitStatus != 0)
        throw std::runtime_error("ffmpeg did not stop where planned: " + commandLine + "\n" + result.err);
    Run("fallocate --dig-holes " + ShellQuote(file));
    return file;
}

fs::path TmpfsOrScratch() {
    const fs::path tmpfs = "/dev/shm";
    return fs::is_directory(tmpfs) && ::access(tmpfs.c_str(), W_OK) == 0 ? tmpfs
                                                                         : fs::path(CLIPWRIGHT_TEST_SCRATCH);
}

void CopySparse(const fs::path& from, const fs::path& to) {
    Run("cp --sparse=always " + ShellQuote(from) + " " + ShellQuote(to));
}

std::vector<FfmpegVideoCodec> FfmpegVideoCodecs() {
    return {
        {"mpeg1video", "-c:v mpeg1video -g 12 -bf 2"},
        {"mpeg2video", "-c:v mpeg2video -g 12 -bf 2"},
        {"h263", "-c:v h263 -g 12"},
        {"h263p", "-c:v h263p -g 12"},
        {"msmpeg4v2", "-c:v msmpeg4v2 -g 12"},
        {"msmpeg4v3", "-c:v msmpeg4 -g 12"},
        {"wmv1", "-c:v wmv1 -g 12"},
        {"wmv2", "-c:v wmv2 -g 12"},
        {"ffv1", "-c:v ffv1 -g 12"},
        // ffmpeg names no FourCC for HEVC in AVI; recorders that store it write this one.
        {"hevc", "-c:v libx265 -preset ultrafast -x265-params "
                 "log-level=error:keyint=12:min-keyint=12:scenecut=0:bframes=2 -vtag HEVC"},
        {"vp8", "-c:v libvpx -g 12 -keyint_min 12 -deadline realtime -b:v 300k"},
        {"vp9", "-c:v libvpx-vp9 -g 12 -keyint_min 12 -deadline realtime -cpu-used 8 -b:v 300k"},
        {"mjpeg", "-c:v mjpeg -q:v 5"},
        {"huffyuv", "-c:v huffyuv"},
    };
}

void WriteFfmpegVideo(const FfmpegVideoCodec& codec, const fs::path& file) {
    Run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=25:duration=3 " + codec.options +
        " " + ShellQuote(file.string()));
}

std::vector<RealRecording> RealRecordings(const fs::path& folder) {
    fs::create_directories(folder);
    const FolderLock lock(folder / ".lock");
    const fs::path recipesFile = folder / "recipes";
    const fs::path madeFile = folder / "made";
    const std::string recipes = RecipeText();
    if (ReadText(recipesFile) == recipes) {
        try {
            std::vector<RealRecording> made;
            std::istringstream names(ReadText(madeFile));
            for (std::string name; std::getline(names, name);)
                made.push_back(Made(folder, name));
            return made;
        } catch (const std::runtime_error&) {
            // A recording was removed by hand: the set is made again.
        }
    }

    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename() != ".lock")
            fs::remove_all(entry.path());
    std::vector<RealRecording> made;
    for (auto* write : {WriteFfmpegRecordings, WriteKilledFfmpegRecording, WriteGStreamerRecordings,
                        WriteMEncoderRecordings})
        for (RealRecording& recording : write(folder))
            made.push_back(std::move(recording));
    std::string names;
    for (const RealRecording& recording : made)
        names += recording.name + "\n";
    WriteText(madeFile, names);
    WriteText(recipesFile, recipes); // last: only a whole set is ever found again
    return made;
}

} // namespace clipwright::test
