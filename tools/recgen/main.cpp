// clipwright-recgen: writes one QC-7 camera recording, intact or damaged, from real payloads.
#include "CameraSequence.h"
#include "CompanionFile.h"
#include "MediaPayloads.h"
#include "RecordingWriter.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

using namespace clipwright;
using namespace clipwright::recgen;

namespace {

// idx1 offsets and the RIFF size are 32-bit; leave room for the index behind the chunks.
constexpr uint64_t kLargestTargetSize = uint64_t{3} << 30;

struct Resolution {
    uint32_t width;
    uint32_t height;
};

Resolution ParseResolution(const std::string& text) {
    const size_t cross = text.find('x');
    if (cross == std::string::npos)
        throw std::invalid_argument("frame size '" + text + "' is not WIDTHxHEIGHT");
    return {static_cast<uint32_t>(std::stoul(text.substr(0, cross))),
            static_cast<uint32_t>(std::stoul(text.substr(cross + 1)))};
}

uint32_t ParseU32(const std::string& text) {
    size_t used = 0;
    const unsigned long long value = std::stoull(text, &used, 0); // decimal or 0x...
    if (used != text.size() || value > UINT32_MAX)
        throw std::invalid_argument("'" + text + "' is not a 32-bit number");
    return static_cast<uint32_t>(value);
}

SizeFieldValue ParseSizeField(const std::string& text, const char* option) {
    if (text == "zero")
        return SizeFieldValue::Zero();
    if (text == "header")
        return SizeFieldValue::HeaderOnly();
    if (text == "true")
        return SizeFieldValue::True();
    try {
        return SizeFieldValue::Fixed(ParseU32(text));
    } catch (const std::logic_error&) {
        throw std::invalid_argument(std::string(option) + " takes zero, header, true or a number, not '" +
                                    text + "'");
    }
}

FourCC ParseFourCC(const std::string& text) {
    if (text.size() != 4)
        throw std::invalid_argument("'" + text + "' is not four characters");
    return FourCC::FromBytes(reinterpret_cast<const uint8_t*>(text.data()));
}

// "N:VALUE": video or audio chunk number N (counted from 0 in file order) gets the size field VALUE.
std::map<uint64_t, uint32_t> ParseSizeFieldLies(const std::vector<std::string>& texts) {
    std::map<uint64_t, uint32_t> lies;
    for (const std::string& text : texts) {
        const size_t colon = text.find(':');
        if (colon == std::string::npos)
            throw std::invalid_argument("--lying-size takes CHUNK:VALUE, not '" + text + "'");
        lies[std::stoull(text.substr(0, colon))] = ParseU32(text.substr(colon + 1));
    }
    return lies;
}

struct CommandLine {
    std::string output;
    HeaderLayout layout = HeaderLayout::Standard;
    uint32_t dataStart = 2048;
    LostHeaderFill lostFill = LostHeaderFill::Zeros;
    std::string listType = "rec ";
    std::string resolution = "640x480";
    std::string headerSize;
    uint32_t fps = 15;
    std::optional<uint32_t> headerScale;
    std::optional<uint32_t> headerRate;
    AudioHeaderPlace audioHeader = AudioHeaderPlace::At488;
    uint64_t frames = 40;
    std::optional<uint64_t> targetSize;
    uint64_t repeatEvery = 0;
    std::vector<uint64_t> repeatAt;
    bool padOdd = false;
    std::vector<std::string> lyingSizes;
    uint64_t trailingGarbage = 0;
    bool finalised = false;
    std::optional<HeaderCounts> counts;
    std::optional<IndexPresence> index;
    std::string moviSize;
    std::string riffSize;
    uint64_t cutBytes = 0;
    bool companion = false;
    std::string payloadDirectory;
    bool chunkList = false;
};

void AddOptions(CLI::App& app, CommandLine& command) {
    app.add_option("output", command.output, "Path of the recording to write (NAME.avi)")->required();

    app.add_option("--layout", command.layout,
                   "Header layout: standard (movi LIST at 2048), shifted (movi LIST at 2036), header-lost "
                   "(no header block before the data start), other-list (LIST at 2048 not of type 'movi')")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, HeaderLayout>{{"standard", HeaderLayout::Standard},
                                                {"shifted", HeaderLayout::Shifted},
                                                {"header-lost", HeaderLayout::HeaderLost},
                                                {"other-list", HeaderLayout::OtherList}}))
        ->option_text("standard|shifted|header-lost|other-list (default standard)");
    app.add_option("--data-start", command.dataStart, "header-lost: position of the first chunk")
        ->capture_default_str();
    app.add_option("--lost-fill", command.lostFill,
                   "header-lost: what stands before the data: zeros, or garbage without any '0' byte")
        ->transform(CLI::CheckedTransformer(std::map<std::string, LostHeaderFill>{
            {"zeros", LostHeaderFill::Zeros}, {"garbage", LostHeaderFill::Garbage}}))
        ->option_text("zeros|garbage (default zeros)");
    app.add_option("--list-type", command.listType, "other-list: the list type at 2056")
        ->capture_default_str();

    app.add_option("--resolution", command.resolution, "Camera resolution of the payloads and the header")
        ->check(CLI::IsMember({"640x480", "320x240", "160x112"}))
        ->capture_default_str();
    app.add_option(
        "--header-size", command.headerSize,
        "Frame size WIDTHxHEIGHT written to avih 64/68 and strf, when it should differ from --resolution");
    app.add_option("--fps", command.fps, "Frame rate of the camera (header 1000/fps*1000, audio interleave)")
        ->check(CLI::Range(1U, 1000U))
        ->capture_default_str();
    app.add_option("--header-scale", command.headerScale, "Video strh dwScale (128) written instead of 1000");
    app.add_option("--header-rate", command.headerRate,
                   "Video strh dwRate (132) written instead of fps*1000");
    app.add_option(
           "--audio-header", command.audioHeader,
           "Audio stream header: at-488 ('auds' at 488, dwLength at 520) or shifted-by-8 (dwLength at 528)")
        ->transform(CLI::CheckedTransformer(std::map<std::string, AudioHeaderPlace>{
            {"at-488", AudioHeaderPlace::At488}, {"shifted-by-8", AudioHeaderPlace::ShiftedBy8}}))
        ->option_text("at-488|shifted-by-8 (default at-488)");

    app.add_option("--frames", command.frames, "Video chunks to write, repeats included (payloads cycle)")
        ->capture_default_str();
    app.add_option("--size", command.targetSize,
                   "Write chunks until the file reaches this size instead (e.g. 1G, 300M; idx1, when "
                   "written, comes on "
                   "top); overrides --frames")
        ->transform(CLI::AsSizeValue(false))
        ->check(CLI::Range(uint64_t{1}, kLargestTargetSize))
        ->option_text("SIZE");
    app.add_option("--repeat-every", command.repeatEvery,
                   "Every N-th video chunk repeats the previous frame's bytes (N >= 2)");
    app.add_option("--repeat-at", command.repeatAt,
                   "Video chunk numbers (from 0) that repeat the previous frame")
        ->delimiter(',');
    app.add_flag("--pad-odd", command.padOdd,
                 "Write a pad byte after odd-sized chunks (the camera writes none)");
    app.add_option(
        "--lying-size", command.lyingSizes,
        "CHUNK:VALUE: chunk number CHUNK (from 0, in file order) gets size field VALUE (e.g. 5:0x80000000)");
    app.add_option("--trailing-garbage", command.trailingGarbage, "Bytes of garbage after the last chunk");

    app.add_flag("--finalised", command.finalised,
                 "Close the recording properly: true counts, movi size, idx1, RIFF size (default: cut off)");
    app.add_option("--counts", command.counts, "zero (avih flags/frames and both strh dwLength 0) or true")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, HeaderCounts>{{"zero", HeaderCounts::Zero}, {"true", HeaderCounts::True}}))
        ->option_text("zero|true");
    app.add_option("--index", command.index, "none or idx1 (offsets from the 'movi' word)")
        ->transform(CLI::CheckedTransformer(std::map<std::string, IndexPresence>{
            {"none", IndexPresence::Missing}, {"idx1", IndexPresence::Written}}))
        ->option_text("none|idx1");
    app.add_option("--movi-size", command.moviSize,
                   "movi list size field: zero, header (4), true, or a number");
    app.add_option("--riff-size", command.riffSize,
                   "RIFF size field: zero, header (the header block only), true, or a number");
    app.add_option("--cut", command.cutBytes, "Cut this many bytes off the end of the finished file");

    app.add_flag("--companion", command.companion, "Also write the companion NAME.sub beside the recording");
    app.add_option(
        "--payloads", command.payloadDirectory,
        "Folder of the payload files (default: $CLIPWRIGHT_PAYLOAD_DIR, else the tree's tests/data)");
    app.add_flag("--chunk-list", command.chunkList,
                 "Print every chunk written as: id, position, size field (tab-separated)");
}

int Run(const CommandLine& command) {
    const Resolution payloadSize = ParseResolution(command.resolution);
    const MediaPayloads payloads =
        command.payloadDirectory.empty()
            ? LoadPayloads(payloadSize.width, payloadSize.height)
            : LoadPayloads(payloadSize.width, payloadSize.height, command.payloadDirectory);

    HeaderOptions header;
    header.layout = command.layout;
    const Resolution headerSize =
        command.headerSize.empty() ? payloadSize : ParseResolution(command.headerSize);
    header.width = headerSize.width;
    header.height = headerSize.height;
    header.videoScale = command.headerScale.value_or(1000);
    header.videoRate = command.headerRate.value_or(command.fps * 1000);
    header.audioHeader = command.audioHeader;
    header.otherListType = ParseFourCC(command.listType);
    header.lostHeaderDataStart = command.dataStart;
    header.lostHeaderFill = command.lostFill;

    FinishOptions finish = command.finalised ? FinishOptions::Finalised() : FinishOptions::CutOff();
    if (command.counts)
        finish.counts = *command.counts;
    if (command.index)
        finish.index = *command.index;
    if (!command.moviSize.empty())
        finish.moviSize = ParseSizeField(command.moviSize, "--movi-size");
    if (!command.riffSize.empty())
        finish.riffSize = ParseSizeField(command.riffSize, "--riff-size");
    finish.cutBytes = command.cutBytes;

    CameraSequenceOptions sequenceOptions;
    sequenceOptions.videoFrameCount = command.targetSize ? UINT64_MAX : command.frames;
    sequenceOptions.frameScale = 1000;
    sequenceOptions.frameRate = command.fps * 1000;
    sequenceOptions.repeatEvery = command.repeatEvery;
    sequenceOptions.repeatAt.insert(command.repeatAt.begin(), command.repeatAt.end());
    CameraSequence sequence(payloads, sequenceOptions);

    const std::map<uint64_t, uint32_t> lyingSizes = ParseSizeFieldLies(command.lyingSizes);
    const ChunkOptions plainChunk{command.padOdd ? OddSizePad::PadByte : OddSizePad::None, std::nullopt};

    RecordingWriter writer(command.output, header, command.chunkList ? ChunkLog::Keep : ChunkLog::CountOnly);
    uint64_t chunkNumber = 0;
    while (!command.targetSize || writer.Position() < *command.targetSize) {
        const std::optional<CameraChunk> chunk = sequence.Next();
        if (!chunk)
            break;
        ChunkOptions options = plainChunk;
        if (const auto lie = lyingSizes.find(chunkNumber); lie != lyingSizes.end())
            options.sizeField = lie->second;
        writer.AppendChunk(chunk->id, chunk->payload, options);
        ++chunkNumber;
    }
    if (command.trailingGarbage > 0) {
        std::vector<uint8_t> garbage(command.trailingGarbage);
        uint32_t state = 12345;
        for (uint8_t& byte : garbage) {
            state = state * 1103515245U + 12345U;
            byte = static_cast<uint8_t>(state >> 24);
        }
        writer.AppendRaw(garbage);
    }
    const RecordingSummary summary = writer.Finish(finish);

    if (command.companion)
        WriteCompanionFile(command.output, SampleCompanionBytes(command.output));

    if (command.chunkList) {
        for (const ChunkRecord& record : summary.chunks)
            std::cout << record.id.Quoted() << '\t' << record.position << '\t' << record.sizeField << '\n';
    }
    std::cerr << "wrote " << command.output << ": " << summary.videoCount << " video and "
              << summary.audioCount << " audio chunks, " << summary.fileSize << " bytes\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Writes one QC-7 camera recording (AVI with MPEG-4 video and MS-ADPCM audio), intact or "
                 "damaged as a cut-off recording is, from the stored test payloads."};
    app.footer(
        "Examples:\n"
        "  clipwright-recgen cut.avi                          40 frames, cut off: zero counts, no idx1\n"
        "  clipwright-recgen done.avi --finalised             a properly closed recording\n"
        "  clipwright-recgen big.avi --size 1G --repeat-every 5\n"
        "  clipwright-recgen lost.avi --layout header-lost --data-start 5000 --lost-fill garbage\n"
        "  clipwright-recgen torn.avi --resolution 320x240 --cut 100 --companion");
    CommandLine command;
    AddOptions(app, command);
    CLI11_PARSE(app, argc, argv);

    try {
        return Run(command);
    } catch (const std::exception& error) {
        std::cerr << "clipwright-recgen: " << error.what() << '\n';
    }
    return 1;
}
