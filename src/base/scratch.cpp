// The scratch area: a stack of temporary texts with a movable top.
//
// The run's 16384-byte area where the evaluator, reference expansion and
// text-building commands put intermediate texts; callers release what they
// used by moving the top back (ScratchGuard does it on scope exit).
#include "base/scratch.hpp"

namespace vexil {

void reset_scratch() {
    ScratchArea& area = scratch_area();
    area.top = area.bytes.data();
    area.top[0] = '\0';
}

char* scratch_top() { return scratch_area().top; }

char* scratch_end() { return scratch_area().bytes.data() + kScratchSize; }

std::size_t scratch_room() { return std::size_t(scratch_end() - scratch_top()); }

WorkArea scratch_work_area() { return WorkArea{scratch_top(), scratch_room()}; }

char* scratch_reserve(std::size_t n) {
    char* old = scratch_top();
    if (n < scratch_room()) scratch_area().top = old + n;
    return old;
}

void scratch_set_top(char* p) {
    ScratchArea& area = scratch_area();
    if (p >= area.bytes.data() && p <= scratch_end()) area.top = p;
}

ScratchGuard::ScratchGuard(const char* end) : saved_(scratch_top()) {
    if (end > saved_ && end < scratch_end()) scratch_area().top = saved_ + (end - saved_);
}

ScratchGuard::~ScratchGuard() { scratch_area().top = saved_; }

}  // namespace vexil
