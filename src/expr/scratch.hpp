// Shared work buffers of the evaluator and its neighbours: the ScratchArea,
// a 16384-byte stack of temporary texts, and error_text, the pending error
// message.
//
// Conventions: a text written at scratch_top without moving it is valid only
// until the next user writes there; scratch_reserve keeps bytes; moving the
// top back with scratch_set_top releases everything above.
#pragma once

#include <array>
#include <cstddef>

#include "cgi/text.hpp"

namespace vexil {

inline constexpr std::size_t kScratchSize = 16384;

struct ScratchArea {
    std::array<char, kScratchSize> bytes{};  // the area itself
    char* top = nullptr;                     // first free byte
};

// A place where a result text may be built: start and size in bytes.
struct WorkArea {
    char* start;
    std::size_t size;
};

void reset_scratch();
char* scratch_top();
char* scratch_end();
// Bytes from the top to the end of the area.
std::size_t scratch_room();
// The free part of the area as a work area.
WorkArea scratch_work_area();
// Keeps n bytes: returns the old top and advances it by n, unless the new
// top would reach or pass the end of the area (then the top stays).
char* scratch_reserve(std::size_t n);
void scratch_set_top(char* p);

// Raises scratch_top to `end` for its lifetime when `end` lies inside the
// area above the top, so that text built there (a destination or a token
// being composed) is not overwritten by nested evaluations; restores the
// top afterwards.
class ScratchGuard {
public:
    explicit ScratchGuard(const char* end);
    ~ScratchGuard();
    ScratchGuard(const ScratchGuard&) = delete;
    ScratchGuard& operator=(const ScratchGuard&) = delete;

private:
    char* saved_;
};

// The pending error message (at most 511 characters).
TextBuffer<512>& error_text();

}  // namespace vexil
