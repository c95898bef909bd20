#include "FailingAllocations.h"

#include <cstdlib>

namespace {

// How many MemoryRunsOut of this thread are alive.
thread_local int shortages = 0;

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

namespace clipwright::ui::test {

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
