// Conditional blocks: the IF stack and IFNEW's memory of values.
//
// A level is enabled when its own test held and the level below it is
// enabled; text is written and commands run only at an enabled level. The
// stack is shared by every nested run (INCLUDEd files, row-loop bodies), so
// an IF may open in one and close in another.
#include "template/conditions.hpp"

#include <cstring>

#include "base/text.hpp"
#include "base/tracked_memory.hpp"
#include "base/output.hpp"
#include "expr/evaluator.hpp"
#include "base/scratch.hpp"
#include "values/variable_table.hpp"

namespace vexil {


void open_if_level(bool else_if, bool (*test)(char*), char* argument) {
    IfState& s = if_state();
    if (!s.overflow_else_if.empty() || s.depth + 1 >= kIfLevels) {
        report_error("Too many nested IF statements");
        s.overflow_else_if.push_back(else_if);
        return;
    }
    bool below = s.enabled[s.depth] != 0;
    ++s.depth;
    s.else_if[s.depth] = else_if ? 1 : 0;
    s.enabled[s.depth] = below && test(argument) ? 1 : 0;
}

int if_overflow() { return int(if_state().overflow_else_if.size()); }

void close_levels_above(int depth, int overflow) {
    IfState& s = if_state();
    std::vector<bool>& excess = s.overflow_else_if;
    for (; int(excess.size()) > overflow; excess.pop_back()) report_error("Missing ENDIF");
    while (s.depth > depth) {
        report_error("Missing ENDIF");
        --s.depth;
    }
}

void close_if_level() {
    IfState& s = if_state();
    std::vector<bool>& excess = s.overflow_else_if;
    if (!excess.empty()) {
        while (!excess.empty() && excess.back()) excess.pop_back();
        if (!excess.empty()) {
            excess.pop_back();
            return;
        }
    }
    if (s.depth <= 0) return;
    while (s.depth > 0 && s.else_if[s.depth]) --s.depth;
    if (s.depth > 0) --s.depth;
}

void switch_if_level() {
    IfState& s = if_state();
    if (!s.overflow_else_if.empty() || s.depth <= 0) return;
    int d = s.depth;
    s.enabled[d] = (!s.enabled[d] && s.enabled[d - 1]) ? 1 : 0;
}

void close_all_if_levels() {
    IfState& s = if_state();
    s.depth = 0;
    s.overflow_else_if.clear();
}

bool eval_if_condition(char* text) {
    error_text().clear();
    ExprValue value;
    char* cursor = text;
    bool truth = eval_or(cursor, value).is_ok() && value_is_true(value);
    if (!error_text().empty()) report_error(error_text().view());
    return truth;
}

bool test_if_new(char* name) {
    IfState& s = if_state();
    const char* current = lookup_value(name);
    for (int i = 0; i < s.if_new_count; ++i) {
        IfNewEntry& entry = s.if_new[i];
        if (!equals_nocase(entry.name, name)) continue;
        if (std::strcmp(entry.value, current) == 0) return false;
        for (int j = i + 1; j < s.if_new_count; ++j) s.if_new[j].value[0] = '\0';
        copy_bounded(entry.value, kIfNewValueSize, current);
        return true;
    }
    int slot = s.if_new_count < kIfNewEntries ? s.if_new_count++ : 0;
    IfNewEntry& entry = s.if_new[slot];
    entry.name = tracked_strdup(name);
    entry.value = static_cast<char*>(tracked_alloc(kIfNewValueSize));
    copy_bounded(entry.value, kIfNewValueSize, current);
    return true;
}

}  // namespace vexil
