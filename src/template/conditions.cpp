// Conditional blocks.
#include "template/conditions.hpp"

#include <cstring>

#include "cgi/text.hpp"
#include "cgi/tracked_memory.hpp"
#include "driver/output.hpp"
#include "expr/evaluator.hpp"
#include "expr/scratch.hpp"
#include "variables/variable_table.hpp"

namespace vexil {

namespace {
IfStack g_if;
// Levels opened beyond the 64th: never stored as levels, but counted (with
// their else-if marks) so that the ENDIFs that close them do not close real
// levels.
int g_overflow = 0;
std::array<bool, kIfLevels> g_overflow_else_if{};
std::array<IfNewEntry, kIfNewEntries> g_if_new;
int g_if_new_count = 0;
}  // namespace

IfStack& if_stack() { return g_if; }

void reset_if_stack() {
    g_if = IfStack{};
    g_if.enabled[0] = 1;
    g_overflow = 0;
    g_if_new = {};
    g_if_new_count = 0;
}

void open_if_level(bool else_if, bool (*test)(char*), char* argument) {
    if (g_overflow > 0 || g_if.depth + 1 >= kIfLevels) {
        report_error("Too many nested IF statements");
        if (g_overflow < kIfLevels) g_overflow_else_if[g_overflow++] = else_if;
        return;
    }
    bool below = g_if.enabled[g_if.depth] != 0;
    ++g_if.depth;
    g_if.else_if[g_if.depth] = else_if ? 1 : 0;
    g_if.enabled[g_if.depth] = below && test(argument) ? 1 : 0;
}

int if_overflow() { return g_overflow; }

void close_levels_above(int depth, int overflow) {
    for (; g_overflow > overflow; --g_overflow) report_error("Missing ENDIF");
    while (g_if.depth > depth) {
        report_error("Missing ENDIF");
        --g_if.depth;
    }
}

void close_if_level() {
    if (g_overflow > 0) {
        while (g_overflow > 0 && g_overflow_else_if[g_overflow - 1]) --g_overflow;
        if (g_overflow > 0) {
            --g_overflow;
            return;
        }
    }
    if (g_if.depth <= 0) return;
    while (g_if.depth > 0 && g_if.else_if[g_if.depth]) --g_if.depth;
    if (g_if.depth > 0) --g_if.depth;
}

void switch_if_level() {
    if (g_overflow > 0 || g_if.depth <= 0) return;
    int d = g_if.depth;
    g_if.enabled[d] = (!g_if.enabled[d] && g_if.enabled[d - 1]) ? 1 : 0;
}

void close_all_if_levels() {
    g_if.depth = 0;
    g_overflow = 0;
}

bool eval_if_condition(char* text) {
    error_text().clear();
    ExprValue value;
    char* cursor = text;
    bool truth = eval_or(cursor, value) && value_is_true(value);
    if (!error_text().empty()) report_error(error_text().view());
    return truth;
}

bool test_if_new(char* name) {
    const char* current = lookup_value(name);
    for (int i = 0; i < g_if_new_count; ++i) {
        IfNewEntry& entry = g_if_new[i];
        if (!equals_nocase(entry.name, name)) continue;
        if (std::strcmp(entry.value, current) == 0) return false;
        for (int j = i + 1; j < g_if_new_count; ++j) g_if_new[j].value[0] = '\0';
        copy_bounded(entry.value, kIfNewValueSize, current);
        return true;
    }
    int slot = g_if_new_count < kIfNewEntries ? g_if_new_count++ : 0;
    IfNewEntry& entry = g_if_new[slot];
    entry.name = tracked_strdup(name);
    entry.value = static_cast<char*>(tracked_alloc(kIfNewValueSize));
    copy_bounded(entry.value, kIfNewValueSize, current);
    return true;
}

}  // namespace vexil
