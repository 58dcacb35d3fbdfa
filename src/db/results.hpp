// Result items of the SQL command: the connect text, the statement as sent,
// the outcome text, counts and status, and the text buffers that the
// built-in variables row, rows_affected, sql_statement, sql_error,
// sql_result and sql_status show. The SQL command (db/sql_command.cpp)
// fills them; the row loops and the form commands read them.
#pragma once

#include "base/text.hpp"
#include "db/odbc_session.hpp"
#include "values/variable_table.hpp"

namespace vexil {

inline constexpr std::size_t kStatementSize = 8192;

struct ResultItems {
    // The connect text: the DATABASE command's or the form's "database"
    // field as written until it is expanded, then the expanded one.
    // nullptr or "" means none given.
    const char* connection_text = nullptr;
    bool connection_expanded = false;       // connection_text is the expanded text
    bool connection_refused = false;        // a locked run's connect text took a value from outside
    ConnectTextBuffer database_command;     // the DATABASE command's text as written
    ConnectTextBuffer expanded_connection;  // the connect text with its references expanded
    TextBuffer<kStatementSize> statement_source;  // the SQL command's text, or a statement a form built
    TextBuffer<kStatementSize> statement_text;    // the statement as sent (sql_statement)
    ResultText result_text;                 // outcome or diagnostic (sql_result, sql_error)
    int affected_rows = 0;                  // row count of the last statement
    int row_counter = 0;                    // number of the current row
    DbStatus statement_status = kDbRow;     // status of the last execution or fetch
    TextBuffer<16> status_text;             // sql_status
    TextBuffer<12> rows_affected_text;      // rows_affected
    TextBuffer<12> row_text;                // row
};

ResultItems& result_items();

// Binds the six result built-ins to the buffers of `results`.
void bind_result_variables(VariableTable& table, ResultItems& results);

}  // namespace vexil
