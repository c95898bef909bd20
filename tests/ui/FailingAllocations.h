// Allocations that fail as on a machine out of memory: on the thread that throws a MemoryRunsOut,
// every allocation fails from the throw until the handler that caught it is done, as when the memory
// comes back only once the failed work's stack is gone.
#pragma once

#include <new>

namespace clipwright::ui::test {

class MemoryRunsOut : public std::bad_alloc {
public:
    // False in a build where the program's allocations cannot be routed through the test's own
    // operator new (under ThreadSanitizer): there a MemoryRunsOut is a plain bad_alloc.
    static bool FailsAllocations();

    MemoryRunsOut();
    MemoryRunsOut(const MemoryRunsOut& other);
    ~MemoryRunsOut() override;
    MemoryRunsOut& operator=(const MemoryRunsOut&) = delete;
};

} // namespace clipwright::ui::test
