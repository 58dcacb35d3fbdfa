// The variable table: the named text values of a run that are neither form
// fields nor result columns, and the order in which a name is resolved.
#pragma once

#include <string_view>

namespace vexil {

// What a lookup gives for a name that exists with an empty value.
inline constexpr const char* kEmptyMark = " ";

// The value a reference to `name` shows: "" when nothing of that name
// exists, kEmptyMark when it exists but is empty, else the value.
const char* lookup_value(std::string_view name);

}  // namespace vexil

namespace vexil {

// The DEFAULT command: sets each name=value item of a writable list text.
void apply_default_list(char* text);

// Empties the table down to its built-in entries.
void reset_variable_state();

}  // namespace vexil
