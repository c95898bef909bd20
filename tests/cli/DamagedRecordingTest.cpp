// Recordings damaged the way bad sectors, power cuts and other writers leave them, repaired through
// the command-line tool as a user would: every chunk the damage did not touch comes back, the
// summary says what was skipped, and in-place repairs never write over footage.
#include "AviReader.h"
#include "Recordings.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <functional>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

struct SourceChunk {
    uint64_t position;
    FourCC id;
    Bytes payload;
    bool lost = false; // what the damage took
};

struct DamagedRecording {
    Bytes bytes;
    std::vector<SourceChunk> chunks;
};

using Damage = std::function<void(DamagedRecording&)>;

// Zeros over [offset, offset + length): the chunks whose header lay there are lost.
Damage ZeroRange(std::function<uint64_t(const DamagedRecording&)> offsetOf, uint64_t length) {
    return [=](DamagedRecording& recording) {
        const uint64_t offset = offsetOf(recording);
        std::fill_n(recording.bytes.begin() + static_cast<ptrdiff_t>(offset), length, 0);
        for (SourceChunk& chunk : recording.chunks)
            chunk.lost = chunk.position < offset + length && chunk.position + 8 > offset;
    };
}

Damage LyingSize(size_t chunkIndex, uint32_t sizeField) {
    return [=](DamagedRecording& recording) {
        SourceChunk& chunk = recording.chunks[chunkIndex];
        PutU32(recording.bytes, chunk.position + 4, sizeField);
        chunk.lost = true;
    };
}

DamagedRecording Record(const fs::path& path, recgen::HeaderLayout layout, const Damage& damage) {
    CameraRecordingPlan plan;
    plan.header.layout = layout;
    plan.sequence.videoFrameCount = 40;
    const recgen::RecordingSummary summary = WriteCameraRecording(path, plan);
    DamagedRecording recording{ReadBytes(path), {}};
    for (const recgen::ChunkRecord& record : summary.chunks) {
        if (record.kind == recgen::ChunkKind::Other)
            continue;
        const auto payload = recording.bytes.begin() + static_cast<ptrdiff_t>(record.position + 8);
        recording.chunks.push_back({record.position, record.id, Bytes(payload, payload + record.sizeField)});
    }
    if (damage)
        damage(recording);
    // A kept chunk holds what the damage left of its payload.
    for (SourceChunk& chunk : recording.chunks) {
        const auto payload = recording.bytes.begin() + static_cast<ptrdiff_t>(chunk.position + 8);
        std::copy(payload, payload + static_cast<ptrdiff_t>(chunk.payload.size()), chunk.payload.begin());
    }
    WriteBytes(path, recording.bytes);
    return recording;
}

::testing::AssertionResult SamePayloads(const std::vector<Bytes>& actual, const std::vector<Bytes>& expected,
                                        const char* kind) {
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure()
               << actual.size() << " " << kind << " payloads, expected " << expected.size();
    for (size_t i = 0; i < actual.size(); ++i) {
        // A rebuild hands odd video frames to the writer one zero byte longer.
        Bytes wanted = expected[i];
        if (wanted.size() % 2 == 1 && actual[i].size() == wanted.size() + 1)
            wanted.push_back(0);
        if (actual[i] != wanted)
            return ::testing::AssertionFailure() << kind << " payload " << i << " differs";
    }
    return ::testing::AssertionSuccess();
}

// The payloads an output's idx1 lists with data, video and audio apart, in order.
std::pair<std::vector<Bytes>, std::vector<Bytes>> IndexedPayloads(const fs::path& file) {
    avitest::AviReader reader(file.string());
    EXPECT_TRUE(reader.HasIndex()) << file;
    const Bytes bytes = ReadBytes(file);
    const uint64_t base = reader.IndexRelativeToMovi() ? reader.MoviListOffset() + 8 : 0;
    std::pair<std::vector<Bytes>, std::vector<Bytes>> payloads;
    for (const auto& entry : reader.Index()) {
        if (entry.size == 0)
            continue;
        const auto start = bytes.begin() + static_cast<ptrdiff_t>(base + entry.offset + 8);
        (entry.id.Bytes()[2] == 'w' ? payloads.second : payloads.first)
            .emplace_back(start, start + entry.size);
    }
    return payloads;
}

struct DamageCase {
    const char* name;
    recgen::HeaderLayout layout;
    bool replace;
    Damage damage;
};

class DamagedRecordingThroughTheCli : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedRecordingThroughTheCli, KeepsEveryChunkTheDamageDidNotTouch) {
    const DamageCase& c = GetParam();
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    const DamagedRecording recording = Record(clip, c.layout, c.damage);

    CommandResult result =
        RunCommand(ShellQuote(CLIPWRIGHT_CLI_PATH) + (c.replace ? " --replace " : " ") + ShellQuote(clip));

    std::vector<Bytes> video;
    std::vector<Bytes> audio;
    const SourceChunk* firstLost = nullptr;
    for (const SourceChunk& chunk : recording.chunks) {
        if (chunk.lost && firstLost == nullptr)
            firstLost = &chunk;
        if (!chunk.lost)
            (chunk.id.Bytes()[2] == 'w' ? audio : video).push_back(chunk.payload);
    }
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const bool inPlace = c.layout == recgen::HeaderLayout::Standard;
    EXPECT_NE(result.out.find("(" + std::to_string(video.size()) + " video and " +
                              std::to_string(audio.size()) + " audio chunks " +
                              (inPlace ? "indexed" : "copied")),
              std::string::npos)
        << result.out;
    if (firstLost != nullptr) {
        EXPECT_NE(
            result.out.find("bytes of damaged data skipped at offset " + std::to_string(firstLost->position)),
            std::string::npos)
            << result.out;
    }

    const fs::path output = c.replace ? clip : dir / "fix_clip.avi";
    const auto [outputVideo, outputAudio] = IndexedPayloads(output);
    EXPECT_TRUE(SamePayloads(outputVideo, video, "video"));
    EXPECT_TRUE(SamePayloads(outputAudio, audio, "audio"));
    EXPECT_EQ(DecodeErrors(output).find("Invalid data found when processing input\n    Last"),
              std::string::npos);
    if (c.replace && inPlace) {
        const Bytes after = ReadBytes(clip);
        for (const SourceChunk& chunk : recording.chunks) {
            EXPECT_TRUE(std::equal(chunk.payload.begin(), chunk.payload.end(),
                                   after.begin() + static_cast<ptrdiff_t>(chunk.position + 8)))
                << "footage at " << chunk.position << " written over";
        }
    }
    if (!c.replace) {
        EXPECT_TRUE(ReadBytes(clip) == recording.bytes) << "the recording itself is never written";
    }
}

uint64_t SectorIn(const DamagedRecording& recording, size_t chunkIndex) {
    return (recording.chunks[chunkIndex].position + 511) / 512 * 512;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedRecordingThroughTheCli,
    ::testing::Values(DamageCase{"ZeroedSectorShiftedReplace", recgen::HeaderLayout::Shifted, true,
                                 ZeroRange([](const auto& r) { return SectorIn(r, 38); }, 512)},
                      DamageCase{"ZeroedSectorShiftedNewFile", recgen::HeaderLayout::Shifted, false,
                                 ZeroRange([](const auto& r) { return SectorIn(r, 38); }, 512)},
                      DamageCase{"ZeroedSectorStandardReplace", recgen::HeaderLayout::Standard, true,
                                 ZeroRange([](const auto& r) { return SectorIn(r, 20); }, 4096)},
                      DamageCase{"ZeroWordAtTheFirstChunk", recgen::HeaderLayout::Shifted, true,
                                 ZeroRange([](const auto& r) { return r.chunks[0].position; }, 4)},
                      DamageCase{"SizeOf2GiBInPlaceNewFile", recgen::HeaderLayout::Standard, false,
                                 LyingSize(10, 0x80000000u)},
                      DamageCase{"SizeOf2GiBInPlaceReplace", recgen::HeaderLayout::Standard, true,
                                 LyingSize(10, 0x80000000u)},
                      DamageCase{"SizeRunningPastTheEndShiftedReplace", recgen::HeaderLayout::Shifted, true,
                                 LyingSize(60, 100000)},
                      DamageCase{"SizeRunningPastTheEndInPlaceReplace", recgen::HeaderLayout::Standard, true,
                                 LyingSize(60, 100000)},
                      DamageCase{"ListOfAnotherTypeHoldsTheData", recgen::HeaderLayout::OtherList, true,
                                 nullptr}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace clipwright::test
