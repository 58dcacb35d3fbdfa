// The SQL command: runs one statement for the template and publishes its
// outcome in the result items (sql_status, sql_result, sql_error,
// sql_statement, rows_affected, row). After it, a query's first row is
// already fetched. OPTIONLIST runs its statement through the same steps
// (require_connection, execute_substituted).
#pragma once

#include "base/status.hpp"
#include "db/odbc_session.hpp"
#include "db/results.hpp"

namespace vexil {

// What is shown when a statement is to run and no connect text was given.
inline constexpr const char* kMissingConnectionText =
    "<H2>Error in Form Data</H2>\n <P>The database connection specification was not found. "
    "Refer to documentation: \"Connect texts\" in the guide's odbc.md.\n";

// `statement` is the command's raw argument text, or a statement built by
// QBE; it is left as it is.
void run_sql_command(const char* statement);

// Decides, for every command that runs a statement, whether there is a
// connect text. Without one, the statement's outcome is set (status -1,
// "No database connection string given") and the failure's message is the
// paragraph that explains it ("<P><B>" kMissingConnectionText "</B><P>\n"),
// which each command shows its own way: SQL reports it as an error, OPTIONLIST
// writes it into the page. With one, its references are expanded, once per
// DATABASE command (or once for the form's "database" field).
Status require_connection();

// Makes `text` (a DATABASE command's text or the form's "database" field)
// the connect text of the statements that follow; its references are
// expanded when the first of them needs it. A text longer than a connect
// text may be is kept too long, so that it is refused rather than cut.
void use_connect_text(std::string_view text);

// The connect text in use, expanded once a statement has run ("" for none).
const char* connect_text();

// The buffer that holds the SQL command's text as written, or the statement
// a form command built.
TextBuffer<kStatementSize>& statement_source();

// The outcome of the last statement or fetch, and its text (sql_result).
DbStatus statement_status();
const char* statement_outcome();

// Fetches the next row of the current statement and records the status;
// with `count` the row number goes up when a row came. Returns the status.
DbStatus fetch_next_row(bool count);

// The current row number, to keep across a nested run of a loop body and
// set back afterwards.
int row_number();
void restore_row_number(int row);

// The dialect of the database the next statement goes to (connecting when
// needed), for the commands that build statements. Without a connect text
// that may be used, when no statement will run, the defaults.
SqlDialect statement_dialect();

// Substitutes the statement (with the options of SQL statements) into the
// statement text and executes it on the current level, leaving the status,
// the outcome text and the row count in the result items.
void execute_substituted(const char* statement);

}  // namespace vexil
