// A power cut at any point of a repair, modelled the way file systems can behave: a file's data is
// on disk only once it was synced, and a folder's entries only once the folder was synced; between
// folder syncs, any first part of the renames, creations and removals made since may have reached
// the disk. Whatever the cut, the footage must be under the recording's name or its temporary name.
#include "Scenarios.h"
#include "platform/FaultPoints.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;
using faults::Operation;

struct Event {
    Operation operation;
    std::string name;    // file name within the recording's folder
    std::string other;   // a rename's target
    uint64_t offset = 0; // a write's range
    uint64_t length = 0;
};

std::string NameOf(std::string_view path) {
    return fs::path(std::string(path)).filename().string();
}

std::vector<Event> TraceOf(const ScenarioFolder& folder) {
    std::vector<Event> trace;
    faults::Plan plan;
    plan.observe = [&](Operation operation, const faults::Access& access) {
        trace.push_back(
            {operation, NameOf(access.path), NameOf(access.otherPath), access.offset, access.length});
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

// The camera's repair indexes a cut last chunk too: a clean run gives the packets to read.
::testing::AssertionResult ReadsAsMuch(const fs::path& file, const Bytes& clean) {
    ScratchDir dir;
    WriteBytes(dir / "clean.avi", clean);
    std::map<std::string, uint64_t> read;
    std::map<std::string, uint64_t> expected;
    for (const auto& [type, stream] : Probe(file))
        read[type] = stream.packets;
    for (const auto& [type, stream] : Probe(dir / "clean.avi"))
        expected[type] = stream.packets;
    if (read == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "ffprobe reads " << ::testing::PrintToString(read) << " of "
                                         << ::testing::PrintToString(expected) << " packets";
}

// A repair in place writes into the recording itself, and of its writes since the recording was
// last synced, any may be missing after a cut. None may touch the footage; and a repair run again
// on whatever reached the disk, with any one of those writes missing, must complete the recording.
TEST(PowerCut, InPlaceNoWriteTouchesTheFootageAndARepairAfterAnyCutCompletes) {
    for (const Scenario& scenario : AllScenarios()) {
        if (!scenario.InPlace())
            continue;
        ScenarioFolder folder(scenario, 12);
        const std::vector<Event> trace = TraceOf(folder);
        const Bytes clean = ReadBytes(folder.Recording());
        const FootageSpan& footage = folder.Footage();
        std::vector<size_t> writes; // into the recording
        for (size_t i = 0; i < trace.size(); ++i) {
            const Event& event = trace[i];
            if (event.name != "clip.avi" || event.operation != Operation::Write)
                continue;
            writes.push_back(i);
            EXPECT_TRUE(footage.Spares(event.offset, event.length))
                << scenario.name << ": writes " << event.length << " bytes at " << event.offset;
        }
        // The disks this run can leave: each write either reached it or not, a synced one always.
        std::set<std::vector<bool>> disks;
        for (size_t cut = 0; cut <= trace.size(); ++cut) {
            std::vector<bool> reached(writes.size(), false);
            std::vector<size_t> unsynced;
            for (size_t w = 0; w < writes.size() && writes[w] < cut; ++w) {
                reached[w] = true;
                unsynced.push_back(w);
            }
            for (size_t i = 0; i < cut; ++i)
                if (trace[i].operation == Operation::Sync && trace[i].name == "clip.avi")
                    std::erase_if(unsynced, [&](size_t w) { return writes[w] < i; });
            disks.insert(reached);
            for (size_t missing : unsynced) {
                std::vector<bool> torn = reached;
                torn[missing] = false;
                disks.insert(torn);
            }
        }
        size_t lost = 0;
        for (const std::vector<bool>& reached : disks) {
            Bytes disk = folder.Original();
            for (size_t w = 0; w < writes.size(); ++w) {
                const Event& event = trace[writes[w]];
                if (!reached[w])
                    continue;
                // Each range is written once, with what the finished repair holds there.
                disk.resize(std::max<size_t>(disk.size(), event.offset + event.length));
                std::copy_n(clean.begin() + static_cast<ptrdiff_t>(event.offset), event.length,
                            disk.begin() + static_cast<ptrdiff_t>(event.offset));
            }
            folder.Reset();
            WriteBytes(folder.Recording(), disk);
            folder.Run();
            if (ReadBytes(folder.Recording()) == clean)
                continue;
            const auto full = scenario.source == Source::Camera ? ReadsAsMuch(folder.Recording(), clean)
                                                                : folder.ReadsInFull(folder.Recording());
            if (full)
                continue;
            ++lost;
            ADD_FAILURE() << scenario.name << ": with the writes " << ::testing::PrintToString(reached)
                          << " on the disk, a second run: " << full.message();
        }
        std::cout << "[figures] power cuts in place " << scenario.name << ": " << writes.size()
                  << " writes, disks tried " << disks.size() << ", repairs that did not complete " << lost
                  << "\n";
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
