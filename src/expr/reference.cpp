// The reference scanner: recognises $name$ and $name(arguments) at a "$".
// It only reads the text; callers cut, expand and write.
#include "expr/reference.hpp"

#include <cstring>

#include "base/text.hpp"
#include "expr/skip_operand.hpp"

namespace vexil {

namespace {
bool is_name_char(char c) { return is_ascii_letter(c) || is_ascii_digit(c) || c == '_' || c == ' '; }

// In an expression, a blank followed by "AND " or "OR " ends the operand, and
// with it any reference name.
bool ends_name(const char* p, ReferenceContext context) {
    return !is_name_char(*p) || (context == ReferenceContext::kExpression && is_blank_before_and_or(p));
}
}  // namespace

bool is_blank_before_and_or(const char* p) {
    return *p == ' ' && (starts_with_keyword(p + 1, kAndOperator) || starts_with_keyword(p + 1, kOrOperator));
}

const char* find_closing_paren(const char* open) {
    const char* p = open;
    for (;;) {
        ++p;  // past the "(" or the "," that ended the previous argument
        skip_operand(p);
        if (*p == ')') return p;
        if (*p == '\0') return nullptr;
    }
}

ReferenceScan scan_reference(const char* dollar, ReferenceContext context) {
    ReferenceScan scan;
    if (!is_ascii_letter(dollar[1])) return scan;
    const char* end = dollar + 1;
    while (!ends_name(end, context)) ++end;
    scan.name_end = std::size_t(end - dollar);
    if (*end == '$') {
        scan.kind = ReferenceScan::kVariable;
        scan.close = scan.name_end;
    } else if (*end == '(') {
        const char* close = find_closing_paren(end);
        if (close == nullptr) {
            scan.kind = ReferenceScan::kUnclosedFunction;
            close = end + std::strlen(end);
        } else {
            scan.kind = ReferenceScan::kFunction;
        }
        scan.close = std::size_t(close - dollar);
    }
    return scan;
}

}  // namespace vexil
