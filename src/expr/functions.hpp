// Expression functions: the numeric, random-number and text functions an
// expression may call (a name directly followed by "("). The evaluator's
// primary level hands such a call to call_function, which evaluates the
// arguments with the evaluator's levels.
#pragma once

#include <cstddef>

#include "expr/evaluator.hpp"

namespace vexil {

// Evaluates the call of `name` (not NUL-terminated; `name_length`
// characters) with the cursor just after its "("; on success the cursor is
// left after the ")" and the result is in value. A failure's message is in
// error_text.
Status call_function(char*& cursor, ExprValue& value, const char* name, std::size_t name_length);

// The failure "<message> for <name>( )" (value nullptr) or
// "<message> for <name>(<value text>)".
Status report_function_error(const char* message, const char* name, ExprValue* value);

}  // namespace vexil
