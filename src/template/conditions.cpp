// Conditional blocks.
#include "template/conditions.hpp"

#include "driver/output.hpp"

namespace vexil {

namespace {
IfStack g_if;
}  // namespace

IfStack& if_stack() { return g_if; }

void reset_if_stack() {
    g_if = IfStack{};
    g_if.enabled[0] = 1;
}

void close_levels_above(int depth) {
    while (g_if.depth > depth) {
        report_error("Missing ENDIF");
        --g_if.depth;
    }
}

void close_if_level() {
    if (g_if.depth <= 0) return;
    while (g_if.depth > 0 && g_if.else_if[g_if.depth]) --g_if.depth;
    if (g_if.depth > 0) --g_if.depth;
}

}  // namespace vexil
