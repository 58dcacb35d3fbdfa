// Conditional blocks: the IfStack shared by all nested runs, and the IF,
// IFNEW, ELSE and ENDIF commands that open, switch and close its levels.
#pragma once

#include <array>

namespace vexil {

inline constexpr int kIfLevels = 64;

struct IfStack {
    int depth = 0;                        // index of the current level; 0 is the outermost
    std::array<int, kIfLevels> enabled{};  // per level: text is written and commands run
    std::array<int, kIfLevels> else_if{};  // per level: opened by ELSE IF / ELSE IFNEW
};

IfStack& if_stack();
void reset_if_stack();

// True when text is written and commands run at the current level.
inline bool level_enabled() {
    const IfStack& s = if_stack();
    return s.enabled[s.depth] != 0;
}

// Closes every level above `depth`, reporting "Missing ENDIF" for each.
void close_levels_above(int depth);

// ENDIF: closes the current level and the else-if levels stacked on it.
void close_if_level();

}  // namespace vexil
