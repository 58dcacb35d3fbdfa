// Query by example: turns the filled-in fields of a search form into a
// SELECT statement, and the option-list syntax shared with UPDATEFORM.
#pragma once

#include <string_view>

namespace vexil {

// Builds the statement in the statement source and returns it (the empty text
// after a reported problem). The option text is cut up in place.
char* build_qbe_statement(char* options);

// The next "key=value" or "key" item of an option text; nullptr at its end.
// value is nullptr for an item without "=". Advances the cursor.
char* next_option_item(char*& cursor, char*& value);

// Expands the references of an option's value (undefined ones give
// nothing) into the scratch area and keeps it there; the caller sets the
// scratch top back when it is done with its options.
char* expand_option_value(char* value);

// Reads a column item ('name' for a text column, name:size or name:sizeXrows)
// in place; returns whether it is a text column.
bool parse_column_spec(char* name, int& size, int& rows);

// Whether text is a single literal: a number, or a single-quoted text whose
// inner quotes are doubled.
bool is_sql_literal(std::string_view text);

}  // namespace vexil
