// The option lists of QBE and UPDATEFORM, and how their column names go into
// SQL. Both commands are written as a list of "key=value" options (TABLE=,
// SELECT=, KEY=, ...) and column items ("name", "'name'" for a text column,
// "name:size" or "name:sizeXrows" for a field's size); both write a column
// name into the statement they build the same way.
#pragma once

#include <string>
#include <string_view>

namespace vexil {

// The next "key=value" or "key" item of an option text; nullptr at its end.
// value is nullptr for an item without "=". Advances the cursor. The text is
// cut up in place.
char* next_option_item(char*& cursor, char*& value);

// Expands the references of an option's value (undefined ones give
// nothing) into the scratch area and keeps it there; the caller sets the
// scratch top back when it is done with its options.
char* expand_option_value(char* value);

// A column item as written: 'name' for a text column, name:size or
// name:sizeXrows for the size of its field.
struct ColumnItem {
    bool text = false;  // written between single quotes
    int size = 50;      // characters of the field (0..100000)
    int rows = 0;       // lines of a text area; 0 when not given
};

// Reads a column item, leaving the bare column name in `item` (in place).
ColumnItem parse_column_item(char* item);

// Appends a column name to a statement: between `quote` characters (the
// database's, a quote inside written twice) when it holds a blank (a name
// that is no plain SQL identifier), as it is otherwise.
void append_column_name(std::string& sql, std::string_view name, char quote);

// The character that quotes `name` for the database the statements go to:
// the database is asked (connecting when needed) only for a name that holds
// a blank, the one kind that is quoted.
char column_name_quote(std::string_view name);

}  // namespace vexil
