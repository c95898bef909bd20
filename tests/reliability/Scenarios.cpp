#include "Scenarios.h"

#include <algorithm>
#include <set>

namespace clipwright::test {

namespace fs = std::filesystem;

const std::vector<Scenario>& AllScenarios() {
    static const std::vector<Scenario> scenarios = {
        {"StandardNewFile", recgen::HeaderLayout::Standard, false},
        {"StandardReplace", recgen::HeaderLayout::Standard, true},
        {"ShiftedNewFile", recgen::HeaderLayout::Shifted, false},
        {"ShiftedReplace", recgen::HeaderLayout::Shifted, true},
        {"HeaderLostReplace", recgen::HeaderLayout::HeaderLost, true},
    };
    return scenarios;
}

ScenarioFolder::ScenarioFolder(const Scenario& scenario, uint64_t frames, const fs::path& root)
    : scenario_(scenario), dir_(root) {
    CameraRecordingPlan plan;
    plan.header.layout = scenario.layout;
    plan.header.width = 160;
    plan.header.height = 112;
    plan.sequence.videoFrameCount = frames;
    plan.sequence.repeatEvery = 4;
    WriteCameraRecording(Recording(), plan);
    original_ = ReadBytes(Recording());
    companion_ = Bytes{'s', 'u', 'b'};
    Reset();
}

void ScenarioFolder::Reset() const {
    for (const auto& entry : fs::directory_iterator(dir_.Path()))
        fs::remove_all(entry.path());
    WriteBytes(Recording(), original_);
    WriteBytes(dir_ / "clip.sub", companion_);
}

namespace {

class AnsweringHost : public RecordingHost {
public:
    AnsweringHost() { answer = {{kResolutionQqvga, 15}}; }
};

} // namespace

FixOutcome ScenarioFolder::Run(std::vector<std::string>* messages) const {
    AnsweringHost host;
    RepairEngine fixer;
    fixer.SetHost(&host);
    IndexEntryList entries;
    fixer.RunFixJob(FixRequest{Recording().string(), "clip.avi",
                               scenario_.replace ? OutputMode::ReplaceOriginal : OutputMode::NewFile,
                               &entries});
    if (messages != nullptr)
        for (const auto& message : host.messages)
            messages->push_back(message.text);
    return fixer.LastOutcome();
}

::testing::AssertionResult ScenarioFolder::FootageSurvives() const {
    const bool inPlace = scenario_.layout == recgen::HeaderLayout::Standard && scenario_.replace;
    for (const char* name : {"clip.avi", "tmp_clip.avi"}) {
        const fs::path candidate = dir_ / name;
        if (!fs::is_regular_file(candidate))
            continue;
        const Bytes bytes = ReadBytes(candidate);
        if (inPlace && bytes.size() >= original_.size() &&
            std::equal(original_.begin() + 2060, original_.end(), bytes.begin() + 2060))
            return ::testing::AssertionSuccess();
        if (!inPlace && bytes == original_)
            return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the footage is in neither clip.avi nor tmp_clip.avi";
}

::testing::AssertionResult ScenarioFolder::OnlyDocumentedFiles() const {
    static const std::set<std::string> documented = {"clip.avi",
                                                     "clip.sub",
                                                     "fix_clip.avi",
                                                     "fix_clip.sub",
                                                     "tmp_clip.avi",
                                                     ".fix_clip.avi.partial",
                                                     ".fix_clip.sub.partial",
                                                     ".clip.avi.partial"};
    for (const std::string& name : dir_.Names())
        if (documented.count(name) == 0)
            return ::testing::AssertionFailure() << "unexpected file " << name;
    return ::testing::AssertionSuccess();
}

} // namespace clipwright::test
