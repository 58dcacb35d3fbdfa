// Result items of the SQL command: the connection text, the statement as
// sent, the outcome text, counts and status, and the text buffers that the
// built-in variables row, rows_affected, sql_statement, sql_error,
// sql_result and sql_status show.
#pragma once

#include "cgi/text.hpp"

namespace vexil {

struct ResultItems {
    const char* connection_text = nullptr;  // connect text; nullptr or "" means none given
    bool connection_expanded = false;       // references in it have been expanded
    TextBuffer<4096> form_connection;       // the form's "database" text, expanded
    TextBuffer<8192> statement_text;        // the statement as sent (sql_statement)
    TextBuffer<1024> result_text;           // outcome or diagnostic (sql_result, sql_error)
    int affected_rows = 0;                  // row count of the last statement
    int row_counter = 0;                    // number of the current row
    int statement_status = 0;               // status of the last execution or fetch
    bool table_mode = false;                // set by TABLE, read by the row loop
    bool form_mode = false;                 // set by UPDATEFORM, read by the row loop
    TextBuffer<16> status_text;             // sql_status
    TextBuffer<12> rows_affected_text;      // rows_affected
    TextBuffer<12> row_text;                // row
};

ResultItems& result_items();
void reset_result_items();

}  // namespace vexil
