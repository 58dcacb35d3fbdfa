// Tracked memory: the allocator for heap blocks that live until the end of
// the run. Every block is recorded in the run's table, so the whole run's
// memory is released in one sweep when the run ends, and running out of
// memory ends the run in one uniform way (the "Out of memory" page).
#pragma once

#include <cstddef>

namespace vexil {

// The blocks of one run; releasing the table releases them all.
struct TrackedMemory {
    int count = 0;             // number of recorded blocks
    int capacity = 0;          // slots in the table; grows by 200
    void** table = nullptr;    // slot i holds the i-th recorded block

    TrackedMemory() = default;
    TrackedMemory(const TrackedMemory&) = delete;  // owns its blocks
    TrackedMemory& operator=(const TrackedMemory&) = delete;
    ~TrackedMemory() { release(); }
    // Frees every recorded block and the table.
    void release();
};

inline constexpr int kTrackedTableStep = 200;

// The run's tracked memory.
TrackedMemory& tracked_memory();

// Returns a new recorded block of size bytes (contents not initialised).
// Never returns without a block: a failure ends the run through
// fatal_error("Out of memory").
void* tracked_alloc(std::size_t size);

// Resizes a recorded block, keeping its contents up to the smaller size.
// A block that is not recorded (an absent one included) is not touched and a
// fresh recorded block is returned instead. Never returns without a block.
void* tracked_realloc(void* block, std::size_t size);

// A tracked copy of text (NUL-terminated).
char* tracked_strdup(const char* text);

}  // namespace vexil
