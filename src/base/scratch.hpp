// The scratch area: a 16384-byte stack of temporary texts shared by the
// evaluator, reference expansion and the commands that build text.
//
// Conventions: a text written at scratch_top without moving it is valid only
// until the next user writes there; scratch_reserve keeps bytes; moving the
// top back with scratch_set_top releases everything above.
#pragma once

#include <array>
#include <cstddef>

#include "base/text.hpp"

namespace vexil {

inline constexpr std::size_t kScratchSize = 16384;

struct ScratchArea {
    // The area itself. Not cleared: a text is read only after it is
    // written, and clearing 16 KB made every run touch four pages it
    // mostly never uses (a page fault each in a CGI process).
    std::array<char, kScratchSize> bytes;
    char* top = bytes.data();  // first free byte

    ScratchArea() { bytes[0] = '\0'; }
    ScratchArea(const ScratchArea&) = delete;  // top points into bytes
    ScratchArea& operator=(const ScratchArea&) = delete;
};

// The run's scratch area.
ScratchArea& scratch_area();

// A place where a result text may be built: start and size in bytes.
struct WorkArea {
    char* start;
    std::size_t size;
};

// Releases everything: the top goes back to the start of the area.
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

}  // namespace vexil
