// Tracked memory: the allocator for heap blocks that live until the end of
// the run. Every block is recorded in one table so that free_tracked can
// release the whole run's memory in one sweep, and so that running out of
// memory ends the run in one uniform way (the "Out of memory" page).
#pragma once

#include <cstddef>

namespace vexil {

struct TrackedMemory {
    int count = 0;             // number of recorded blocks
    int capacity = 0;          // slots in the table; grows by 200
    void** table = nullptr;    // slot i holds the i-th recorded block
};

inline constexpr int kTrackedTableStep = 200;

// Returns a new recorded block of size bytes (contents not initialised).
// Never returns without a block: a failure ends the process through
// fatal_error("Out of memory").
void* tracked_alloc(std::size_t size);

// Resizes a recorded block, keeping its contents up to the smaller size.
// A block that is not recorded (an absent one included) is not touched and a
// fresh recorded block is returned instead. Never returns without a block.
void* tracked_realloc(void* block, std::size_t size);

// Releases every recorded block and the table; the allocator starts over.
void free_tracked();

// A tracked copy of text (NUL-terminated).
char* tracked_strdup(const char* text);

// Read access for tests and diagnostics.
const TrackedMemory& tracked_memory_state();

}  // namespace vexil
