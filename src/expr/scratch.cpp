// The ScratchArea and error_text.
#include "expr/scratch.hpp"

namespace vexil {

namespace {
ScratchArea g_scratch;
TextBuffer<512> g_error_text;
}  // namespace

void reset_scratch() {
    g_scratch.top = g_scratch.bytes.data();
    g_scratch.top[0] = '\0';
}

char* scratch_top() {
    if (g_scratch.top == nullptr) reset_scratch();
    return g_scratch.top;
}

char* scratch_end() { return g_scratch.bytes.data() + kScratchSize; }

std::size_t scratch_room() { return std::size_t(scratch_end() - scratch_top()); }

WorkArea scratch_work_area() { return WorkArea{scratch_top(), scratch_room()}; }

char* scratch_reserve(std::size_t n) {
    char* old = scratch_top();
    if (n < scratch_room()) g_scratch.top = old + n;
    return old;
}

void scratch_set_top(char* p) {
    if (p >= g_scratch.bytes.data() && p <= scratch_end()) g_scratch.top = p;
}

TextBuffer<512>& error_text() { return g_error_text; }

ScratchGuard::ScratchGuard(const char* end) : saved_(scratch_top()) {
    if (end > saved_ && end < scratch_end()) g_scratch.top = saved_ + (end - saved_);
}

ScratchGuard::~ScratchGuard() { g_scratch.top = saved_; }

}  // namespace vexil
