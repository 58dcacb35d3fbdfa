// The SQL command and its result variables.
#include "db/sql_command.hpp"

#include <string>

#include "db/odbc_session.hpp"
#include "db/results.hpp"
#include "base/output.hpp"
#include "base/scratch.hpp"
#include "expr/substitute.hpp"

namespace vexil {

namespace {
void publish(ResultItems& r) {
    r.rows_affected_text.format("%d", r.affected_rows);
    r.row_text.format("%d", r.row_counter);
    r.status_text.format("%d", r.statement_status);
}

}  // namespace

void expand_connection_text() {
    ResultItems& r = result_items();
    if (r.connection_expanded || r.connection_text == nullptr) return;
    std::string source(r.connection_text);
    // A DATABASE command's text is expanded within its own 256-byte buffer;
    // the form's "database" field may be longer and has a buffer of its own.
    TextBuffer<256>& command = r.database_command;
    if (r.connection_text == command.c_str()) {
        substitute_variables(source.data(), command.data(), command.bytes(), kOptionsPlain);
        command.sync_length();
    } else {
        substitute_variables(source.data(), r.form_connection.data(), r.form_connection.bytes(),
                             kOptionsPlain);
        r.form_connection.sync_length();
        r.connection_text = r.form_connection.c_str();
    }
    r.connection_expanded = true;
}

void execute_substituted(const char* statement) {
    ResultItems& r = result_items();
    // The statement is substituted from a copy: the SQL buffer keeps the
    // text as written (an update form may append its WHERE clause to it).
    std::string source(statement);
    substitute_variables(source.data(), r.statement_text.data(), r.statement_text.bytes(), kOptionsSql);
    r.statement_text.sync_length();
    r.statement_status =
        execute_statement(r.connection_text, r.statement_text.data(), r.result_text, r.affected_rows);
    r.statement_text.sync_length();
}

void run_sql_command(const char* statement) {
    ResultItems& r = result_items();
    r.row_text.assign("0");
    r.rows_affected_text.assign("0");
    r.status_text.assign("-1");
    r.row_counter = 0;
    r.affected_rows = 0;

    if (r.connection_text == nullptr || r.connection_text[0] == '\0') {
        error_text().format("<P><B>%s</B><P>\n", kMissingConnectionText);
        report_error(error_text().view());
        r.statement_status = -1;
        r.result_text.assign("No database connection string given");
        publish(r);
        return;
    }
    expand_connection_text();
    if (statement[0] == '\0') {
        publish(r);
        return;
    }
    execute_substituted(statement);
    if (r.statement_status == kDbRow) {
        r.statement_status = fetch_row();
        if (r.statement_status == kDbNoRows) {
            r.result_text.assign("No rows selected");
        } else {
            r.row_counter = 1;
        }
    }
    publish(r);
}

}  // namespace vexil
