// String functions: references of the form $name(arguments) — url, hex,
// eval, asc, format, left, right, mid. Each argument is an expression; the
// reference expansion (substitute.hpp) calls them with a work area for the
// result, and they report their own failures.
#pragma once

#include <cstddef>

#include "base/scratch.hpp"

namespace vexil {

// Writes the function's result into dest (cut to its size, terminated).
// `arguments` is the writable text between "(" and the closing ")". Errors
// are reported as they occur and leave dest empty.
void call_string_function(const char* name, WorkArea dest, char* arguments);

// Writes the URL encoding of text into dest (dest_size bytes, cut to fit):
// letters and digits unchanged, a blank as "+", every other byte as %XX.
void url_encode(const char* text, char* dest, std::size_t dest_size);

}  // namespace vexil
