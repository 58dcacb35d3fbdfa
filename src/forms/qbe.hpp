// Query by example: turns the filled-in fields of a search form into a
// SELECT statement that the SQL command then runs. The command's text is an
// option list (forms/form_options.hpp): TABLE=, SELECT=, ORDER=, ROWS= and
// one column item per search field.
#pragma once

#include <string>
#include <string_view>

#include "base/status.hpp"
#include "db/odbc_session.hpp"

namespace vexil {

// Builds the statement in the statement source and returns it (the empty text
// after a reported problem). The option text is cut up in place.
char* build_qbe_statement(char* options);

// Appends the condition for a column whose search field holds `value` (not
// empty): the column's name (quoted as `dialect` has it), the operator the
// value begins with, and the value, between single quotes (inner ones
// doubled) for a text column except after LIKE, IN and BETWEEN. Where the
// database reads backslashes as escapes, every backslash of the value is
// doubled too: all of them lie inside quoted texts, which then hold exactly
// what was typed. Fails ("Invalid search value for <column>") when a value
// written without quotes is no literal of the form its operator requires;
// sql is then left as it was.
Status append_search_condition(std::string& sql, std::string_view column, bool text_column,
                               std::string_view value, const SqlDialect& dialect);

// Whether text is a single literal: a number, or a single-quoted text whose
// inner quotes are doubled.
bool is_sql_literal(std::string_view text);

}  // namespace vexil
