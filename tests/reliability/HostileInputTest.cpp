// Damage no camera writes: filler in the middle of the data, sizes at every extreme, files of a
// few bytes, a recording of 1.9 GiB. The job ends cleanly, keeps the footage and stays within its
// memory bound.
#include "AllocationCounter.h"
#include "AviReader.h"
#include "ReaderOracles.h"
#include "Scenarios.h"
#include "TruthWalk.h"
#include "avi/AviMuxer.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

// Heap a job may hold: the index list (16 bytes an entry, by blocks) and, for a rebuild, the read
// and write blocks (1 MiB each), the writer's index and the largest payload; plus a constant.
constexpr size_t kHeapConstant = 3u << 20;

size_t HeapBound(size_t chunks, size_t fileSize) {
    return kHeapConstant + 64 * chunks + fileSize;
}

struct Job {
    RecordingHost host;
    RepairEngine fixer;
    size_t peakHeap = 0;

    Job() {
        host.answer = {{kResolutionQqvga, 15}};
        fixer.SetHost(&host);
    }
    void Run(const fs::path& path, bool replace) {
        const size_t before = HeapBytesInUse();
        ResetPeakHeapBytes();
        fixer.RunFixJob(FixRequest{path.string(), path.filename().string(),
                                   replace ? OutputMode::ReplaceOriginal : OutputMode::NewFile});
        peakHeap = PeakHeapBytes() - before;
    }
};

// A recording of 160x112 camera chunks with one extra chunk spliced in before chunk `at`.
struct Splice {
    FourCC id;
    Bytes payload;
};

recgen::RecordingSummary WriteWithSplice(const fs::path& path, recgen::HeaderLayout layout, uint64_t frames,
                                         size_t at, const std::vector<Splice>& splices) {
    recgen::HeaderOptions header;
    header.layout = layout;
    header.width = 160;
    header.height = 112;
    recgen::RecordingWriter writer(path, header);
    recgen::CameraSequenceOptions options;
    options.videoFrameCount = frames;
    recgen::CameraSequence sequence(PayloadsFor(160, 112), options);
    size_t index = 0;
    while (auto chunk = sequence.Next()) {
        if (index++ == at)
            for (const Splice& splice : splices)
                writer.AppendChunk(splice.id, splice.payload);
        writer.AppendChunk(chunk->id, chunk->payload);
    }
    return writer.Finish(recgen::FinishOptions::CutOff());
}

size_t MediaChunks(const recgen::RecordingSummary& summary) {
    return static_cast<size_t>(summary.videoCount + summary.audioCount);
}

class FillerInTheMiddle : public ::testing::TestWithParam<const char*> {};

TEST_P(FillerInTheMiddle, IsSteppedOverAndNothingBehindItIsOverwritten) {
    const FourCC filler = FourCC::FromBytes(reinterpret_cast<const uint8_t*>(GetParam()));
    for (bool replace : {true, false}) {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        auto summary =
            WriteWithSplice(clip, recgen::HeaderLayout::Standard, 20, 15, {{filler, Bytes(48, 0x11)}});
        const Bytes before = ReadBytes(clip);
        Job job;
        job.Run(clip, replace);
        EXPECT_TRUE(job.host.messages.empty());
        const fs::path output = replace ? clip : dir / "fix_clip.avi";
        const Bytes after = ReadBytes(output);
        EXPECT_TRUE(std::equal(before.begin() + 2060, before.end(), after.begin() + 2060))
            << "nothing overwritten";
        EXPECT_EQ(job.fixer.LastOutcome().videoChunks + job.fixer.LastOutcome().audioChunks,
                  MediaChunks(summary));
        auto streams = Probe(output);
        EXPECT_EQ(streams["video"].packets, summary.videoCount);
        EXPECT_EQ(DecodeErrors(output), "");
    }
    // The rebuild copies on past it too, so replacing never drops what follows.
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    auto summary = WriteWithSplice(clip, recgen::HeaderLayout::Shifted, 20, 15, {{filler, Bytes(48, 0x11)}});
    Job job;
    job.Run(clip, true);
    EXPECT_TRUE(job.host.messages.empty());
    EXPECT_EQ(Probe(clip)["audio"].packets, summary.audioCount);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"});
}

INSTANTIATE_TEST_SUITE_P(Words, FillerInTheMiddle, ::testing::Values("JUNK", "idx1"));

struct ExtremeSize {
    uint32_t size;
    size_t position; // chunk number the lying size goes to: first, middle or last
};

class ExtremeChunkSize : public ::testing::TestWithParam<std::tuple<uint32_t, int, Scenario>> {};

TEST_P(ExtremeChunkSize, EndsCleanlyKeepsTheFootageAndStaysInItsMemoryBound) {
    const auto& [size, where, scenario] = GetParam();
    ScenarioFolder folder(scenario, 10);
    // Rewrite the recording with one size field changed.
    recgen::HeaderOptions header;
    header.layout = scenario.layout;
    header.width = 160;
    header.height = 112;
    const fs::path clip = folder.Recording();
    size_t chunks = 0;
    {
        recgen::RecordingWriter writer(clip, header);
        recgen::CameraSequenceOptions options;
        options.videoFrameCount = 10;
        recgen::CameraSequence sequence(PayloadsFor(160, 112), options);
        std::vector<recgen::CameraChunk> all;
        while (auto chunk = sequence.Next())
            all.push_back(*chunk);
        chunks = all.size();
        const size_t target = where == 0 ? 0 : where == 1 ? all.size() / 2 : all.size() - 1;
        for (size_t i = 0; i < all.size(); ++i) {
            recgen::ChunkOptions options2;
            if (i == target)
                options2.sizeField = size;
            writer.AppendChunk(all[i].id, all[i].payload, options2);
        }
        writer.Finish(recgen::FinishOptions::CutOff());
    }
    const Bytes original = ReadBytes(clip);
    for (const auto& entry : fs::directory_iterator(folder.Folder()))
        if (entry.path() != clip)
            fs::remove(entry.path());

    RecordingHost host;
    host.answer = {{kResolutionQqvga, 15}};
    RepairEngine fixer;
    fixer.SetHost(&host);
    const size_t before = HeapBytesInUse();
    ResetPeakHeapBytes();
    fixer.RunFixJob(FixRequest{clip.string(), "clip.avi",
                               scenario.replace ? OutputMode::ReplaceOriginal : OutputMode::NewFile});
    const size_t peak = PeakHeapBytes() - before;

    EXPECT_LE(peak, HeapBound(chunks, original.size()));
    EXPECT_TRUE(folder.OnlyDocumentedFiles());
    const bool inPlace = scenario.layout == recgen::HeaderLayout::Standard && scenario.replace;
    if (inPlace) {
        const Bytes after = ReadBytes(clip);
        // Footage stays where it was; only damaged bytes the walk stepped over start with a JUNK
        // header now, so that readers step over them too.
        Bytes expected = original;
        for (const DamagedStretch& stretch : fixer.LastOutcome().walk.damaged) {
            if (stretch.bytes >= 8)
                std::copy_n(after.begin() + static_cast<ptrdiff_t>(stretch.offset), 8,
                            expected.begin() + static_cast<ptrdiff_t>(stretch.offset));
            EXPECT_EQ(std::string(after.begin() + static_cast<ptrdiff_t>(stretch.offset),
                                  after.begin() + static_cast<ptrdiff_t>(stretch.offset) + 4),
                      stretch.bytes >= 8
                          ? "JUNK"
                          : std::string(original.begin() + static_cast<ptrdiff_t>(stretch.offset),
                                        original.begin() + static_cast<ptrdiff_t>(stretch.offset) + 4));
        }
        EXPECT_TRUE(std::equal(expected.begin() + 2060, expected.end(), after.begin() + 2060));
        EXPECT_LT(after.size(), original.size() + (2u << 20)) << "no gigabytes of zeros";
    } else if (scenario.replace && fixer.LastOutcome().status != FixStatus::Repaired) {
        EXPECT_EQ(ReadBytes(clip), original) << "a stopped rebuild puts the recording back";
    } else if (!scenario.replace) {
        EXPECT_EQ(ReadBytes(clip), original);
    }
    for (const std::string name : {"clip.avi", "fix_clip.avi"}) {
        const fs::path output = folder.Folder() / name;
        if (fs::exists(output) && (name != "clip.avi" || scenario.replace) &&
            fixer.LastOutcome().status != FixStatus::Failed && !fs::is_empty(output)) {
            // The damaged chunk's bytes need not decode; the file must still open.
            EXPECT_FALSE(Probe(output).empty()) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ExtremeChunkSize,
    ::testing::Combine(::testing::Values(0u, 1u, 3u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu),
                       ::testing::Values(0, 1, 2), ::testing::ValuesIn(CameraScenarios())),
    [](const auto& param) {
        return std::get<2>(param.param).name + std::string("_") + std::to_string(std::get<0>(param.param)) +
               "_at" + std::to_string(std::get<1>(param.param));
    });

TEST(TinyFiles, OfEveryAwkwardLengthEndCleanly) {
    ScratchDir source;
    CameraRecordingPlan plan;
    plan.header.width = 160;
    plan.header.height = 112;
    WriteCameraRecording(source / "full.avi", plan);
    const Bytes full = ReadBytes(source / "full.avi");
    std::vector<Bytes> files;
    for (size_t length : {1u, 2047u, 2048u, 2051u, 2052u, 2059u, 2060u, 2063u})
        files.emplace_back(full.begin(), full.begin() + static_cast<ptrdiff_t>(length));
    files.push_back(Bytes{'L', 'I', 'S', 'T'});
    Bytes idAtTheEnd = full;
    idAtTheEnd.insert(idAtTheEnd.end(), {'0', '0', 'd'});
    files.push_back(idAtTheEnd);

    for (const Bytes& bytes : files) {
        for (bool replace : {true, false}) {
            ScratchDir dir;
            const fs::path clip = dir / "clip.avi";
            WriteBytes(clip, bytes);
            Job job;
            job.Run(clip, replace);
            const std::string what =
                std::to_string(bytes.size()) + " bytes, replace " + std::to_string(replace);
            EXPECT_LE(job.peakHeap, HeapBound(100, bytes.size())) << what;
            const Bytes after = ReadBytes(clip);
            if (!replace || bytes.size() < 2060) {
                EXPECT_EQ(after, bytes) << what;
            } else {
                EXPECT_TRUE(std::equal(bytes.begin() + 2060, bytes.end(), after.begin() + 2060)) << what;
            }
            if (job.fixer.LastOutcome().status == FixStatus::Repaired) {
                const fs::path output = replace ? clip : dir / "fix_clip.avi";
                EXPECT_EQ(DecodeErrors(output), "") << what;
            } else {
                EXPECT_FALSE(job.host.messages.empty()) << what << ": a job that repairs nothing says so";
            }
        }
    }
}

TEST(LargeRecording, Of1Point9GiBIsRepairedInPlaceWithinItsMemoryBound) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "too slow under the sanitizers";
#else
    ScratchDir dir;
    const fs::path clip = dir / "big.avi";
    CameraRecordingPlan plan;
    plan.header.width = 160;
    plan.header.height = 112;
    auto summary = WriteCameraRecording(clip, plan);
    const uint64_t size = 1900ull << 20; // zeros behind the footage, as a sparse file
    fs::resize_file(clip, size);
    Job job;
    job.Run(clip, true);
    EXPECT_TRUE(job.host.messages.empty());
    EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired);
    EXPECT_LE(job.peakHeap, HeapBound(MediaChunks(summary), 0));
    EXPECT_GE(fs::file_size(clip), size);
    EXPECT_LT(fs::file_size(clip), size + (1u << 20));
    // The index stands behind the zeros and lists every chunk (a player would take long to say so).
    Bytes index(8);
    int fd = ::open(clip.c_str(), O_RDONLY);
    ASSERT_EQ(::pread(fd, index.data(), index.size(), static_cast<off_t>(size)), 8);
    ::close(fd);
    EXPECT_EQ(std::string(index.begin(), index.begin() + 4), "idx1");
    EXPECT_EQ(U32At(index, 4), 16 * MediaChunks(summary));
#endif
}

// A rebuild past the part size (lowered here from 1 GiB) goes on in OpenDML parts: every part is
// indexed, and every reader plays the new file in full.
TEST(LargeRecording, WhoseRebuildPassesThePartSizeIsWrittenInPartsEveryReaderPlaysInFull) {
    ScratchDir dir;
    const fs::path clip = dir / "big.avi";
    CameraRecordingPlan plan;
    plan.header.layout = recgen::HeaderLayout::Shifted;
    plan.header.width = 160;
    plan.header.height = 112;
    plan.sequence.videoFrameCount = 300;
    const recgen::RecordingSummary summary = WriteCameraRecording(clip, plan);

    AviMuxer::SetPartSizeForTests(32 * 1024);
    Job job;
    job.Run(clip, true);
    AviMuxer::SetPartSizeForTests(0);

    EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired);
    EXPECT_TRUE(job.host.messages.empty());
    const Truth truth = TruthWalk(clip);
    EXPECT_GE(truth.parts, 3u);
    ExpectEveryPartIndexed(clip, truth);
    ASSERT_EQ(truth.streams.size(), 2u);
    EXPECT_EQ(truth.streams[0].chunks, summary.videoCount + 1) << "the empty frame before the first";
    EXPECT_EQ(truth.streams[1].chunks, summary.audioCount);
    const std::map<int, StreamPackets> packets = ProbePackets(clip);
    ASSERT_EQ(packets.size(), 2u);
    for (size_t stream = 0; stream < 2; ++stream) {
        const StreamPackets& read = packets.at(static_cast<int>(stream));
        EXPECT_EQ(read.count, truth.streams[stream].nonEmptyChunks) << stream;
        EXPECT_EQ(read.bytes, truth.streams[stream].payloadBytes) << stream;
    }
    const double seconds = truth.streams[0].Seconds();
    const std::optional<double> gstreamer = GStreamerSeconds(clip);
    ASSERT_TRUE(gstreamer.has_value()) << "GStreamer reports no duration";
    EXPECT_NEAR(*gstreamer, seconds, 1.0);
    const std::optional<double> mplayer = MPlayerSeconds(clip);
    ASSERT_TRUE(mplayer.has_value()) << "MPlayer reports no length";
    EXPECT_NEAR(*mplayer, seconds, 1.0);
}

// More damaged data than the walk searches through: the repair says where it stopped, exits as not
// repaired, and a replace keeps the recording as it was.
TEST(LargeRecording, DamageLongerThanTheSearchEndsTheRepairHonestly) {
    for (recgen::HeaderLayout layout : {recgen::HeaderLayout::Standard, recgen::HeaderLayout::Shifted}) {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        CameraRecordingPlan plan;
        plan.header.layout = layout;
        plan.header.width = 160;
        plan.header.height = 112;
        plan.sequence.videoFrameCount = 8;
        WriteCameraRecording(clip, plan);
        const uint64_t damageAt = fs::file_size(clip);
        {
            std::ofstream out(clip, std::ios::binary | std::ios::app);
            const std::string garbage(1 << 20, '\x55');
            for (uint64_t written = 0; written <= kResyncSearchLimit; written += garbage.size())
                out << garbage;
        }
        const Bytes before = ReadBytes(clip);

        Job job;
        job.Run(clip, true);

        EXPECT_EQ(job.fixer.LastOutcome().walk.end, clipwright::WalkEnd::GaveUp);
        EXPECT_EQ(job.fixer.LastOutcome().walk.endOffset, damageAt);
        EXPECT_NE(job.fixer.LastOutcome().status, FixStatus::Repaired);
        ASSERT_FALSE(job.host.messages.empty());
        EXPECT_NE(job.host.messages.back().text.find("stopped at offset " + std::to_string(damageAt)),
                  std::string::npos)
            << job.host.messages.back().text;
        const Bytes after = ReadBytes(clip);
        if (layout == recgen::HeaderLayout::Standard) {
            EXPECT_TRUE(std::equal(before.begin() + 2060, before.end(), after.begin() + 2060))
                << "in place: only the header and an index behind everything are written";
        } else {
            EXPECT_TRUE(after == before) << "a replace keeps the recording";
            EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"});
        }
    }
}

} // namespace
} // namespace clipwright::test
