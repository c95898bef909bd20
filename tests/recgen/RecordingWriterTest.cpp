#include "RecordingWriter.h"
#include "CompanionFile.h"
#include "RecgenTestFiles.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace clipwright;
using namespace clipwright::recgen;
using namespace clipwright::test;

namespace {

const std::vector<uint8_t> kKeyFrame{0, 0, 1, 0x00, 0, 0, 1, 0x20, 0x11, 0, 0, 1, 0xB6, 0x22, 0x33}; // odd
const std::vector<uint8_t> kPFrame{0, 0, 1, 0xB6, 0x44, 0x55, 0x66, 0x77};
const std::vector<uint8_t> kAudioBlock(256, 0x5A);

// Key frame (odd size), audio, key frame with a pad byte, a raw LIST header and a stray byte, audio with a
// lying size field, P frame.
RecordingSummary WriteMixedChunks(const std::filesystem::path& path, const FinishOptions& finish) {
    RecordingWriter writer(path, HeaderOptions{});
    writer.AppendChunk(fourcc::kVideo00dc, kKeyFrame);
    writer.AppendChunk(fourcc::kAudio01wb, kAudioBlock);
    writer.AppendChunk(fourcc::kVideo00dc, kKeyFrame, {OddSizePad::PadByte, std::nullopt});
    writer.AppendRaw(std::vector<uint8_t>{'L', 'I', 'S', 'T', 4, 0, 0, 0, 'r', 'e', 'c', ' ', 0xEE});
    writer.AppendChunk(fourcc::kAudio01wb, kAudioBlock, {OddSizePad::None, 0x80000000u});
    writer.AppendChunk(fourcc::kVideo00dc, kPFrame);
    return writer.Finish(finish);
}

TEST(RecordingWriter, RecordsWhereEveryChunkStandsAndWhatItHolds) {
    ScratchDir dir;
    const std::filesystem::path path = dir / "mixed.avi";
    const RecordingSummary summary = WriteMixedChunks(path, FinishOptions::CutOff());
    const std::vector<uint8_t> bytes = ReadBytes(path);
    ASSERT_EQ(summary.chunks.size(), 5u);
    EXPECT_EQ(summary.fileSize, bytes.size());

    const std::vector<const std::vector<uint8_t>*> payloads{&kKeyFrame, &kAudioBlock, &kKeyFrame,
                                                            &kAudioBlock, &kPFrame};
    const std::vector<uint64_t> expectedPositions{2060, 2060 + 8 + 15, 2060 + 8 + 15 + 8 + 256,
                                                  2060 + 8 + 15 + 8 + 256 + 8 + 15 + 1 + 13,
                                                  2060 + 8 + 15 + 8 + 256 + 8 + 15 + 1 + 13 + 8 + 256};
    for (size_t i = 0; i < summary.chunks.size(); ++i) {
        const ChunkRecord& record = summary.chunks[i];
        SCOPED_TRACE("chunk " + std::to_string(i));
        EXPECT_EQ(record.position, expectedPositions[i]);
        EXPECT_EQ(FourCCAt(bytes, record.position), record.id);
        EXPECT_EQ(U32At(bytes, record.position + 4), record.sizeField);
        const auto payload = bytes.begin() + static_cast<std::ptrdiff_t>(record.position + 8);
        EXPECT_TRUE(std::equal(payloads[i]->begin(), payloads[i]->end(), payload));
    }
    EXPECT_EQ(summary.chunks[3].sizeField, 0x80000000u);
    EXPECT_TRUE(summary.chunks[2].padded);
    EXPECT_EQ(bytes[summary.chunks[2].position + 8 + 15], 0);
    EXPECT_EQ(summary.dataEnd, bytes.size());
}

TEST(RecordingWriter, FinalisedRecordingHasTrueCountsSizesAndIndex) {
    ScratchDir dir;
    const std::filesystem::path path = dir / "finalised.avi";
    const RecordingSummary summary = WriteMixedChunks(path, FinishOptions::Finalised());
    const std::vector<uint8_t> bytes = ReadBytes(path);

    EXPECT_EQ(U32At(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(U32At(bytes, 44), 0x110u);
    EXPECT_EQ(U32At(bytes, 48), 3u);  // video frames
    EXPECT_EQ(U32At(bytes, 140), 3u); // video stream length
    EXPECT_EQ(U32At(bytes, 520), 2u); // audio stream length in 256-byte blocks
    EXPECT_EQ(U32At(bytes, 2052), summary.dataEnd - 2056);

    ASSERT_EQ(FourCCAt(bytes, summary.dataEnd), FourCC("idx1"));
    ASSERT_EQ(U32At(bytes, summary.dataEnd + 4), 5u * 16);
    EXPECT_EQ(summary.dataEnd + 8 + 5 * 16, bytes.size());
    const std::vector<uint32_t> expectedFlags{0x10, 0x10, 0x10, 0x10, 0};
    for (size_t i = 0; i < 5; ++i) {
        const uint64_t entry = summary.dataEnd + 8 + 16 * i;
        const ChunkRecord& record = summary.chunks[i];
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(FourCCAt(bytes, entry), record.id);
        EXPECT_EQ(U32At(bytes, entry + 4), expectedFlags[i]);
        EXPECT_EQ(U32At(bytes, entry + 8) + 2056u, record.position);
        EXPECT_EQ(U32At(bytes, entry + 12), record.sizeField);
    }
}

TEST(RecordingWriter, CutOffRecordingKeepsTheCameraZeros) {
    ScratchDir dir;
    const std::filesystem::path path = dir / "cutoff.avi";
    const RecordingSummary summary = WriteMixedChunks(path, FinishOptions::CutOff());
    const std::vector<uint8_t> bytes = ReadBytes(path);
    for (const uint64_t field : std::initializer_list<uint64_t>{4, 44, 48, 140, 520, 2052})
        EXPECT_EQ(U32At(bytes, field), 0u) << "field at " << field;
    EXPECT_FALSE(summary.indexPosition.has_value());

    FinishOptions badSizes = FinishOptions::CutOff();
    badSizes.riffSize = SizeFieldValue::HeaderOnly();
    badSizes.moviSize = SizeFieldValue::Fixed(0xFFFFFFF0u);
    WriteMixedChunks(path, badSizes);
    const std::vector<uint8_t> badBytes = ReadBytes(path);
    EXPECT_EQ(U32At(badBytes, 4), 2052u); // RIFF covering the header block up to the first chunk
    EXPECT_EQ(U32At(badBytes, 2052), 0xFFFFFFF0u);
}

TEST(RecordingWriter, CutRemovesExactlyTheAskedBytesFromTheEnd) {
    ScratchDir dir;
    const std::filesystem::path whole = dir / "whole.avi";
    const std::filesystem::path cut = dir / "cut.avi";
    FinishOptions finish = FinishOptions::CutOff();
    WriteMixedChunks(whole, finish);
    finish.cutBytes = 5;
    const RecordingSummary summary = WriteMixedChunks(cut, finish);
    const std::vector<uint8_t> wholeBytes = ReadBytes(whole);
    const std::vector<uint8_t> cutBytes = ReadBytes(cut);
    ASSERT_EQ(cutBytes.size(), wholeBytes.size() - 5);
    EXPECT_EQ(summary.fileSize, cutBytes.size());
    EXPECT_TRUE(std::equal(cutBytes.begin(), cutBytes.end(), wholeBytes.begin()));

    finish.cutBytes = wholeBytes.size() + 1;
    EXPECT_THROW(WriteMixedChunks(cut, finish), std::invalid_argument);
}

TEST(RecordingWriter, FailsLoudlyWhereTheFileCannotBeCreated) {
    ScratchDir dir;
    EXPECT_THROW(RecordingWriter(dir / "no-such-folder" / "x.avi", HeaderOptions{}), std::system_error);
}

TEST(CompanionFile, SitsBesideTheRecordingUnderItsBaseName) {
    ScratchDir dir;
    const std::filesystem::path recording = dir / "clip.2005.avi";
    const std::vector<uint8_t> bytes = SampleCompanionBytes(recording);
    const std::filesystem::path companion = WriteCompanionFile(recording, bytes);
    EXPECT_EQ(companion, recording.parent_path() / "clip.2005.sub");
    EXPECT_EQ(ReadBytes(companion), bytes);
}

} // namespace
