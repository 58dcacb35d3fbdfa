// Tracked memory: records every long-lived block for release at the end of
// the run.
#include "cgi/tracked_memory.hpp"

#include <cstdlib>
#include <cstring>

#include "driver/output.hpp"

namespace vexil {

namespace {
TrackedMemory g_tracked;

// Makes room for one more slot, growing the table by 200 slots when full.
void reserve_slot() {
    if (g_tracked.capacity > g_tracked.count) return;
    int new_capacity = g_tracked.capacity + kTrackedTableStep;
    void* grown = std::realloc(g_tracked.table, sizeof(void*) * std::size_t(new_capacity));
    // Without a larger table the new block could not be recorded, so the run
    // cannot go on.
    if (grown == nullptr) fatal_error("Out of memory");
    g_tracked.table = static_cast<void**>(grown);
    g_tracked.capacity = new_capacity;
}
}  // namespace

void* tracked_alloc(std::size_t size) {
    reserve_slot();
    // A zero-byte request still gets a distinct block, so that it can be
    // recorded and released like any other.
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) fatal_error("Out of memory");
    g_tracked.table[g_tracked.count++] = block;
    return block;
}

void* tracked_realloc(void* block, std::size_t size) {
    if (block != nullptr) {
        for (int i = 0; i < g_tracked.count; ++i) {
            if (g_tracked.table[i] != block) continue;
            void* resized = std::realloc(block, size == 0 ? 1 : size);
            if (resized == nullptr) fatal_error("Out of memory");
            g_tracked.table[i] = resized;
            return resized;
        }
    }
    return tracked_alloc(size);
}

void free_tracked() {
    if (g_tracked.table == nullptr) return;
    for (int i = 0; i < g_tracked.count; ++i) std::free(g_tracked.table[i]);
    std::free(g_tracked.table);
    g_tracked = TrackedMemory{};
}

char* tracked_strdup(const char* text) {
    std::size_t n = std::strlen(text);
    char* copy = static_cast<char*>(tracked_alloc(n + 1));
    std::memcpy(copy, text, n + 1);
    return copy;
}

const TrackedMemory& tracked_memory_state() { return g_tracked; }

}  // namespace vexil
