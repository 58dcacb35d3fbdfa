// The operand skipper: steps over expression text without evaluating it.
// Used for short-circuit evaluation and to find the end of a string-function
// argument list.
#pragma once

namespace vexil {

// Moves the cursor to the end of the text, to a "," at depth 0, or to a ")"
// that would make the parenthesis depth negative. Double-quoted texts (whose
// opening quote is not preceded by a backslash) are passed over whole.
void skip_operand(const char*& cursor);
inline void skip_operand(char*& cursor) {
    const char* c = cursor;
    skip_operand(c);
    cursor += c - cursor;
}

}  // namespace vexil
