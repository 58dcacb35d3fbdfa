// Option list: an HTML selection list of the distinct values of a column,
// read from the database through the SQL command's steps (require_connection,
// execute_substituted); what the template shows of it is written directly.
#pragma once

#include "base/output.hpp"

namespace vexil {

// Builds "SELECT DISTINCT <text> ORDER BY <name>" in the statement source from
// the command text ([size] name rest) and returns it.
char* build_option_list_statement(char* text);

// Runs the statement and writes the SELECT element, or the "[No option list
// found for ...]" note. Option texts are HTML-escaped.
void write_option_list(char* statement, OutputChannel& output);

}  // namespace vexil
