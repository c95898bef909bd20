// The rebuild into a new file: every written file read back sample by sample with our own reader
// and checked by real players, and every way the copy can stop shown to keep the recording.
#include "AviReader.h"
#include "Recordings.h"
#include "TestFiles.h"
#include "repair/RepairEngine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

struct SourceChunk {
    FourCC id;
    Bytes payload;
    std::optional<uint32_t> sizeField;
};

struct ExpectedSample {
    Bytes data; // empty for a repeated frame
    bool key = false;
};

struct ExpectedStreams {
    std::vector<ExpectedSample> video;
    std::vector<Bytes> audio;
};

// What a rebuilt file must hold, from the copy rules: '00db' frames with their data and the key
// flag; '00dc' frames with their data and no flag, unless one has the size of the '00dc' frame
// before it and the same first 100 bytes as the last one written with data, which becomes an empty
// frame with the key flag; '01wb' blocks as they are; empty chunks skipped. Odd frames are
// stored one zero byte longer.
ExpectedStreams ExpectedFrom(const std::vector<SourceChunk>& source) {
    ExpectedStreams expected;
    uint32_t previousSize = 0;
    Bytes savedPrefix;
    for (const SourceChunk& chunk : source) {
        const Bytes& payload = chunk.payload;
        if (payload.empty())
            continue;
        Bytes even = payload;
        if (even.size() % 2 != 0)
            even.push_back(0);
        if (chunk.id == FourCC("01wb")) {
            expected.audio.push_back(payload);
        } else if (chunk.id == FourCC("00db")) {
            expected.video.push_back({even, true});
        } else if (chunk.id == FourCC("00dc")) {
            Bytes prefix(payload.begin(),
                         payload.begin() + static_cast<ptrdiff_t>(std::min<size_t>(100, payload.size())));
            if (previousSize == payload.size() && prefix == savedPrefix) {
                expected.video.push_back({{}, true});
            } else {
                expected.video.push_back({even, false});
                savedPrefix = prefix;
            }
            previousSize = static_cast<uint32_t>(payload.size());
        }
    }
    return expected;
}

const avitest::StreamDescription* StreamOfType(const avitest::AviReader& reader, const char (&type)[5],
                                               int& number) {
    for (size_t i = 0; i < reader.Streams().size(); ++i) {
        if (reader.Streams()[i].header.type == FourCC::FromBytes(reinterpret_cast<const uint8_t*>(type))) {
            number = static_cast<int>(i);
            return &reader.Streams()[i];
        }
    }
    return nullptr;
}

// Reads the file back with our own reader and compares every sample and flag.
void ExpectRebuiltFile(const fs::path& file, const ExpectedStreams& expected, uint32_t width, uint32_t height,
                       uint32_t framesPerSecond) {
    avitest::AviReader reader(file.string());
    ASSERT_TRUE(reader.Valid()) << reader.ErrorText();
    ASSERT_TRUE(reader.HasIndex());

    std::map<uint64_t, uint32_t> flagsAt; // idx1 flags by chunk offset
    for (const avitest::IndexEntry& entry : reader.Index())
        flagsAt[reader.MoviListOffset() + 8 + entry.offset] = entry.flags;

    int videoNumber = -1;
    int audioNumber = -1;
    const auto* video = StreamOfType(reader, "vids", videoNumber);
    const auto* audio = StreamOfType(reader, "auds", audioNumber);
    if (!expected.video.empty()) {
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->header.handler, FourCC("DIVX"));
        EXPECT_EQ(video->header.scale, 1000u);
        EXPECT_EQ(video->header.rate, framesPerSecond * 1000);
        ASSERT_TRUE(video->video.has_value());
        EXPECT_EQ(video->video->compression, FourCC("DX50"));
        EXPECT_EQ(static_cast<uint32_t>(video->video->width), width);
        EXPECT_EQ(static_cast<uint32_t>(video->video->height), height);
        auto chunks = reader.StreamChunks(videoNumber);
        // The stream's first sample is the empty one before position 1.
        ASSERT_EQ(chunks.size(), expected.video.size() + 1);
        EXPECT_EQ(chunks[0].size, 0u);
        EXPECT_EQ(video->header.length, chunks.size());
        for (size_t i = 0; i < expected.video.size(); ++i) {
            const avitest::Chunk& chunk = chunks[i + 1];
            EXPECT_EQ(reader.ReadPayload(chunk), expected.video[i].data) << "video frame " << i;
            EXPECT_EQ(flagsAt[chunk.offset], expected.video[i].key ? 0x10u : 0u) << "video frame " << i;
        }
    } else {
        EXPECT_EQ(video, nullptr);
    }
    if (!expected.audio.empty()) {
        ASSERT_NE(audio, nullptr);
        ASSERT_TRUE(audio->audio.has_value());
        EXPECT_EQ(audio->audio->formatTag, 2);
        EXPECT_EQ(audio->audio->samplesPerSec, 8000u);
        EXPECT_EQ(audio->audio->channels, 1);
        auto chunks = reader.StreamChunks(audioNumber);
        ASSERT_EQ(chunks.size(), expected.audio.size());
        size_t bytes = 0;
        for (size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(reader.ReadPayload(chunks[i]), expected.audio[i]) << "audio block " << i;
            bytes += expected.audio[i].size();
        }
        EXPECT_EQ(audio->header.length, bytes / 256);
    } else {
        EXPECT_EQ(audio, nullptr);
    }
}

void ExpectPlayersAccept(const fs::path& file, const ExpectedStreams& expected, uint32_t width,
                         uint32_t height, uint32_t framesPerSecond) {
    auto streams = Probe(file);
    size_t framesWithData = 0;
    for (const ExpectedSample& sample : expected.video)
        framesWithData += sample.data.empty() ? 0u : 1u;
    EXPECT_EQ(streams["video"].codecTag, "DX50");
    EXPECT_EQ(streams["video"].codecName, "mpeg4");
    EXPECT_EQ(streams["video"].width, width);
    EXPECT_EQ(streams["video"].height, height);
    EXPECT_EQ(streams["video"].frameRate, std::to_string(framesPerSecond) + "/1");
    EXPECT_EQ(streams["video"].packets, framesWithData);
    EXPECT_EQ(streams["audio"].codecName, "adpcm_ms");
    EXPECT_EQ(streams["audio"].sampleRate, 8000u);
    EXPECT_EQ(streams["audio"].channels, 1u);
    EXPECT_EQ(streams["audio"].packets, expected.audio.size());
    EXPECT_EQ(DecodeErrors(file), "");
}

// The camera's own chunk sequence, kept as source chunks for the expectations.
std::vector<SourceChunk> CameraChunks(uint32_t width, uint32_t height, uint64_t frames, uint64_t repeatEvery,
                                      uint32_t rate = 15000) {
    recgen::CameraSequenceOptions options;
    options.videoFrameCount = frames;
    options.repeatEvery = repeatEvery;
    options.frameRate = rate;
    recgen::CameraSequence sequence(PayloadsFor(width, height), options);
    std::vector<SourceChunk> chunks;
    while (auto chunk = sequence.Next())
        chunks.push_back({chunk->id, Bytes(chunk->payload.begin(), chunk->payload.end()), std::nullopt});
    return chunks;
}

recgen::RecordingSummary WriteRecording(const fs::path& path, const recgen::HeaderOptions& header,
                                        const std::vector<SourceChunk>& chunks, uint64_t cutBytes = 0) {
    recgen::RecordingWriter writer(path, header);
    for (const SourceChunk& chunk : chunks) {
        recgen::ChunkOptions options;
        options.sizeField = chunk.sizeField;
        writer.AppendChunk(chunk.id, chunk.payload, options);
    }
    recgen::FinishOptions finish;
    finish.cutBytes = cutBytes;
    return writer.Finish(finish);
}

recgen::HeaderOptions Header(recgen::HeaderLayout layout, uint32_t width = 640, uint32_t height = 480,
                             uint32_t rate = 15000, uint32_t scale = 1000) {
    recgen::HeaderOptions header;
    header.layout = layout;
    header.width = width;
    header.height = height;
    header.videoRate = rate;
    header.videoScale = scale;
    return header;
}

using Job = EngineJob;

TEST(RebuildFile, ShiftedRecordingInNewFileModeCopiesEverySampleAndThePlayersAgree) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    auto chunks = CameraChunks(640, 480, 60, 5);
    WriteRecording(clip, Header(recgen::HeaderLayout::Shifted), chunks);
    WriteBytes(dir / "clip.sub", Bytes{'c'});
    const Bytes before = ReadBytes(clip);

    Job job;
    job.Run(clip, false);

    EXPECT_EQ(job.Messages(), "");
    EXPECT_EQ(job.host.prompts, 0);
    EXPECT_EQ(ReadBytes(clip), before);
    EXPECT_EQ(ReadBytes(dir / "fix_clip.sub"), Bytes{'c'});
    EXPECT_EQ(dir.Names(),
              (std::vector<std::string>{"clip.avi", "clip.sub", "fix_clip.avi", "fix_clip.sub"}));
    const ExpectedStreams expected = ExpectedFrom(chunks);
    ASSERT_GT(
        std::count_if(expected.video.begin(), expected.video.end(), [](auto& s) { return s.data.empty(); }),
        5);
    ExpectRebuiltFile(dir / "fix_clip.avi", expected, 640, 480, 15);
    ExpectPlayersAccept(dir / "fix_clip.avi", expected, 640, 480, 15);
    EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired);
    EXPECT_EQ(job.fixer.LastOutcome().videoChunks, expected.video.size());
    EXPECT_EQ(job.fixer.LastOutcome().audioChunks, expected.audio.size());
}

TEST(RebuildFile, ReplaceModePutsTheNewFileUnderTheRecordingsNameAndLeavesNoTemporaryName) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    auto chunks = CameraChunks(320, 240, 40, 0, 10000);
    WriteRecording(clip, Header(recgen::HeaderLayout::Shifted, 320, 240, 10000), chunks);
    WriteBytes(dir / "clip.sub", Bytes{'c'});

    Job job;
    job.Run(clip, true);

    EXPECT_EQ(job.Messages(), "");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"clip.avi", "clip.sub"}))
        << "no companion copy, no tmp_";
    ExpectRebuiltFile(clip, ExpectedFrom(chunks), 320, 240, 10);
    ExpectPlayersAccept(clip, ExpectedFrom(chunks), 320, 240, 10);
}

TEST(RebuildFile, LostHeaderAsksForTheSettingsAndWritesANewFileEvenInReplaceMode) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    auto chunks = CameraChunks(160, 112, 30, 4);
    recgen::HeaderOptions header = Header(recgen::HeaderLayout::HeaderLost);
    header.lostHeaderDataStart = 777;
    WriteRecording(clip, header, chunks);
    WriteBytes(dir / "clip.sub", Bytes{'c'});
    const Bytes before = ReadBytes(clip);

    Job job;
    job.host.answer = {{kResolutionQqvga, 15}};
    job.Run(clip, true);

    EXPECT_EQ(job.Messages(), "");
    EXPECT_EQ(job.host.prompts, 1);
    EXPECT_EQ(job.host.progressCalls, (std::vector<bool>{false, true}));
    EXPECT_EQ(ReadBytes(clip), before) << "the job went on as \"Make new file\"";
    EXPECT_EQ(ReadBytes(dir / "fix_clip.sub"), Bytes{'c'});
    EXPECT_TRUE(job.fixer.LastOutcome().askedForImageSettings);
    ExpectRebuiltFile(dir / "fix_clip.avi", ExpectedFrom(chunks), 160, 112, 15);
    ExpectPlayersAccept(dir / "fix_clip.avi", ExpectedFrom(chunks), 160, 112, 15);
}

TEST(RebuildFile, CancelledSettingsPromptMovesCreatesAndShowsNothing) {
    for (bool replace : {true, false}) {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        WriteRecording(clip, Header(recgen::HeaderLayout::Shifted, 640, 480, 0),
                       CameraChunks(640, 480, 5, 0));
        WriteBytes(dir / "clip.sub", Bytes{'c'});
        const Bytes before = ReadBytes(clip);

        Job job;
        job.Run(clip, replace);

        EXPECT_EQ(job.host.prompts, 1);
        EXPECT_EQ(job.host.progressCalls, std::vector<bool>{false}) << "the progress window stays hidden";
        EXPECT_EQ(job.Messages(), "");
        EXPECT_EQ(ReadBytes(clip), before);
        EXPECT_EQ(dir.Names(), (std::vector<std::string>{"clip.avi", "clip.sub"}));
        EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Cancelled);
    }
}

struct HeaderCase {
    const char* name;
    uint32_t width, height, rate, scale;
    bool prompts;
    uint32_t framesPerSecond; // written when no prompt
};

class RebuildHeaderSettings : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(RebuildHeaderSettings, DecideWhetherTheUserIsAsked) {
    const HeaderCase& c = GetParam();
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    auto chunks = CameraChunks(c.width == 160 ? 160 : 640, c.width == 160 ? 112 : 480, 12, 0);
    WriteRecording(clip, Header(recgen::HeaderLayout::Shifted, c.width, c.height, c.rate, c.scale), chunks);

    Job job;
    job.host.answer = {{kResolutionVga, 5}};
    job.Run(clip, false);

    EXPECT_EQ(job.host.prompts, c.prompts ? 1 : 0);
    avitest::AviReader reader((dir / "fix_clip.avi").string());
    ASSERT_TRUE(reader.Valid()) << reader.ErrorText();
    ASSERT_FALSE(reader.Streams().empty());
    const auto& video = reader.Streams()[0];
    EXPECT_EQ(video.header.rate, (c.prompts ? 5 : c.framesPerSecond) * 1000);
    EXPECT_EQ(video.video->width, c.prompts ? 640 : static_cast<int32_t>(c.width));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, RebuildHeaderSettings,
    ::testing::Values(HeaderCase{"Vga30", 640, 480, 30000, 1000, false, 30},
                      HeaderCase{"SevenAndAHalfGivesSeven", 640, 480, 7500, 1000, false, 7},
                      HeaderCase{"HalfAFrameIsUnusable", 640, 480, 500, 1000, true, 0},
                      HeaderCase{"ZeroScale", 640, 480, 15, 0, true, 0},
                      HeaderCase{"AboveOneHundredTwenty", 640, 480, 121000, 1000, true, 0},
                      HeaderCase{"Qqvga", 160, 112, 15, 1, false, 15},
                      HeaderCase{"SizeTurnedOnItsSide", 112, 160, 15, 1, true, 0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(RebuildFile, RepeatRuleComparesVideoFramesOnly) {
    const auto& payloads = PayloadsFor(640, 480);
    Bytes frame = payloads.videoFrames[1].bytes;
    Bytes sameSizeOtherPicture = frame;
    sameSizeOtherPicture[50] ^= 0xFF;
    Bytes block = payloads.audioBlocks[0];
    std::vector<SourceChunk> chunks = {
        {FourCC("00dc"), payloads.videoFrames[0].bytes, {}},
        {FourCC("00dc"), frame, {}},
        {FourCC("01wb"), block, {}},
        {FourCC("00dc"), frame, {}},                // repeat across an audio block
        {FourCC("00dc"), {}, {}},                   // empty: skipped, the rule goes on with the frame before
        {FourCC("00dc"), frame, {}},                // repeat
        {FourCC("00dc"), sameSizeOtherPicture, {}}, // same size, other picture: kept
        {FourCC("00dc"), sameSizeOtherPicture, {}}, // now that one repeats
        {FourCC("00db"), frame, {}},                // always with data, key
        {FourCC("00dc"), sameSizeOtherPicture, {}}, // 00db does not break the rule
        {FourCC("01wb"), {}, {}},
    };
    const ExpectedStreams expected = ExpectedFrom(chunks);
    ASSERT_EQ(expected.video.size(), 8u);
    EXPECT_TRUE(expected.video[2].data.empty());
    EXPECT_FALSE(expected.video[4].data.empty());

    ScratchDir dir;
    WriteRecording(dir / "clip.avi", Header(recgen::HeaderLayout::Shifted), chunks);
    Job job;
    job.Run(dir / "clip.avi", false);
    EXPECT_EQ(job.Messages(), "");
    // The altered picture is no valid MPEG-4 frame, so only our own reader judges this file.
    ExpectRebuiltFile(dir / "fix_clip.avi", expected, 640, 480, 15);
}

TEST(RebuildFile, OddFramesAreReadWithoutPadAndStoredEven) {
    const auto& payloads = PayloadsFor(640, 480);
    Bytes odd = payloads.videoFrames[0].bytes;
    if (odd.size() % 2 == 0)
        odd.push_back(0);
    std::vector<SourceChunk> chunks = {{FourCC("00dc"), odd, {}},
                                       {FourCC("01wb"), Bytes(255, 0x42), {}},
                                       {FourCC("00dc"), payloads.videoFrames[1].bytes, {}}};
    ScratchDir dir;
    WriteRecording(dir / "clip.avi", Header(recgen::HeaderLayout::Shifted), chunks);
    Job job;
    job.Run(dir / "clip.avi", false);
    ExpectRebuiltFile(dir / "fix_clip.avi", ExpectedFrom(chunks), 640, 480, 15);
}

TEST(RebuildFile, CutOffLastFrameIsWrittenWholeWithZerosForTheMissingBytes) {
    const auto& payloads = PayloadsFor(640, 480);
    std::vector<SourceChunk> chunks = {{FourCC("00dc"), payloads.videoFrames[0].bytes, {}},
                                       {FourCC("01wb"), payloads.audioBlocks[0], {}},
                                       {FourCC("00dc"), payloads.videoFrames[1].bytes, {}}};
    ScratchDir dir;
    WriteRecording(dir / "clip.avi", Header(recgen::HeaderLayout::Shifted), chunks, 40);
    Job job;
    job.Run(dir / "clip.avi", true);
    EXPECT_EQ(job.Messages(), "");
    std::vector<SourceChunk> asRead = chunks;
    std::fill(asRead[2].payload.end() - 40, asRead[2].payload.end(), uint8_t{0});
    ExpectRebuiltFile(dir / "clip.avi", ExpectedFrom(asRead), 640, 480, 15);
}

TEST(RebuildFile, ChunkHeaderCutByTheEndOfTheFileEndsTheCopyNormally) {
    const auto& payloads = PayloadsFor(640, 480);
    std::vector<SourceChunk> chunks = {{FourCC("00dc"), payloads.videoFrames[0].bytes, {}}};
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    {
        recgen::RecordingWriter writer(clip, Header(recgen::HeaderLayout::Shifted));
        writer.AppendChunk(chunks[0].id, chunks[0].payload);
        writer.AppendRaw(Bytes{'0', '0', 'd', 'c', 0x10, 0}); // six bytes of a header
        writer.Finish(recgen::FinishOptions::CutOff());
    }
    Job job;
    job.Run(clip, true);
    EXPECT_EQ(job.Messages(), "");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"});
    ExpectRebuiltFile(clip, ExpectedFrom(chunks), 640, 480, 15);
}

TEST(RebuildFile, LostHeaderStartsAtTheFirstVideoTag) {
    const auto& payloads = PayloadsFor(640, 480);
    const Bytes& frame = payloads.videoFrames[0].bytes;
    auto build = [&](const Bytes& lead) {
        Bytes file = lead;
        file.insert(file.end(), {'0', '0', 'd', 'c'});
        Bytes size(4);
        PutU32(size, 0, static_cast<uint32_t>(frame.size()));
        file.insert(file.end(), size.begin(), size.end());
        file.insert(file.end(), frame.begin(), frame.end());
        return file;
    };
    struct Case {
        Bytes lead;
    };
    for (const Bytes& lead : {Bytes{'x', '0', '0', 'a'}, Bytes{'0'}, Bytes(6000, 0x55)}) {
        ScratchDir dir;
        WriteBytes(dir / "clip.avi", build(lead));
        Job job;
        job.host.answer = {{kResolutionVga, 15}};
        job.Run(dir / "clip.avi", false);
        EXPECT_EQ(job.Messages(), "") << "lead of " << lead.size();
        ExpectRebuiltFile(dir / "fix_clip.avi", ExpectedFrom({{FourCC("00dc"), frame, {}}}), 640, 480, 15);
    }
}

TEST(RebuildFile, NoRecordingDataIsReportedAndNeverTradesTheRecordingForAnEmptyFile) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> write;
        const char* message;
    };
    const char* kNoData = "No recording data was found in this file. Nothing was written.\n";
    std::vector<Case> cases = {
        {"lost header, no video tag anywhere", [](const fs::path& p) { WriteBytes(p, Bytes(9000, 0x55)); },
         "This file is not an AVI file: it is text. Clipwright repairs AVI recordings only, so nothing was "
         "written.\n"},
        {"lost header, zeros", [](const fs::path& p) { WriteBytes(p, Bytes(9000, 0)); }, kNoData},
        {"too short for a chunk",
         [](const fs::path& p) {
             Bytes bytes(2044, 0);
             PutFourCC(bytes, 2036, "LIST");
             WriteBytes(p, bytes);
         },
         kNoData}};
    for (const Case& c : cases) {
        for (bool replace : {true, false}) {
            ScratchDir dir;
            const fs::path clip = dir / "clip.avi";
            c.write(clip);
            const Bytes before = ReadBytes(clip);
            Job job;
            job.host.answer = {{kResolutionVga, 15}};
            job.Run(clip, replace);
            EXPECT_EQ(job.Messages(), c.message) << c.name;
            EXPECT_FALSE(job.fixer.LastOutcome().askedForImageSettings) << c.name;
            EXPECT_EQ(ReadBytes(clip), before) << c.name;
            EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"}) << c.name << " replace " << replace;
            EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Failed);
        }
    }
}

// Damage inside the data (a chunk no camera writes, a size no chunk can have) is skipped: the
// chunks behind it are copied, the user is told what was skipped, and replace mode completes.
TEST(RebuildFile, DamageInTheMiddleIsSkippedAndTheChunksBehindItAreCopied) {
    const auto& payloads = PayloadsFor(640, 480);
    struct Case {
        const char* name;
        SourceChunk damaged;
        uint32_t damagedBytes;
    };
    const std::vector<Case> cases = {{"unknown tag", {FourCC("zzzz"), Bytes(100, 1), {}}, 108},
                                     {"size 2^31", {FourCC("00dc"), Bytes(64, 1), 0x80000000u}, 72},
                                     {"all ones", {FourCC("00dc"), Bytes(64, 1), 0xFFFFFFF0u}, 72},
                                     {"far past the end", {FourCC("00dc"), Bytes(64, 1), 5u << 20}, 72}};
    for (const Case& c : cases) {
        for (bool replace : {true, false}) {
            ScratchDir dir;
            const fs::path clip = dir / "clip.avi";
            const std::vector<SourceChunk> kept = {{FourCC("00dc"), payloads.videoFrames[0].bytes, {}},
                                                   {FourCC("01wb"), payloads.audioBlocks[0], {}},
                                                   {FourCC("00dc"), payloads.videoFrames[1].bytes, {}}};
            auto summary = WriteRecording(clip, Header(recgen::HeaderLayout::Shifted),
                                          {kept[0], kept[1], c.damaged, kept[2]});
            Job job;
            job.Run(clip, replace);
            EXPECT_EQ(job.Messages(), "The recording holds damaged data: " + std::to_string(c.damagedBytes) +
                                          " bytes of damaged data skipped at offset " +
                                          std::to_string(summary.chunks[2].position) +
                                          ". The chunks before and behind it were copied.\n")
                << c.name;
            EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired) << c.name;
            const fs::path output = replace ? clip : dir / "fix_clip.avi";
            const std::vector<std::string> names = replace
                                                       ? std::vector<std::string>{"clip.avi"}
                                                       : std::vector<std::string>{"clip.avi", "fix_clip.avi"};
            EXPECT_EQ(dir.Names(), names) << c.name;
            ExpectRebuiltFile(output, ExpectedFrom(kept), 640, 480, 15);
        }
    }
}

// A LIST of another type where the movi list stands: its chunks are the recording's data.
TEST(RebuildFile, OtherListLayoutCopiesTheChunksInsideTheList) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    const auto chunks = CameraChunks(640, 480, 5, 0);
    WriteRecording(clip, Header(recgen::HeaderLayout::OtherList), chunks);
    Job job;
    job.Run(clip, true);
    EXPECT_EQ(job.fixer.LastOutcome().layout, LayoutOther);
    EXPECT_EQ(job.Messages(), "");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"});
    ExpectRebuiltFile(clip, ExpectedFrom(chunks), 640, 480, 15);
}

TEST(RebuildFile, ATemporaryNameLeftBehindStopsTheJobBeforeTheRecordingIsTouched) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    WriteRecording(clip, Header(recgen::HeaderLayout::Shifted), CameraChunks(640, 480, 5, 0));
    WriteBytes(dir / "tmp_clip.avi", Bytes{'o', 'l', 'd'});
    const Bytes before = ReadBytes(clip);
    Job job;
    job.Run(clip, true);
    ASSERT_EQ(job.host.messages.size(), 1u);
    EXPECT_NE(job.host.messages[0].text.find("could not be renamed to \"tmp_clip.avi\""), std::string::npos);
    EXPECT_EQ(ReadBytes(clip), before);
    EXPECT_EQ(ReadBytes(dir / "tmp_clip.avi"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"clip.avi", "tmp_clip.avi"}));
}

TEST(RebuildFile, AFullDiskNeverCostsTheRecording) {
    ScratchDir dir;
    fs::create_directories(dir / "disk");
    if (::mount("tmpfs", (dir / "disk").c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{dir / "disk"};
    const fs::path clip = dir / "disk" / "clip.avi";
    // Big enough that its copy cannot fit beside it.
    WriteRecording(clip, Header(recgen::HeaderLayout::Shifted), CameraChunks(640, 480, 200, 0));
    const Bytes before = ReadBytes(clip);
    ASSERT_GT(before.size(), 600u * 1024);

    for (bool replace : {true, false}) {
        Job job;
        job.Run(clip, replace);
        ASSERT_GE(job.host.messages.size(), 1u) << "replace " << replace;
        EXPECT_NE(job.Messages().find("could not be written"), std::string::npos) << job.Messages();
        EXPECT_EQ(ReadBytes(clip), before);
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir / "disk"))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"clip.avi"}) << "replace " << replace;
    }
}

TEST(RebuildFile, OutputThatCannotBeCreatedIsReportedAndTheRecordingMovedBack) {
    ScratchDir dir("/tmp");
    fs::permissions(dir.Path(), fs::perms::all);
    const fs::path folder = dir / "recordings";
    fs::create_directory(folder);
    const fs::path clip = folder / "clip.avi";
    WriteRecording(clip, Header(recgen::HeaderLayout::Shifted), CameraChunks(640, 480, 5, 0));
    fs::permissions(clip, fs::perms::all);
    const Bytes before = ReadBytes(clip);
    // A folder the unprivileged user may read but not write in.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    for (const char* mode : {"", "--replace "}) {
        CommandResult result =
            RunCommand(AsUnprivileged(ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + mode + ShellQuote(clip)));
        EXPECT_EQ(result.exitStatus, 1) << mode;
        EXPECT_NE(result.err, "") << mode;
        EXPECT_EQ(ReadBytes(clip), before);
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"clip.avi"}) << mode << result.err;
    }
}

// A header that lost its settings: the prompt is offered what the recording's video and sound say;
// settings given beforehand answer it without a prompt, and the copy reads the same from the video
// on its way.
TEST(RebuildFile, ThePromptIsOfferedTheSettingsTheRecordingItselfHolds) {
    struct Case {
        uint32_t width, height, framesPerSecond;
        ResolutionCode resolution;
    };
    for (const Case& c : {Case{640, 480, 15, kResolutionVga}, Case{320, 240, 10, kResolutionQvga},
                          Case{160, 112, 30, kResolutionQqvga}}) {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        CameraRecordingPlan plan;
        plan.header.layout = recgen::HeaderLayout::HeaderLost;
        plan.header.width = c.width;
        plan.header.height = c.height;
        plan.header.videoRate = c.framesPerSecond * 1000; // paces the audio; no header holds it
        plan.sequence.videoFrameCount = 600; // 20 s at 30 fps: a clock long enough to tell 30 from 29
        WriteCameraRecording(clip, plan);
        Job job;
        job.host.answer = {{kResolutionVga, 5}};
        job.Run(clip, true);
        ASSERT_EQ(job.host.prompts, 1) << c.width;
        ASSERT_TRUE(job.host.offered.has_value()) << c.width;
        EXPECT_EQ(job.host.offered->resolution, c.resolution) << c.width;
        EXPECT_EQ(job.host.offered->framesPerSecond, c.framesPerSecond) << c.width;
        const Bytes prompted = ReadBytes(dir / "fix_clip.avi");

        Job given;
        given.Run(clip, true, ImageSettings{kResolutionVga, 5});
        EXPECT_EQ(given.host.prompts, 0) << c.width;
        ASSERT_TRUE(given.host.readWhileCopying && *given.host.readWhileCopying) << c.width;
        EXPECT_EQ((*given.host.readWhileCopying)->resolution, c.resolution) << c.width;
        EXPECT_EQ((*given.host.readWhileCopying)->framesPerSecond, c.framesPerSecond) << c.width;
        EXPECT_EQ(ReadBytes(dir / "fix_clip.avi"), prompted) << c.width;
    }
}

} // namespace
} // namespace clipwright::test
