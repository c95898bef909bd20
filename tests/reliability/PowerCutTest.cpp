// A power cut at any point of a repair, modelled the way file systems can behave: a file's data is
// on disk only once it was synced, and a folder's entries only once the folder was synced; between
// folder syncs, any first part of the renames, creations and removals made since may have reached
// the disk. Whatever the cut, the footage must be under the recording's name or its temporary name.
#include "Scenarios.h"
#include "platform/FaultPoints.h"

#include <gtest/gtest.h>
#include <map>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;
using faults::Operation;

struct Event {
    Operation operation;
    std::string name;  // file name within the recording's folder
    std::string other; // a rename's target
};

std::string NameOf(std::string_view path) {
    return fs::path(std::string(path)).filename().string();
}

std::vector<Event> TraceOf(const ScenarioFolder& folder) {
    std::vector<Event> trace;
    faults::Plan plan;
    plan.observe = [&](Operation operation, const faults::Access& access) {
        trace.push_back({operation, NameOf(access.path), NameOf(access.otherPath)});
    };
    folder.Reset();
    faults::Arm(plan);
    folder.Run();
    faults::Disarm();
    return trace;
}

constexpr int kRecordingFile = 0;

// Replays a run's operations on a model of one folder and checks every cut.
class FolderModel {
public:
    explicit FolderModel(std::vector<Event> trace) : trace_(std::move(trace)) {
        // Which file each operation touches. A name first met after its creation (the writer
        // creates its file without naming it to the fault points) is a file created just before.
        std::map<std::string, int> names = {{"clip.avi", kRecordingFile}, {"clip.sub", 1}};
        int next = 2;
        for (size_t i = 0; i < trace_.size(); ++i) {
            const Event& event = trace_[i];
            if (event.operation == Operation::Create || (!event.name.empty() && names.count(event.name) == 0))
                names[event.name] = next++;
            const int file = event.name.empty() ? -1 : names[event.name];
            fileOf_.push_back(file);
            if (event.operation == Operation::Rename) {
                names[event.other] = file;
                names.erase(event.name);
            } else if (event.operation == Operation::Remove) {
                names.erase(event.name);
            } else if (event.operation == Operation::Sync) {
                // A new file holds a whole repair once synced: the writer writes nothing after it
                // finishes, so a file's last sync comes after all it holds.
                syncedAt_[file] = i;
            }
        }
    }

    // Checks a cut before operation `cut`; returns what was lost, or an empty string.
    std::string CutBefore(size_t cut) const {
        std::map<std::string, int> names = {{"clip.avi", kRecordingFile}, {"clip.sub", 1}};
        std::map<std::string, int> durable = names;
        std::vector<size_t> pending; // folder changes since the last folder sync
        for (size_t i = 0; i < cut; ++i) {
            const Event& event = trace_[i];
            switch (event.operation) {
            case Operation::Create:
                names[event.name] = fileOf_[i];
                pending.push_back(i);
                break;
            case Operation::Rename:
                names[event.other] = fileOf_[i];
                names.erase(event.name);
                pending.push_back(i);
                break;
            case Operation::Remove:
                names.erase(event.name);
                pending.push_back(i);
                break;
            case Operation::SyncDirectory:
                durable = names;
                pending.clear();
                break;
            default:
                if (!event.name.empty() && fileOf_[i] >= 2)
                    names.try_emplace(event.name, fileOf_[i]);
                break;
            }
        }
        // Any first part of the pending changes may be on disk.
        for (size_t reached = 0; reached <= pending.size(); ++reached) {
            std::map<std::string, int> disk = durable;
            for (size_t k = 0; k < reached; ++k) {
                const Event& event = trace_[pending[k]];
                disk.erase(event.name);
                if (event.operation == Operation::Create)
                    disk[event.name] = fileOf_[pending[k]];
                else if (event.operation == Operation::Rename)
                    disk[event.other] = fileOf_[pending[k]];
            }
            if (!HoldsFootage(disk, "clip.avi", cut) && !HoldsFootage(disk, "tmp_clip.avi", cut))
                return "cut before operation " + std::to_string(cut) + " with " + std::to_string(reached) +
                       " of " + std::to_string(pending.size()) + " folder changes on disk";
        }
        return {};
    }

private:
    bool HoldsFootage(const std::map<std::string, int>& disk, const std::string& name, size_t cut) const {
        auto found = disk.find(name);
        if (found == disk.end())
            return false;
        if (found->second == kRecordingFile)
            return true;
        auto synced = syncedAt_.find(found->second);
        return synced != syncedAt_.end() && synced->second < cut;
    }

    std::vector<Event> trace_;
    std::vector<int> fileOf_;
    std::map<int, size_t> syncedAt_;
};

TEST(PowerCut, AtEveryPointTheFootageIsUnderTheRecordingsNameOrItsTemporaryName) {
    for (const Scenario& scenario : AllScenarios()) {
        ScenarioFolder folder(scenario, 12);
        const std::vector<Event> trace = TraceOf(folder);
        ASSERT_FALSE(trace.empty());
        FolderModel model(trace);
        size_t lost = 0;
        for (size_t cut = 0; cut <= trace.size(); ++cut) {
            const std::string loss = model.CutBefore(cut);
            if (!loss.empty()) {
                ++lost;
                ADD_FAILURE() << scenario.name << ": " << loss;
            }
        }
        std::cout << "[figures] power cuts " << scenario.name << ": cut at " << trace.size() + 1
                  << " points, every order of unsynced folder changes, recordings lost " << lost << "\n";
    }
}

// The model itself: a replace that removed the temporary name without syncing the new file first
// would lose the recording, and the model must say so.
TEST(PowerCut, TheModelSeesAnUnsyncedReplace) {
    const std::vector<Event> unsafe = {
        {Operation::Rename, "clip.avi", "tmp_clip.avi"}, {Operation::Create, ".clip.avi.partial", ""},
        {Operation::Write, ".clip.avi.partial", ""},     {Operation::Rename, ".clip.avi.partial", "clip.avi"},
        {Operation::Remove, "tmp_clip.avi", ""},         {Operation::SyncDirectory, ".", ""}};
    FolderModel model(unsafe);
    EXPECT_NE(model.CutBefore(unsafe.size()), "");
    EXPECT_EQ(model.CutBefore(1), "");
}

} // namespace
} // namespace clipwright::test
