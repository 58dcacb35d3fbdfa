// Conditional blocks: the IfStack shared by all nested runs, and the IF,
// IFNEW, ELSE and ENDIF commands that open, switch and close its levels.
#pragma once

#include <array>
#include <string_view>
#include <vector>

namespace vexil {

inline constexpr int kIfLevels = 64;
inline constexpr int kIfNewEntries = 16;
inline constexpr std::size_t kIfNewValueSize = 256;

// What IFNEW remembers of one variable.
struct IfNewEntry {
    char* name = nullptr;   // as written in the command (tracked)
    char* value = nullptr;  // last value seen (tracked, 256 bytes)
};

// The IF stack shared by all nested runs of a template, and IFNEW's memory.
struct IfState {
    int depth = 0;                          // index of the current level; 0 is the outermost
    std::array<int, kIfLevels> enabled{1};  // per level: text is written and commands run
    std::array<int, kIfLevels> else_if{};   // per level: opened by ELSE IF / ELSE IFNEW
    // Levels opened beyond the 64th: never stored as levels, but each one's
    // else-if mark is kept, however many there are, so that the ENDIFs that
    // close them pair with them and never close a real level.
    std::vector<bool> overflow_else_if;
    std::array<IfNewEntry, kIfNewEntries> if_new{};
    int if_new_count = 0;
};

IfState& if_state();

// True when text is written and commands run at the current level.
inline bool level_enabled() {
    const IfState& s = if_state();
    return s.enabled[s.depth] != 0;
}

// Opens a level: enabled when `truth` holds and the level below is enabled.
// A level past the 64th is not opened; "Too many nested IF statements" is
// reported and the excess is counted so that its ENDIFs stay matched.
void open_if_level(bool else_if, bool (*test)(char*), char* argument);

// The levels past the 64th that are open (counted, never stored).
int if_overflow();

// Closes every level above `depth` (and the counted levels past the 64th
// above `overflow`), reporting "Missing ENDIF" for each.
void close_levels_above(int depth, int overflow);

// ENDIF: closes the current level and the else-if levels stacked on it.
void close_if_level();
// ELSE: switches the current level.
void switch_if_level();
// EXIT: every level is closed.
void close_all_if_levels();

// Evaluates an IF condition (reporting any error); false when it fails.
bool eval_if_condition(char* text);
// IFNEW: whether the variable's value differs from the one seen at the last
// test of the same name.
bool test_if_new(char* name);

}  // namespace vexil
