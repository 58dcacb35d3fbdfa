// The operand skipper: steps over expression text without evaluating it,
// counting parentheses and passing over double-quoted texts. The evaluator
// uses it to skip what a decided AND/OR leaves unevaluated, the reference
// scanner to find the ")" that closes a string function's arguments.
#include "expr/skip_operand.hpp"

#include <cstring>

namespace vexil {

void skip_operand(const char*& cursor) {
    const char* start = cursor;
    const char* p = cursor;
    int depth = 0;
    while (*p != '\0') {
        char c = *p;
        if (c == ',' && depth == 0) break;
        if (c == ')') {
            if (depth == 0) break;
            --depth;
        } else if (c == '(') {
            ++depth;
        } else if (c == '"' && (p == start || p[-1] != '\\')) {
            const char* close = std::strchr(p + 1, '"');
            if (close != nullptr) p = close;
        }
        ++p;
    }
    cursor = p;
}

}  // namespace vexil
