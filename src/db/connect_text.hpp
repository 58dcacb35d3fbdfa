// Reading a connect text (KEY=VALUE items separated by ";"), and the
// options the program adds on its own, on a copy of the text the user
// wrote (which stays the key of the connection cache).
#pragma once

#include <string>
#include <string_view>

namespace vexil {

// The value of `key` in a connect text, keys matched without regard to case
// (a value in braces may hold ";"), blanks around keys and values trimmed;
// false when the text has no such key.
bool connect_text_value(std::string_view text, std::string_view key, std::string_view& value);

// Whether an item of the text is DRIVER with nothing (or only blanks, or
// empty braces) as its value. The driver manager takes the last DRIVER
// item, and given an empty name with no drivers installed it stops the
// whole process on an assertion of its library loader; such a text is
// refused before it gets there.
bool names_empty_driver(std::string_view connect_text);

// Whether the text names a SQLite ODBC driver (a DRIVER whose name holds
// "SQLite" in any case). A DSN's driver cannot be told from the text.
bool names_sqlite_driver(std::string_view connect_text);

// The text to connect with for the connect text the user wrote. The SQLite
// ODBC driver reads a query's whole result into memory before the first
// fetch unless its step mode is on; a text that names that driver and does
// not set StepAPI itself gets ";StepAPI=1" appended, so a result of any
// size is read row by row. Every other text is returned as it is.
std::string connect_text_with_step_mode(std::string_view connect_text);

// Whether connect_text_with_step_mode adds the step mode to this text. In
// that mode the driver runs a query as its rows are fetched; the session
// reads the first row when the statement runs, so that a statement that
// fails (or is cancelled) on its first row fails as it would have without
// the step mode.
bool adds_step_mode(std::string_view connect_text);

}  // namespace vexil
