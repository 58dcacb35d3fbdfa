// The per-run state of references and expressions: how deep the evaluator
// and the reference expansion are nested, the reference being expanded and
// the random-number generator.
#pragma once

#include <cstdint>

#include "base/text.hpp"

namespace vexil {

inline constexpr std::size_t kReferenceBufferSize = 257;

struct ExprState {
    int eval_depth = 0;                           // evaluation levels in progress
    int expansion_depth = 0;                      // expand_reference calls in progress
    TextBuffer<kReferenceBufferSize> reference;   // the reference being expanded
    bool random_seeded = false;                   // rand() has drawn in this run
    std::uint32_t random_state = 0;               // the generator's last value
    bool outside_seen = false;                    // a value from outside went into the
                                                  // text being expanded (see OriginProbe)
};

ExprState& expr_state();

// Tells whether an expansion used a value from outside the template (a
// request field, cookie, environment or database value): the probe clears
// the run's flag for its lifetime and hands what it saw on to any probe
// around it.
class OriginProbe {
public:
    OriginProbe() : saved_(expr_state().outside_seen) { expr_state().outside_seen = false; }
    ~OriginProbe() { expr_state().outside_seen = expr_state().outside_seen || saved_; }
    OriginProbe(const OriginProbe&) = delete;
    OriginProbe& operator=(const OriginProbe&) = delete;
    bool outside() const { return expr_state().outside_seen; }

private:
    bool saved_;
};

}  // namespace vexil
