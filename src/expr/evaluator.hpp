// Expression evaluator: a recursive-descent evaluator that computes while it
// parses the expression text in place (no syntax tree). Serves SET, IF and
// the string functions. Every binary operator groups to the right.
#pragma once

#include <cstdint>
#include <cstddef>

#include "base/status.hpp"

namespace vexil {

enum class ValueKind : std::int32_t { Logical = 0, Integer = 1, Real = 2, Text = 3 };

struct ExprValue {
    ValueKind kind = ValueKind::Logical;
    const char* text = nullptr;  // text form, if any; not necessarily NUL-terminated
    std::uint32_t length = 0;    // characters of the text form
    std::int32_t integer = 0;
    double real = 0.0;
};

// Evaluation levels that may be in progress at once (each parenthesis takes
// six, each term of a sum about three): deeper input ends with a message
// instead of exhausting the stack.
inline constexpr int kMaxExpressionDepth = 1200;

// Evaluates a whole writable text; returns its result text (at the scratch
// top, valid until the next use of the scratch area), or "" after reporting
// the error.
const char* eval_expression(char* text);

// OR-expression at the cursor; the cursor is left after it (trailing blanks
// consumed). A failure's message is in error_text; neither clears nor
// reports it.
Status eval_or(char*& cursor, ExprValue& value);
// Sum level (for numeric function arguments).
Status eval_sum(char*& cursor, ExprValue& value);

bool value_is_true(const ExprValue& value);
// Gives the value a text form if it has none (numbers are written at the
// scratch top without moving it).
void value_to_text(ExprValue& value);
// value_to_text, then the text is copied to the scratch top (if it is not
// there) and terminated; the top does not move.
void value_text_at_top(ExprValue& value);
// value_text_at_top, then the top moves past the text and its terminator.
char* value_text_keep(ExprValue& value);

// The failure "Non-numeric expression: <left> <op> <right>".
Status report_nonnumeric(ExprValue& left, char op, ExprValue& right);

// Sets a value to a number of the given kind, with no text.
void set_integer(ExprValue& value, std::int32_t n, ValueKind kind = ValueKind::Integer);
void set_real(ExprValue& value, double r);
void set_logical(ExprValue& value, bool truth);

// Nesting depth bookkeeping shared with the function calls.
bool enter_expression_level();
void leave_expression_level();

}  // namespace vexil
