// ODBC session and statements: the only place that talks to the ODBC driver
// manager. Keeps one environment and up to three connections (cached by
// their exact connect text), four nested statement levels, and the
// column_table through which result values reach references by name.
#pragma once

#include <cstddef>
#include <string_view>

#include "cgi/text.hpp"

namespace vexil {

// Status values of execute_statement and fetch_row.
inline constexpr int kDbRow = 0;        // a result is open / a row was fetched
inline constexpr int kDbAffected = 1;   // rows were affected
inline constexpr int kDbFailed = -1;    // connection or execution failed
inline constexpr int kDbNoRows = -2;    // no (more) rows

inline constexpr int kColumnTableSize = 256;   // the last entry always stays clear
inline constexpr int kStatementLevels = 4;
inline constexpr std::size_t kMaxColumnName = 33;
inline constexpr long kMaxColumnPrecision = 8192;
// Every column buffer holds at least this many characters (drivers report
// small precisions for numbers, and some report lengths they do not
// enforce).
inline constexpr long kMinColumnPrecision = 254;

using ResultText = TextBuffer<1024>;

// Executes `statement` (writable: aliases are removed from its select list)
// on the current level through the connection for `connect_text`. Empties
// result_text first and leaves the outcome or diagnostic there.
int execute_statement(const char* connect_text, char* statement, ResultText& result_text,
                      int& affected_rows);

// Fetches the next row of the current level's statement: kDbRow, or
// kDbNoRows once none is left (the statement is then released).
int fetch_row();

// Around each run of a row-loop body: the body's statements get a level of
// their own, and the columns they bind are forgotten afterwards.
void push_statement_level();
void pop_statement_level();

// Iterates over the column names of the latest statement that had result
// columns; next_result_column gives nullptr after the last.
void rewind_result_columns();
const char* next_result_column();

// Releases every statement, connection and column buffer.
void close_database();

// Number of column entries in use (for tests).
int bound_column_count();

}  // namespace vexil
