// Bound result columns as the rest of the program sees them: the value of a
// column by name, for references, SET and IFNEW. The session
// (db/odbc_session.cpp) binds them; names are the aliases of the select list
// (db/aliases.hpp) or what the driver reports.
#pragma once

#include <cstddef>
#include <string_view>

namespace vexil {

// A column name (alias or driver's name) keeps at most this many characters.
inline constexpr std::size_t kMaxColumnName = 33;

// A result column's value buffer, for SET to write into.
struct ColumnBuffer {
    char* value;
    std::size_t size;  // bytes, terminator included
};

// The latest bound column of that name: "" when there is none, " " when it
// is NULL or empty, else its text.
const char* column_value(std::string_view name);

// The value buffer of the latest bound column of that name; value is nullptr
// when there is none.
ColumnBuffer find_column(std::string_view name);

}  // namespace vexil
