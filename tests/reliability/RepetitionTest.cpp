// The desktop program's engine lives for the whole run: a thousand repairs in a row must not make
// it hold more memory or more open files.
#include "AllocationCounter.h"
#include "Scenarios.h"

#include <gtest/gtest.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST(Repetition, AThousandRepairsHoldNoMoreMemoryOrFilesThanTheFirstHundred) {
    std::vector<std::unique_ptr<ScenarioFolder>> folders;
    for (const Scenario& scenario : AllScenarios())
        folders.push_back(std::make_unique<ScenarioFolder>(scenario, 6));
    RecordingHost host;
    host.answer = {{kResolutionQqvga, 15}};
    RepairEngine fixer; // one engine for every job, as in the desktop program
    fixer.SetHost(&host);
    const auto& scenarios = AllScenarios();

    size_t heapAfterWarmUp = 0;
    size_t filesAfterWarmUp = 0;
    for (int repair = 1; repair <= 1000; ++repair) {
        const size_t which = static_cast<size_t>(repair) % scenarios.size();
        folders[which]->Reset();
        fixer.RunFixJob(
            FixRequest{folders[which]->Recording().string(), "clip.avi",
                       scenarios[which].replace ? OutputMode::ReplaceOriginal : OutputMode::NewFile});
        ASSERT_EQ(fixer.LastOutcome().status, FixStatus::Repaired) << "repair " << repair;
        host.messages.clear();
        if (repair == 100) {
            heapAfterWarmUp = HeapBytesInUse();
            filesAfterWarmUp = OpenDescriptors();
        }
    }
    std::cout << "[figures] repetition: heap after 100 repairs " << heapAfterWarmUp << " bytes, after 1000 "
              << HeapBytesInUse() << "; open files " << filesAfterWarmUp << " and " << OpenDescriptors()
              << "\n";
    // Any allocation a job kept would have grown the heap by at least 900 bytes over 900 jobs.
    EXPECT_LT(HeapBytesInUse(), heapAfterWarmUp + 900);
    EXPECT_EQ(OpenDescriptors(), filesAfterWarmUp);
}

} // namespace
} // namespace clipwright::test
