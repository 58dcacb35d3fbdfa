// Tracked memory: records every long-lived block of a run in one table, so
// that the end of the run releases them all, whichever way it ends.
#include "base/tracked_memory.hpp"

#include <cstdlib>
#include <cstring>

#include "base/output.hpp"

namespace vexil {

namespace {
// Makes room for one more slot, growing the table by 200 slots when full.
void reserve_slot(TrackedMemory& memory) {
    if (memory.capacity > memory.count) return;
    int new_capacity = memory.capacity + kTrackedTableStep;
    void* grown = std::realloc(memory.table, sizeof(void*) * std::size_t(new_capacity));
    // Without a larger table the new block could not be recorded, so the run
    // cannot go on.
    if (grown == nullptr) fatal_error("Out of memory");
    memory.table = static_cast<void**>(grown);
    memory.capacity = new_capacity;
}
}  // namespace

void TrackedMemory::release() {
    for (int i = 0; i < count; ++i) std::free(table[i]);
    std::free(table);
    table = nullptr;
    count = capacity = 0;
}

void* tracked_alloc(std::size_t size) {
    TrackedMemory& memory = tracked_memory();
    reserve_slot(memory);
    // A zero-byte request still gets a distinct block, so that it can be
    // recorded and released like any other.
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) fatal_error("Out of memory");
    memory.table[memory.count++] = block;
    return block;
}

void* tracked_realloc(void* block, std::size_t size) {
    TrackedMemory& memory = tracked_memory();
    if (block != nullptr) {
        for (int i = 0; i < memory.count; ++i) {
            if (memory.table[i] != block) continue;
            void* resized = std::realloc(block, size == 0 ? 1 : size);
            if (resized == nullptr) fatal_error("Out of memory");
            memory.table[i] = resized;
            return resized;
        }
    }
    return tracked_alloc(size);
}

char* tracked_strdup(const char* text) {
    std::size_t n = std::strlen(text);
    char* copy = static_cast<char*>(tracked_alloc(n + 1));
    std::memcpy(copy, text, n + 1);
    return copy;
}

}  // namespace vexil
