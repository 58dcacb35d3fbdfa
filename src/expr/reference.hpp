// The reference scanner: the one place that says where a reference begins
// and ends. Template text, substitution and expression operands all call it
// at a "$" and then decide for themselves what to do with what it found.
//
// A reference is "$" and a letter, then name characters (letters, digits,
// "_" and blanks), ended either by "$" (a variable) or by "(" (a string
// function, whose arguments run to the ")" that closes the list). A "$"
// right after a backslash is an escaped dollar, not a reference.
#pragma once

#include <cstddef>
#include <string_view>

namespace vexil {

// The word operators of an expression, each with the blank that must follow.
inline constexpr std::string_view kAndOperator = "AND ";
inline constexpr std::string_view kOrOperator = "OR ";

// Whether p is at a blank that is followed by "AND " or "OR " (letters in
// any case): in an expression such a blank ends an operand.
bool is_blank_before_and_or(const char* p);

// Where the reference stands: in an expression a reference name ends before
// a blank that starts the operator "AND " or "OR ", so that the operators
// keep their meaning; in any other text a name may hold any blanks.
enum class ReferenceContext { kText, kExpression };

struct ReferenceScan {
    enum Kind {
        kNone,             // no reference starts at this "$"
        kVariable,         // $name$
        kFunction,         // $name(arguments)
        kUnclosedFunction  // $name(arguments without the closing ")"
    } kind = kNone;
    // Offsets from the "$": the "$" or "(" that ends the name, and the
    // closing "$" or ")" (for kUnclosedFunction: the end of the text).
    std::size_t name_end = 0;
    std::size_t close = 0;
};

// Scans the NUL-terminated text at `dollar` (which points at a "$").
ReferenceScan scan_reference(const char* dollar, ReferenceContext context = ReferenceContext::kText);

// Whether the "$" at `dollar` is escaped: a backslash stands right before it
// inside the stretch that starts at `stretch` (text before the stretch is
// already dealt with and cannot escape it).
inline bool is_escaped_dollar(const char* stretch, const char* dollar) {
    return dollar > stretch && dollar[-1] == '\\';
}

// The ")" that closes a string function's argument list, whose "(" is at
// `open`, or nullptr when the text ends first. Arguments are stepped over as
// operands, so a ")" inside quotes or inner parentheses does not count.
const char* find_closing_paren(const char* open);

}  // namespace vexil
