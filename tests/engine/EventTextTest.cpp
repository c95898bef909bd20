// Every event the engine reports has its sentence, and each value the event carries ends up in it.
#include "text/EventText.h"
#include "repair/EngineEvent.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace clipwright {
namespace {

struct Case {
    EngineEvent event;
    const char* says; // a part of the sentence that only the right values give
};

TEST(EventText, EveryCodeHasItsSentenceWithItsValues) {
    WalkSummary damage;
    damage.damaged = {{72192, 512}};
    damage.end = WalkEnd::NoChunkBehind;
    damage.endOffset = 90000;
    const std::vector<Case> cases = {
        {{.code = EventCode::FileError, .fileCause = filecause::kDiskFull}, "ERROR: disk full !"},
        {{.code = EventCode::FileError, .fileCause = 99}, "ERROR: An unspecified error occurred."},
        {{.code = EventCode::UnderTemporaryName, .path = "/d/a.avi", .temporaryName = "/d/tmp_a.avi"},
         "not at \"a.avi\", but \"tmp_a.avi\" stands beside it"},
        {{.code = EventCode::Empty}, "This file is empty"},
        {{.code = EventCode::NotAvi, .foreign = ForeignKind::Pdf}, "not an AVI file: it is a PDF document."},
        {{.code = EventCode::ReplacingThroughLink}, "symbolic link"},
        {{.code = EventCode::OpenForWriting}, "open for writing"},
        {{.code = EventCode::ChangedWhileRead}, "changed while Clipwright was reading it"},
        {{.code = EventCode::RepairRunning}, "being repaired by another Clipwright window"},
        {{.code = EventCode::CopyNotMade, .outputPath = "/d/fix_a.avi", .systemError = ENOSPC},
         "copied to \"fix_a.avi\" (No space left on device)"},
        {{.code = EventCode::TemporaryNameBlocked, .temporaryName = "/d/tmp_a.avi", .systemError = EEXIST},
         "renamed to \"tmp_a.avi\" for the repair (File exists)"},
        {{.code = EventCode::OutputNotCreated, .outputPath = "/d/fix_a.avi"},
         "\"fix_a.avi\" could not be created"},
        {{.code = EventCode::NothingFound}, "No recording data was found"},
        {{.code = EventCode::NoRepairNeeded}, "it needed no repair"},
        {{.code = EventCode::OutOfMemory}, "not enough memory to repair"},
        {{.code = EventCode::CheckOutOfMemory}, "not enough memory to check"},
        {{.code = EventCode::NewNameNotOnDisk,
          .outputPath = "/d/a.avi",
          .temporaryName = "/d/tmp_a.avi",
          .systemError = EIO},
         "on the disk (Input/output error). The recording was kept as \"tmp_a.avi\"."},
        {{.code = EventCode::CopyStopped,
          .systemError = ENOSPC,
          .offset = 4096,
          .copyStop = CopyStop::NotWritten,
          .recordingRestored = true},
         "stopped at offset 4096: the new file could not be written (No space left on device). The recording "
         "was left as it was."},
        {{.code = EventCode::CopyStopped, .offset = 8, .copyStop = CopyStop::Damaged},
         "256 MB behind it. The new file holds what was copied before that point."},
        {{.code = EventCode::InPlaceStopped, .offset = 5000, .chunks = 42},
         "stopped at offset 5000: the data there is damaged, and no chunk was found in the 256 MB behind it. "
         "The index covers the 42 chunks"},
        {{.code = EventCode::SkippedData, .inPlace = true, .walk = damage},
         "512 bytes of damaged data skipped at offset 72192. The chunks before and behind it were indexed. "
         "The "
         "bytes from offset 90000"},
        {{.code = EventCode::ReferenceUnfit,
          .outputPath = "/d/good.avi",
          .referenceMisfit = ReferenceMisfit::NoSound},
         "The reference recording \"good.avi\" does not fit this recording: this recording holds sound, and "
         "the "
         "reference has no sound stream after its video. The recording was left as it was."},
        {{.code = EventCode::StreamsUnknown, .streamGap = StreamGap::SampleRate},
         "chunks do not say at what rate its sound was sampled, so no header that fits them can be written. "
         "The recording was left as it was."},
        {{.code = EventCode::OtherRecorderRepaired,
          .outputPath = "/d/fix_a.avi",
          .findings = {2, 1234, 94.6, false, CopyReason::None, false, {}}},
         "AVI from another recorder: 2 streams, 1,234 video frames, 95 s of audio, index rebuilt in the new "
         "file \"fix_a.avi\"."},
        {{.code = EventCode::OtherRecorderRepaired,
          .outputPath = "/d/a.avi",
          .findings = {2, 3, 1.0, false, CopyReason::None, true, {}}},
         "index rebuilt in the original file \"a.avi\"."},
        {{.code = EventCode::OtherRecorderRepaired,
          .outputPath = "/d/a.avi",
          .findings = {2, 10, 1.0, false, CopyReason::PartsNotListable, true, {}}},
         "no room to list every part, so it was written anew as an OpenDML file with every part indexed, "
         "which replaced the original file \"a.avi\"."},
        {{.code = EventCode::OtherRecorderRepaired,
          .outputPath = "/d/fix_a.avi",
          .findings = {2, 10, 1.0, false, CopyReason::FormTooLarge, false, {}}},
         "2 GB or more in a single RIFF part, more than players read in a file of its kind, so it was "
         "written "
         "anew as an OpenDML file with every part indexed, as the new file \"fix_a.avi\"."},
        {{.code = EventCode::OtherRecorderRepaired,
          .outputPath = "/d/fix_a.avi",
          .findings = {1, 40, std::nullopt, false, CopyReason::None, false, UnknownKeyFrames{"cvid", 0}}},
         "40 video frames, index rebuilt in the new file \"fix_a.avi\". Key frames after the first are "
         "unknown for this codec (cvid)."},
        {{.code = EventCode::OtherRecorderRepaired,
          .findings = {1, 40, std::nullopt, false, CopyReason::None, false, UnknownKeyFrames{"cvid", 12}}},
         "Key frames after the first 12 video frames are unknown for this codec (cvid)."},
    };
    std::set<EventCode> covered;
    for (const Case& c : cases) {
        EXPECT_NE(EventText(c.event).find(c.says), std::string::npos)
            << "code " << static_cast<int>(c.event.code) << " says: " << EventText(c.event);
        EXPECT_EQ(IsFinding(c.event.code), c.event.code == EventCode::OtherRecorderRepaired);
        covered.insert(c.event.code);
    }
    EXPECT_EQ(covered.size(), static_cast<size_t>(kEventCodeCount)) << "a code has no case here";
}

} // namespace
} // namespace clipwright
