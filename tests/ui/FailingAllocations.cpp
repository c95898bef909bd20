#include "FailingAllocations.h"

#include <cstdlib>

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// ThreadSanitizer does not see Qt's own hand-overs between its threads; it tells them from ours by
// the frames they run in, and every allocation routed through this file would be counted as ours.
// AddressSanitizer keeps its own books of every operator new: Qt's blocks from the variants not
// replaced here (nothrow, aligned) would come back through this file's delete and be reported as
// mismatched, now and then, depending on what Qt allocates.
#define CLIPWRIGHT_FAILING_ALLOCATIONS 0
#else
#define CLIPWRIGHT_FAILING_ALLOCATIONS 1
#endif

namespace {

// How many MemoryRunsOut of this thread are alive.
thread_local int shortages = 0;

} // namespace

#if CLIPWRIGHT_FAILING_ALLOCATIONS

namespace {

void* Allocate(std::size_t size) {
    if (shortages > 0)
        throw std::bad_alloc();
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

} // namespace

// The whole test program allocates through these, Qt included; only a thread with a shortage fails.
void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

#endif

namespace clipwright::ui::test {

bool MemoryRunsOut::FailsAllocations() {
    return CLIPWRIGHT_FAILING_ALLOCATIONS != 0;
}

MemoryRunsOut::MemoryRunsOut() {
    ++shortages;
}

MemoryRunsOut::MemoryRunsOut(const MemoryRunsOut& other) : std::bad_alloc(other) {
    ++shortages;
}

MemoryRunsOut::~MemoryRunsOut() {
    --shortages;
}

} // namespace clipwright::ui::test
