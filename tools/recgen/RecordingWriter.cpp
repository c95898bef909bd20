#include "RecordingWriter.h"

#include "MediaPayloads.h"
#include "avi/CameraLayout.h"
#include "avi/LittleEndian.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

namespace clipwright::recgen {

namespace {

constexpr size_t kIndexEntrySize = 16;
constexpr size_t kChunkHeaderSize = 8;

[[noreturn]] void FailIndex(const char* operation) {
    throw std::system_error(errno, std::generic_category(), std::string(operation) + " the pending idx1");
}

uint32_t SizeFieldFor(const SizeFieldValue& value, uint64_t headerOnly, uint64_t trueSize) {
    switch (value.rule) {
    case SizeFieldValue::Rule::Zero:
        return 0;
    case SizeFieldValue::Rule::HeaderOnly:
        return static_cast<uint32_t>(headerOnly);
    case SizeFieldValue::Rule::True:
        return static_cast<uint32_t>(trueSize);
    case SizeFieldValue::Rule::Fixed:
        return value.fixedValue;
    }
    throw std::logic_error("unknown size field rule");
}

} // namespace

ChunkKind KindOf(FourCC id) {
    if (id == fourcc::kVideo00dc || id == fourcc::kVideo00db || id == fourcc::kVideo01dc ||
        id == fourcc::kVideo01db)
        return ChunkKind::Video;
    if (id == fourcc::kAudio01wb || id == fourcc::kAudio00wb)
        return ChunkKind::Audio;
    return ChunkKind::Other;
}

RecordingWriter::RecordingWriter(std::filesystem::path path, const HeaderOptions& header, ChunkLog log)
    : file_(std::move(path)), geometry_(GeometryOf(header)), log_(log), pendingIndex_(std::tmpfile()) {
    if (!pendingIndex_)
        FailIndex("cannot create");
    file_.Append(BuildHeaderBlock(header));
    summary_.geometry = geometry_;
}

RecordingWriter::~RecordingWriter() = default;

ChunkRecord RecordingWriter::AppendChunk(FourCC id, std::span<const uint8_t> payload,
                                         const ChunkOptions& options) {
    if (finished_)
        throw std::logic_error("chunk appended to a finished recording");
    if (payload.size() > UINT32_MAX)
        throw std::invalid_argument("chunk payload over 4 GiB");

    ChunkRecord record;
    record.id = id;
    record.position = file_.Size();
    record.payloadSize = static_cast<uint32_t>(payload.size());
    record.sizeField = options.sizeField.value_or(record.payloadSize);
    record.padded = options.pad == OddSizePad::PadByte && payload.size() % 2 != 0;
    record.kind = KindOf(id);
    record.isKey = record.kind == ChunkKind::Audio ||
                   (record.kind == ChunkKind::Video && BeginsWithVideoObject(payload));

    std::array<uint8_t, kChunkHeaderSize> header{};
    std::copy(id.Bytes().begin(), id.Bytes().end(), header.begin());
    le::WriteU32(header.data() + 4, record.sizeField);
    file_.Append(header);
    file_.Append(payload);
    if (record.padded)
        file_.AppendZeros(1);

    AppendIndexEntry(record);
    ++summary_.chunkCount;
    if (record.kind == ChunkKind::Video)
        ++summary_.videoCount;
    if (record.kind == ChunkKind::Audio)
        ++summary_.audioCount;
    if (log_ == ChunkLog::Keep)
        summary_.chunks.push_back(record);
    return record;
}

void RecordingWriter::AppendRaw(std::span<const uint8_t> bytes) {
    if (finished_)
        throw std::logic_error("bytes appended to a finished recording");
    file_.Append(bytes);
}

void RecordingWriter::AppendIndexEntry(const ChunkRecord& record) {
    const uint64_t offset = record.position - geometry_.moviBase;
    if (offset > UINT32_MAX)
        throw std::length_error("chunk lies beyond the reach of a 32-bit idx1 offset");
    std::array<uint8_t, kIndexEntrySize> entry{};
    std::copy(record.id.Bytes().begin(), record.id.Bytes().end(), entry.begin());
    le::WriteU32(entry.data() + 4, record.isKey ? layout::kIndexKeyFrame : 0); // dwFlags
    le::WriteU32(entry.data() + 8, static_cast<uint32_t>(offset));             // dwChunkOffset
    le::WriteU32(entry.data() + 12, record.sizeField);                         // dwChunkLength
    if (std::fwrite(entry.data(), entry.size(), 1, pendingIndex_.get()) != 1)
        FailIndex("cannot write");
}

void RecordingWriter::WriteIndex() {
    const uint64_t indexSize = summary_.chunkCount * kIndexEntrySize;
    if (indexSize > UINT32_MAX)
        throw std::length_error("idx1 over 4 GiB");
    summary_.indexPosition = file_.Size();
    std::array<uint8_t, kChunkHeaderSize> header{};
    std::copy(fourcc::kIdx1.Bytes().begin(), fourcc::kIdx1.Bytes().end(), header.begin());
    le::WriteU32(header.data() + 4, static_cast<uint32_t>(indexSize));
    file_.Append(header);

    if (std::fflush(pendingIndex_.get()) != 0 || std::fseek(pendingIndex_.get(), 0, SEEK_SET) != 0)
        FailIndex("cannot rewind");
    std::vector<uint8_t> piece(size_t{1} << 20);
    uint64_t copied = 0;
    while (copied < indexSize) {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(piece.size(), indexSize - copied));
        if (std::fread(piece.data(), 1, wanted, pendingIndex_.get()) != wanted)
            FailIndex("cannot read back");
        file_.Append(std::span<const uint8_t>(piece.data(), wanted));
        copied += wanted;
    }
}

void RecordingWriter::PatchHeader(const FinishOptions& options, uint64_t riffEnd) {
    if (!geometry_.hasHeaderBlock)
        return;
    if (options.counts == HeaderCounts::True) {
        const auto videoCount = static_cast<uint32_t>(summary_.videoCount);
        file_.WriteU32At(layout::kMainFlags, layout::kMainFlagsIndexed); // avih dwFlags
        file_.WriteU32At(layout::kMainTotalFrames, videoCount);          // avih dwTotalFrames
        file_.WriteU32At(layout::kVideoLength, videoCount);              // video strh dwLength
        file_.WriteU32At(geometry_.audioLengthField, static_cast<uint32_t>(summary_.audioCount)); // in blocks
    } else {
        file_.WriteU32At(layout::kMainFlags, 0);
        file_.WriteU32At(layout::kMainTotalFrames, 0);
        file_.WriteU32At(layout::kVideoLength, 0);
        file_.WriteU32At(geometry_.audioLengthField, 0);
    }

    // A list holding nothing but its type word; a RIFF holding nothing but the header block.
    const uint64_t emptyList = 4;
    const uint64_t headerOnlyRiff = geometry_.firstChunk - 8;
    file_.WriteU32At(geometry_.listSizeField,
                     SizeFieldFor(options.moviSize, emptyList, summary_.dataEnd - geometry_.moviBase));
    file_.WriteU32At(layout::kRiffSize, SizeFieldFor(options.riffSize, headerOnlyRiff, riffEnd - 8));
}

RecordingSummary RecordingWriter::Finish(const FinishOptions& options) {
    if (finished_)
        throw std::logic_error("recording finished twice");
    finished_ = true;

    summary_.dataEnd = file_.Size();
    if (options.index == IndexPresence::Written)
        WriteIndex();
    const uint64_t riffEnd = file_.Size();
    if (riffEnd - 8 > UINT32_MAX)
        throw std::length_error("recording over 4 GiB cannot carry a RIFF size");
    PatchHeader(options, riffEnd);

    if (options.cutBytes > riffEnd)
        throw std::invalid_argument("cut of " + std::to_string(options.cutBytes) +
                                    " bytes is longer than the file");
    if (options.cutBytes > 0)
        file_.Truncate(riffEnd - options.cutBytes);
    summary_.fileSize = file_.Size();
    file_.Close();
    pendingIndex_.reset();
    return std::move(summary_);
}

} // namespace clipwright::recgen
