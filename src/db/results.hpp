// Result items of the SQL command: the connection text, the statement as
// sent, the outcome text, counts and status, and the text buffers that the
// built-in variables row, rows_affected, sql_statement, sql_error,
// sql_result and sql_status show.
#pragma once

#include "base/text.hpp"
#include "values/variable_table.hpp"

namespace vexil {

inline constexpr std::size_t kStatementSize = 8192;

struct ResultItems {
    const char* connection_text = nullptr;  // connect text; nullptr or "" means none given
    bool connection_expanded = false;       // references in it have been expanded
    TextBuffer<256> database_command;       // the DATABASE command's text, expanded in place
    TextBuffer<4096> form_connection;       // the form's "database" text, expanded
    TextBuffer<kStatementSize> statement_source;  // the SQL command's text, or a statement a form built
    TextBuffer<kStatementSize> statement_text;    // the statement as sent (sql_statement)
    TextBuffer<1024> result_text;           // outcome or diagnostic (sql_result, sql_error)
    int affected_rows = 0;                  // row count of the last statement
    int row_counter = 0;                    // number of the current row
    int statement_status = 0;               // status of the last execution or fetch
    TextBuffer<16> status_text;             // sql_status
    TextBuffer<12> rows_affected_text;      // rows_affected
    TextBuffer<12> row_text;                // row
};

ResultItems& result_items();

// Binds the six result built-ins to the buffers of `results`.
void bind_result_variables(VariableTable& table, ResultItems& results);

}  // namespace vexil
