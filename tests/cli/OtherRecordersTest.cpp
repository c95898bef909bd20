// AVIs from ffmpeg, GStreamer's avimux and MEncoder, cut off while written, repaired through the
// command-line tool in both modes. The truth is a plain walk of the damaged file; the judges are
// ffprobe, ffmpeg's decoder and GStreamer, which know nothing of the repair.
#include "ReaderOracles.h"
#include "RealWriters.h"
#include "TestFiles.h"
#include "TruthWalk.h"
#include "platform/FaultPoints.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fstream>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMainHasIndex = 0x10; // AVIF_HASINDEX
constexpr uint32_t kUnsetSize = 0xFFFFFFFF;
constexpr uint64_t kFlushBlock = 256 * 1024;

enum class Mode { NewFile, Replace };

void PrintTo(Mode mode, std::ostream* out) {
    *out << (mode == Mode::Replace ? "replace" : "new file");
}

// The recordings are made once for all test processes of a build and copied before each use.
const std::vector<RealRecording>& Recordings() {
    static const std::vector<RealRecording> recordings =
        RealRecordings(fs::path(CLIPWRIGHT_TEST_SCRATCH) / "real-recordings");
    return recordings;
}

const RealRecording* Find(const std::string& name) {
    const auto& all = Recordings();
    const auto found =
        std::find_if(all.begin(), all.end(), [&](const RealRecording& r) { return r.name == name; });
    return found == all.end() ? nullptr : &*found;
}

std::vector<std::string> PlannedNames(bool healthy) {
    std::vector<std::string> names;
    for (const RealRecording& recording : PlannedRecordings())
        if (recording.Healthy() == healthy)
            names.push_back(recording.name);
    return names;
}

CommandResult Cli(const std::string& arguments) {
    return RunCommand(ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + arguments);
}

double LongestSeconds(const Truth& truth) {
    double seconds = 0;
    for (const TruthStream& stream : truth.streams)
        seconds = std::max(seconds, stream.Seconds());
    return seconds;
}

// Every reader sees in `file` exactly the complete chunks the truth walk found.
void ExpectReadersSeeTheTruth(const fs::path& file, const Truth& truth) {
    const std::map<int, StreamPackets> packets = ProbePackets(file);
    int video = -1;
    int audio = -1;
    for (size_t i = 0; i < truth.streams.size(); ++i) {
        const TruthStream& expected = truth.streams[i];
        const int number = static_cast<int>(i);
        const StreamPackets read = packets.contains(number) ? packets.at(number) : StreamPackets{};
        EXPECT_EQ(read.count, expected.nonEmptyChunks) << "packets of stream " << i;
        EXPECT_EQ(read.bytes, expected.payloadBytes) << "bytes of stream " << i;
        (expected.type == fourcc::kVids ? video : audio) = number;
    }
    ASSERT_GE(video, 0);

    const std::vector<bool> indexKeys = IndexKeyFlags(file, video);
    EXPECT_EQ(indexKeys.size(), truth.streams[static_cast<size_t>(video)].nonEmptyChunks)
        << "idx1 video entries";
    EXPECT_EQ(DecodedKeyPictures(file), indexKeys) << "key pictures against the index's key flags";
    if (packets.contains(video)) {
        EXPECT_EQ(packets.at(video).keys, indexKeys) << "ffprobe's key packets against the index";
    }
    if (audio >= 0 && packets.contains(audio) && packets.contains(video)) {
        EXPECT_LE(std::abs(packets.at(audio).end - packets.at(video).end), 1.0)
            << "audio ends at " << packets.at(audio).end << " s, video at " << packets.at(video).end << " s";
    }

    const std::optional<double> gstreamer = GStreamerSeconds(file);
    ASSERT_TRUE(gstreamer.has_value()) << "GStreamer reports no duration";
    EXPECT_NEAR(*gstreamer, LongestSeconds(truth), 1.0) << "GStreamer's duration";

    const std::string decodeErrors = DecodeErrors(file);
    EXPECT_TRUE(decodeErrors.empty()) << decodeErrors.substr(0, 800);
}

// A RIFF file built by hand, for what the writers above never do: 'rec ' lists, AVIX parts, pad
// bytes left out, ids of streams the header does not have.
class HandBuiltAvi {
public:
    HandBuiltAvi() {
        Id("RIFF");
        U32(kUnsetSize);
        Id("AVI ");
        Id("LIST");
        U32(4 + 64 + 2 * 84);
        Id("hdrl");
        Chunk("avih", 56);
        StreamList("vids");
        StreamList("auds");
        List("movi");
    }

    HandBuiltAvi& Chunk(const char (&id)[5], uint32_t size, bool padded = true) {
        Id(id);
        U32(size);
        bytes_.resize(bytes_.size() + size + (padded ? size % 2 : 0), 0x5A);
        return *this;
    }
    HandBuiltAvi& List(const char (&type)[5], const char (&id)[5] = "LIST") {
        Id(id);
        U32(kUnsetSize);
        Id(type);
        return *this;
    }
    HandBuiltAvi& CutBy(size_t count) {
        bytes_.resize(bytes_.size() - count);
        return *this;
    }
    Truth Walk(const ScratchDir& dir) const {
        WriteBytes(dir / "hand.avi", bytes_);
        return TruthWalk(dir / "hand.avi");
    }

private:
    void Id(const char (&id)[5]) { PutFourCC(bytes_, bytes_.size(), id); }
    void StreamList(const char (&type)[5]) {
        Id("LIST");
        U32(76);
        Id("strl");
        Id("strh");
        U32(56);
        Id(type);
        bytes_.resize(bytes_.size() + 52);
        Chunk("strf", 0);
    }
    void U32(uint32_t value) { PutU32(bytes_, bytes_.size(), value); }

    Bytes bytes_;
};

TEST(TruthWalk, CountsOnlyCompleteChunksOfKnownStreamsWhereverTheyStand) {
    struct Case {
        const char* name;
        HandBuiltAvi avi;
        WalkEnd end;
        std::vector<uint64_t> chunks;   // per stream
        std::vector<uint64_t> nonEmpty; // per stream
        std::vector<uint64_t> bytes;    // per stream
        uint64_t trailing;              // bytes after the last complete chunk
    };
    const Case cases[] = {
        {"rec list entered; JUNK, ix00 and idx1 stepped over",
         HandBuiltAvi()
             .List("rec ")
             .Chunk("00dc", 10)
             .Chunk("01wb", 4)
             .Chunk("JUNK", 6)
             .Chunk("ix00", 24)
             .Chunk("00dc", 3)
             .Chunk("idx1", 32),
         WalkEnd::EndOfFile,
         {2, 1},
         {2, 1},
         {13, 4},
         8 + 32},
        {"AVIX part crossed, empty chunk counted apart",
         HandBuiltAvi().Chunk("00dc", 4).List("AVIX", "RIFF").List("movi").Chunk("00db", 6).Chunk("01wb", 0),
         WalkEnd::EndOfFile,
         {2, 1},
         {2, 0},
         {10, 0},
         0},
        {"pad byte left out",
         HandBuiltAvi().Chunk("00dc", 5, false).Chunk("01wb", 2),
         WalkEnd::EndOfFile,
         {1, 1},
         {1, 1},
         {5, 2},
         0},
        {"last chunk cut",
         HandBuiltAvi().Chunk("00dc", 8).Chunk("01wb", 100).CutBy(80),
         WalkEnd::CutChunk,
         {1, 0},
         {1, 0},
         {8, 0},
         8 + 20},
        {"stream the header lacks",
         HandBuiltAvi().Chunk("00dc", 4).Chunk("05dc", 4),
         WalkEnd::UnknownChunk,
         {1, 0},
         {1, 0},
         {4, 0},
         8 + 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const Truth truth = c.avi.Walk(dir);
        EXPECT_EQ(truth.end, c.end);
        ASSERT_EQ(truth.streams.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(truth.streams[i].chunks, c.chunks[i]) << "stream " << i;
            EXPECT_EQ(truth.streams[i].nonEmptyChunks, c.nonEmpty[i]) << "stream " << i;
            EXPECT_EQ(truth.streams[i].payloadBytes, c.bytes[i]) << "stream " << i;
        }
        EXPECT_EQ(truth.completeEnd + c.trailing, fs::file_size(dir / "hand.avi"));
    }
}

// The readers are right about a file its writer finished, and the truth walk agrees with its idx1:
// the judges are sound before they judge a repair.
TEST(RealWriterRecordings, ReadersAndTheTruthWalkAgreeOnFinalisedFiles) {
    for (const std::string& name : PlannedNames(true)) {
        SCOPED_TRACE(name);
        const RealRecording* recording = Find(name);
        ASSERT_NE(recording, nullptr) << "not made";
        const Truth truth = TruthWalk(recording->path);
        EXPECT_EQ(truth.end, WalkEnd::EndOfFile);
        for (size_t i = 0; i < truth.streams.size(); ++i) {
            const auto indexed = IndexKeyFlags(recording->path, static_cast<int>(i));
            EXPECT_EQ(indexed.size(), truth.streams[i].nonEmptyChunks) << "idx1 entries of stream " << i;
        }
        ExpectReadersSeeTheTruth(recording->path, truth);
    }
}

// The cut-off files hold what these writers leave behind when they stop early.
TEST(RealWriterRecordings, CutOffFilesLookAsTheirWritersLeaveThem) {
    for (const std::string& name : PlannedNames(false)) {
        SCOPED_TRACE(name);
        const RealRecording* recording = Find(name);
        if (recording == nullptr) {
            // Only a real-time writer can miss its moment, on a machine too busy to write in time.
            EXPECT_NE(name.find("killed"), std::string::npos) << "not made";
            continue;
        }
        const Truth truth = TruthWalk(recording->path);
        const uint64_t size = fs::file_size(recording->path);
        EXPECT_NE(truth.end, WalkEnd::UnknownChunk) << "at " << truth.endOffset;
        EXPECT_GT(truth.VideoChunks(), 10u);
        EXPECT_NE(uint64_t{truth.riffSizeField} + 8, size) << "a header that tells the truth";
        if (recording->condition == Condition::PipeWritten) {
            EXPECT_EQ(truth.end, WalkEnd::EndOfFile);
        } else if (recording->writer != Writer::MEncoder) { // a killed MEncoder may stop between chunks
            EXPECT_EQ(truth.end, WalkEnd::CutChunk);
        }
        switch (recording->writer) {
        case Writer::Ffmpeg:
            EXPECT_EQ(truth.riffSizeField, kUnsetSize);
            EXPECT_EQ(truth.moviSizeField, kUnsetSize);
            if (recording->condition == Condition::Killed) {
                EXPECT_EQ(size % kFlushBlock, 0u);
                EXPECT_NE(truth.mainFlags & kMainHasIndex, 0u);
            }
            break;
        case Writer::GStreamer:
            EXPECT_EQ(truth.riffSizeField, 1430u);
            EXPECT_EQ(truth.moviSizeField, 4u);
            EXPECT_EQ(truth.mainFlags, 0u);
            break;
        case Writer::MEncoder:
            EXPECT_EQ(truth.moviSizeField, 0xFFFFEFF8u);
            EXPECT_EQ(truth.mainFlags & kMainHasIndex, 0u);
            break;
        }
    }
}

std::string TestName(const std::string& name) {
    std::string text = name;
    std::replace(text.begin(), text.end(), '-', '_');
    return text;
}

class CutOffRecording : public ::testing::TestWithParam<std::tuple<std::string, Mode>> {};

TEST_P(CutOffRecording, EveryCompleteChunkComesBackAndNoFootageMoves) {
    const auto& [name, mode] = GetParam();
    const RealRecording* recording = Find(name);
    if (recording == nullptr)
        GTEST_SKIP() << name << " was not made: its writer did not write in time";
    ScratchDir dir;
    const fs::path input = dir / (name + ".avi");
    fs::copy_file(recording->path, input);
    const Truth truth = TruthWalk(input);
    const Bytes before = ReadBytes(input);

    const CommandResult result = Cli((mode == Mode::Replace ? "--replace " : "") + ShellQuote(input));

    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    static const std::regex summary("AVI from another recorder: [0-9]+ streams?\\b");
    EXPECT_TRUE(std::regex_search(result.out, summary)) << result.out;
    const fs::path output = mode == Mode::Replace ? input : dir / ("fix_" + name + ".avi");
    ASSERT_TRUE(fs::exists(output)) << result.out << result.err;
    if (mode == Mode::NewFile) {
        EXPECT_TRUE(ReadBytes(input) == before) << "the recording was changed";
    } else {
        const Bytes after = ReadBytes(input);
        ASSERT_GE(after.size(), truth.completeEnd);
        const auto footage = [&](const Bytes& bytes) {
            return Bytes(bytes.begin() + static_cast<ptrdiff_t>(truth.moviBody),
                         bytes.begin() + static_cast<ptrdiff_t>(truth.completeEnd));
        };
        EXPECT_TRUE(footage(after) == footage(before)) << "footage bytes moved or changed";
    }
    ExpectReadersSeeTheTruth(output, truth);
}

INSTANTIATE_TEST_SUITE_P(OtherRecorders, CutOffRecording,
                         ::testing::Combine(::testing::ValuesIn(PlannedNames(false)),
                                            ::testing::Values(Mode::NewFile, Mode::Replace)),
                         [](const auto& test) {
                             return TestName(std::get<0>(test.param)) +
                                    (std::get<1>(test.param) == Mode::Replace ? "_replace" : "_new_file");
                         });

class FinalisedRecording : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        const RealRecording* recording = Find(GetParam());
        ASSERT_NE(recording, nullptr);
        input_ = dir_ / (GetParam() + ".avi");
        fs::copy_file(recording->path, input_);
        before_ = ReadBytes(input_);
    }

    ScratchDir dir_;
    fs::path input_;
    Bytes before_;
};

TEST_P(FinalisedRecording, ReplaceLeavesItAsItWasAndSaysSo) {
    const CommandResult result = Cli("--replace " + ShellQuote(input_));

    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_TRUE(ReadBytes(input_) == before_) << "a healthy recording was changed";
    EXPECT_NE((result.out + result.err).find("no repair"), std::string::npos) << result.out << result.err;
}

// The same answer in both modes: a copy of a finalised file would only be the same file again.
TEST_P(FinalisedRecording, NewFileModeNeedsNoRepairEither) {
    const CommandResult result = Cli(ShellQuote(input_));

    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_TRUE(ReadBytes(input_) == before_) << "the recording was changed";
    EXPECT_FALSE(fs::exists(dir_ / ("fix_" + GetParam() + ".avi"))) << result.out << result.err;
    EXPECT_NE(result.out.find("no repair needed"), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("needed no repair"), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(OtherRecorders, FinalisedRecording, ::testing::ValuesIn(PlannedNames(true)),
                         [](const auto& test) { return TestName(test.param); });

// Files past 1 GiB, made once per test process on tmpfs and removed when it ends.
fs::path OpenDml(OpenDmlCondition condition) {
    static const ScratchDir folder(TmpfsOrScratch());
    return WriteOpenDmlRecording(condition, folder.Path());
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// Sets every super index's count of entries in use to none.
void ForgetListedParts(const fs::path& file) {
    std::fstream stream(file, std::ios::binary | std::ios::in | std::ios::out);
    for (uint64_t from = 0;;) {
        uint64_t at = 0;
        try {
            at = ChunkBehind(file, from, fourcc::kIndx).first;
        } catch (const std::runtime_error&) {
            return;
        }
        const char none[4] = {};
        stream.seekp(static_cast<std::streamoff>(at + 12)).write(none, sizeof none);
        stream.flush();
        from = at + 1;
    }
}

TEST(OtherRecordersPastOneGiB, PlayersReadEveryPartThroughItsIndexesAndASecondRepairHasNothingToDo) {
    struct Case {
        const char* name;
        OpenDmlCondition condition;
        uint64_t shorterBy; // a kill that came earlier leaves the same bytes, fewer
        bool repaired;
    };
    const Case cases[] = {
        {"closed by ffmpeg", OpenDmlCondition::Finalised, 0, false},
        {"killed closing the first part, 8 bytes into an idx1 entry", OpenDmlCondition::KilledInFirstIdx1, 0,
         true},
        {"killed closing the first part, 3 bytes into an idx1 entry", OpenDmlCondition::KilledInFirstIdx1, 5,
         true},
        {"killed in the last part, which holds no chunk of the third stream",
         OpenDmlCondition::KilledInLastPart, 0, true},
        {"killed closing the last part, between two streams' entries",
         OpenDmlCondition::KilledClosingLastPart, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir(TmpfsOrScratch());
        const fs::path clip = dir / "clip.avi";
        CopySparse(OpenDml(c.condition), clip);
        fs::resize_file(clip, fs::file_size(clip) - c.shorterBy);
        const Truth truth = TruthWalk(clip);

        const CommandResult first = Cli("--replace " + ShellQuote(clip));
        EXPECT_EQ(first.exitStatus, 0) << first.out << first.err;
        EXPECT_EQ(first.out.find("no repair needed") == std::string::npos, c.repaired) << first.out;

        ExpectEveryPartIndexed(clip, truth);
        const std::map<int, StreamPackets> packets = ProbePackets(clip);
        for (size_t stream = 0; stream < truth.streams.size(); ++stream) {
            const auto read = packets.find(static_cast<int>(stream));
            EXPECT_EQ(read == packets.end() ? 0 : read->second.count, truth.streams[stream].nonEmptyChunks)
                << "ffprobe's packets of stream " << stream;
        }
        const std::optional<double> gstreamer = GStreamerSeconds(clip);
        ASSERT_TRUE(gstreamer.has_value()) << "GStreamer reports no duration";
        EXPECT_NEAR(*gstreamer, LongestSeconds(truth), 1.0) << "GStreamer's duration";
        EXPECT_EQ(Lines(GStreamerWarnings(clip)), "");

        const CommandResult second = Cli("--replace " + ShellQuote(clip));
        EXPECT_EQ(second.exitStatus, 0) << second.out << second.err;
        EXPECT_NE(second.out.find("no repair needed"), std::string::npos) << second.out;
    }
}

// Killed before any one of its writes, as a power cut or a crash would end it, a repair leaves a
// file the next one completes: to the bytes a repair never killed writes.
void ExpectARepairKilledAtAnyWriteCompletedByTheNext(const fs::path& recording) {
    ScratchDir dir(TmpfsOrScratch());
    const Truth truth = TruthWalk(recording);
    const fs::path clean = dir / "clean.avi";
    CopySparse(recording, clean);
    std::vector<std::pair<uint64_t, uint64_t>> written;
    faults::Plan counting;
    counting.onlyOneKind = true;
    counting.only = faults::Operation::Write;
    counting.observe = [&](faults::Operation, const faults::Access& access) {
        written.emplace_back(access.offset, access.length);
    };
    faults::Arm(counting);
    EngineJob job;
    job.Run(clean, true);
    faults::Disarm();
    ASSERT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired) << job.Messages();
    ASSERT_GE(written.size(), 3u) << "not even an ix## for each stream";

    for (uint64_t at = 1; at <= written.size(); ++at) {
        SCOPED_TRACE("killed before write " + std::to_string(at));
        const fs::path clip = dir / "clip.avi";
        CopySparse(recording, clip);
        const pid_t child = ::fork();
        if (child == 0) {
            faults::Plan kill = counting;
            kill.observe = nullptr;
            kill.action = faults::Plan::Action::Kill;
            kill.at = at;
            faults::Arm(kill);
            EngineJob killed;
            killed.Run(clip, true);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "not killed";

        const CommandResult next = Cli("--replace " + ShellQuote(clip));
        EXPECT_EQ(next.exitStatus, 0) << next.out << next.err;
        ExpectEveryPartIndexed(clip, truth);
        // Bytes no write of the clean repair touched are the recording's in both.
        ASSERT_EQ(fs::file_size(clip), fs::file_size(clean));
        std::ifstream repaired(clip, std::ios::binary);
        std::ifstream expected(clean, std::ios::binary);
        for (const auto& [offset, length] : written) {
            std::string got(length, '\0');
            std::string want(length, '\0');
            repaired.seekg(static_cast<std::streamoff>(offset))
                .read(got.data(), static_cast<std::streamsize>(length));
            expected.seekg(static_cast<std::streamoff>(offset))
                .read(want.data(), static_cast<std::streamsize>(length));
            EXPECT_TRUE(got == want) << "bytes written at " << offset;
        }
    }
}

TEST(OtherRecordersPastOneGiB, ARepairKilledAtAnyWriteIsCompletedByTheNext) {
    ExpectARepairKilledAtAnyWriteCompletedByTheNext(OpenDml(OpenDmlCondition::KilledInLastPart));
}

// Five parts, none listed: the repair writes every part's standard indexes, and a kill between any
// two of its writes leaves a file the next repair completes.
TEST(LargeRecordings, ARepairOfEveryPartKilledAtAnyWriteIsCompletedByTheNext) {
    ScratchDir dir(TmpfsOrScratch());
    const fs::path unlisted = dir / "unlisted.avi";
    CopySparse(OpenDml(OpenDmlCondition::KilledPastFourGiB), unlisted);
    ForgetListedParts(unlisted);
    ExpectARepairKilledAtAnyWriteCompletedByTheNext(unlisted);
}

// ffprobe reads every complete chunk of the truth from the repaired `clip` (as many video packets;
// with `countAllPackets`, as many of every stream, else only their bytes: it cuts long PCM chunks
// into packets of its own), GStreamer's duration is the truth's, and a second repair has nothing
// to do.
void ExpectPlayersReadEveryChunkAndNothingIsLeftToDo(const fs::path& clip, const Truth& truth,
                                                     bool countAllPackets) {
    const std::map<int, StreamPackets> packets = ProbePackets(clip);
    for (size_t stream = 0; stream < truth.streams.size(); ++stream) {
        const auto read = packets.find(static_cast<int>(stream));
        if (countAllPackets || truth.streams[stream].type == fourcc::kVids) {
            EXPECT_EQ(read == packets.end() ? 0 : read->second.count, truth.streams[stream].nonEmptyChunks)
                << "ffprobe's packets of stream " << stream;
        }
        EXPECT_EQ(read == packets.end() ? 0 : read->second.bytes, truth.streams[stream].payloadBytes)
            << "ffprobe's bytes of stream " << stream;
    }
    const std::optional<double> gstreamer = GStreamerSeconds(clip);
    ASSERT_TRUE(gstreamer.has_value()) << "GStreamer reports no duration";
    EXPECT_NEAR(*gstreamer, LongestSeconds(truth), 1.0) << "GStreamer's duration";

    const CommandResult second = Cli("--replace " + ShellQuote(clip));
    EXPECT_NE(second.out.find("no repair needed"), std::string::npos) << second.out << second.err;
}

// Both modes on a copy of `clip` cut off: the recording stays as it was, the two modes write the
// same file, every part of it is indexed, the players read every complete chunk, and a second repair
// has nothing to do. The readers, which read gigabytes each, read the one file.
void ExpectBothModesIndexEveryPart(const fs::path& clip, uint32_t parts) {
    const fs::path dir = clip.parent_path();
    const fs::path copy = dir / ("fix_" + clip.filename().string());
    Truth truth = TruthWalk(clip);
    truth.parts = parts;

    const fs::path before = dir / "before.avi";
    CopySparse(clip, before);
    const CommandResult newFile = Cli(ShellQuote(clip));
    EXPECT_EQ(newFile.exitStatus, 0) << newFile.out << newFile.err;
    ASSERT_TRUE(fs::exists(copy)) << newFile.out << newFile.err;
    EXPECT_EQ(RunCommand("cmp " + ShellQuote(before) + " " + ShellQuote(clip)).exitStatus, 0)
        << "the recording was changed";
    fs::remove(before);
    const CommandResult replace = Cli("--replace " + ShellQuote(clip));
    EXPECT_EQ(replace.exitStatus, 0) << replace.out << replace.err;
    EXPECT_EQ(RunCommand("cmp " + ShellQuote(clip) + " " + ShellQuote(copy)).exitStatus, 0)
        << "the modes wrote different files";
    fs::remove(copy);

    ExpectEveryPartIndexed(clip, truth);
    ExpectPlayersReadEveryChunkAndNothingIsLeftToDo(clip, truth, true);
}

// A recording of 4.7 GiB in five RIFF parts, cut at points past 2 and 4 GiB, in a part's index,
// between two parts and inside a part's headers: in both modes every part is indexed, the players
// read every complete chunk, and a second repair has nothing to do.
TEST(LargeRecordings, EveryPartIsIndexedWhereverTheRecordingWasCut) {
    ScratchDir dir(TmpfsOrScratch());
    const fs::path recording = OpenDml(OpenDmlCondition::KilledPastFourGiB);
    std::vector<uint64_t> parts; // where each 'AVIX' part begins
    for (uint64_t from = 12; parts.size() < 4; from = parts.back() + 1)
        parts.push_back(ChunkBehind(recording, from, fourcc::kRiff).first);
    const uint64_t fourthPartsIndex = ChunkBehind(recording, parts[2], FourCC("ix01")).first;
    struct Case {
        const char* name;
        uint64_t size;
        uint32_t parts;        // the repaired file holds
        bool unlisted = false; // as a writer leaves it that lists the parts only when it finishes
    };
    const Case cases[] = {
        {"killed past 4 GiB inside a frame", fs::file_size(recording), 5},
        {"killed past 4 GiB, no part listed", fs::file_size(recording), 5, true},
        {"6 bytes into the fifth part's RIFF header", parts[3] + 6, 4},
        {"inside the fifth part's movi list header", parts[3] + 17, 4},
        {"between the fourth and the fifth part", parts[3], 4},
        {"inside the fourth part's standard index", fourthPartsIndex + 28, 4},
        {"inside a frame at 2.3 GiB", (uint64_t{23} << 30) / 10, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path clip = dir / "clip.avi";
        CopySparse(recording, clip);
        fs::resize_file(clip, c.size);
        if (c.unlisted)
            ForgetListedParts(clip);
        ExpectBothModesIndexEveryPart(clip, c.parts);
    }
}

// Turns every super index into filler, as writers leave files that reserve none.
void ForgetSuperIndexes(const fs::path& file) {
    std::fstream stream(file, std::ios::binary | std::ios::in | std::ios::out);
    const uint64_t movi = TruthWalk(file).moviBody;
    for (uint64_t from = 0;;) {
        uint64_t at = 0;
        try {
            at = ChunkBehind(file, from, fourcc::kIndx).first;
        } catch (const std::runtime_error&) {
            return;
        }
        if (at > movi)
            return;
        stream.seekp(static_cast<std::streamoff>(at)).write("JUNK", 4);
        stream.flush();
        from = at + 1;
    }
}

// The media chunks of `recording` one after another in a single RIFF form, as writers that never
// begin a second part leave a file past 2 GiB, cut off where it reaches `size`.
void WriteSingleForm(const fs::path& recording, const fs::path& file, uint64_t size) {
    const Truth truth = TruthWalk(recording);
    std::ifstream in(recording, std::ios::binary);
    std::ofstream out(file, std::ios::binary);
    Bytes bytes(truth.moviBody);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    uint64_t written = bytes.size();
    for (const TruthChunk& chunk : truth.chunks) {
        const uint64_t length = std::min<uint64_t>(8 + chunk.size + (chunk.size & 1), size - written);
        bytes.resize(length);
        in.seekg(static_cast<std::streamoff>(chunk.offset));
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(length));
        written += length;
        if (written == size)
            break;
    }
    out.close();
    ForgetSuperIndexes(file);
}

// Each complete chunk of `recording`, in order, with its stream, size and payload, is in `copy`.
void ExpectSameChunks(const fs::path& recording, const fs::path& copy) {
    const Truth was = TruthWalk(recording);
    const Truth is = TruthWalk(copy);
    ASSERT_EQ(is.chunks.size(), was.chunks.size());
    std::ifstream a(recording, std::ios::binary);
    std::ifstream b(copy, std::ios::binary);
    Bytes left;
    Bytes right;
    for (size_t i = 0; i < was.chunks.size(); ++i) {
        const TruthChunk& x = was.chunks[i];
        const TruthChunk& y = is.chunks[i];
        ASSERT_EQ(std::make_pair(x.stream, x.size), std::make_pair(y.stream, y.size)) << "chunk " << i;
        left.resize(x.size);
        right.resize(y.size);
        a.seekg(static_cast<std::streamoff>(x.offset + 8)).read(reinterpret_cast<char*>(left.data()), x.size);
        b.seekg(static_cast<std::streamoff>(y.offset + 8))
            .read(reinterpret_cast<char*>(right.data()), y.size);
        ASSERT_TRUE(left == right) << "the payload of chunk " << i << " differs";
    }
}

// Both modes on `clip`, which cannot be indexed where it stands: each writes the same OpenDML file
// anew, the new file leaving the recording as it was; every chunk is in it with its payload, every
// part is indexed, the players read every complete chunk, and a second repair has nothing to do.
void ExpectBothModesCopyEveryChunk(const fs::path& clip) {
    const fs::path dir = clip.parent_path();
    const fs::path copy = dir / ("fix_" + clip.filename().string());
    const Truth truth = TruthWalk(clip);
    const fs::path before = dir / "before.avi";
    CopySparse(clip, before);
    const CommandResult newFile = Cli(ShellQuote(clip));
    EXPECT_EQ(newFile.exitStatus, 0) << newFile.out << newFile.err;
    EXPECT_NE(newFile.out.find("written anew as OpenDML (new file) -> " + copy.string()), std::string::npos)
        << newFile.out;
    EXPECT_EQ(RunCommand("cmp " + ShellQuote(before) + " " + ShellQuote(clip)).exitStatus, 0)
        << "the recording was changed";
    const CommandResult replace = Cli("--replace " + ShellQuote(clip));
    EXPECT_EQ(replace.exitStatus, 0) << replace.out << replace.err;
    EXPECT_FALSE(fs::exists(dir / ("tmp_" + clip.filename().string())));
    EXPECT_EQ(RunCommand("cmp " + ShellQuote(clip) + " " + ShellQuote(copy)).exitStatus, 0)
        << "the modes wrote different files";
    fs::remove(copy);

    ExpectSameChunks(before, clip);
    fs::remove(before);
    const Truth written = TruthWalk(clip);
    EXPECT_GE(written.parts, 3u);
    ExpectEveryPartIndexed(clip, written);
    ExpectPlayersReadEveryChunkAndNothingIsLeftToDo(clip, truth, false);
}

// A recording past 2 GiB that cannot be indexed where it stands: in three RIFF parts with no super
// index to list them, or in a single RIFF form, cut off inside a frame past 2 GiB; and MEncoder's,
// which lists its parts only when it finishes, killed past 2 GiB.
TEST(LargeRecordings, AFileThatCannotBeIndexedWhereItStandsIsCopiedWithEveryChunk) {
    ScratchDir dir(TmpfsOrScratch());
    const fs::path recording = OpenDml(OpenDmlCondition::KilledPastFourGiB);
    const uint64_t cut = (uint64_t{23} << 30) / 10;
    const fs::path clip = dir / "clip.avi";
    {
        SCOPED_TRACE("three parts, no super index");
        CopySparse(recording, clip);
        fs::resize_file(clip, cut);
        ForgetSuperIndexes(clip);
        ExpectBothModesCopyEveryChunk(clip);
        fs::remove(clip);
    }
    {
        SCOPED_TRACE("a single RIFF form");
        WriteSingleForm(recording, clip, cut);
        ExpectBothModesCopyEveryChunk(clip);
        fs::remove(clip);
    }
    {
        SCOPED_TRACE("MEncoder's, killed past 2 GiB");
        const fs::path tone = dir / "tone.wav";
        ASSERT_EQ(
            RunCommand("ffmpeg -nostdin -v error -f lavfi -i sine=sample_rate=8000 -t 200 -c:a pcm_s16le " +
                       ShellQuote(tone))
                .exitStatus,
            0);
        // Stopped by SIGXFSZ where the file reaches the limit, as a kill leaves it (the shell's
        // ulimit counts blocks of 512 bytes).
        RunCommand("ulimit -f " + std::to_string(cut / 512) +
                   "; mencoder -really-quiet -demuxer rawvideo -rawvideo w=1920:h=1080:fps=25:format=i420 "
                   "/dev/zero -audiofile " +
                   ShellQuote(tone) + " -ovc copy -oac copy -frames 2000 -o " + ShellQuote(clip));
        ASSERT_EQ(fs::file_size(clip), cut / 512 * 512);
        ExpectBothModesCopyEveryChunk(clip);
    }
}

// GStreamer's AVI writer goes on in 'AVIX' parts too: cut off in its third part, past 2 GiB.
TEST(LargeRecordings, GStreamersFileCutPastTwoGiBIsIndexedInEveryPart) {
    ScratchDir dir(TmpfsOrScratch());
    const fs::path clip = dir / "clip.avi";
    const CommandResult written = RunCommand(
        "gst-launch-1.0 -q videotestsrc num-buffers=720 pattern=black ! "
        "video/x-raw,format=I420,width=1920,height=1080,framerate=25/1 ! avimux ! filesink location=" +
        ShellQuote(clip));
    ASSERT_EQ(written.exitStatus, 0) << written.err;
    std::vector<uint64_t> parts;
    for (uint64_t from = 12; parts.size() < 2; from = parts.back() + 1)
        parts.push_back(ChunkBehind(clip, from, fourcc::kRiff).first);
    fs::resize_file(clip, parts[1] + (50u << 20));
    ExpectBothModesIndexEveryPart(clip, 3);
}

} // namespace
} // namespace clipwright::test
