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
};

ExprState& expr_state();

}  // namespace vexil
