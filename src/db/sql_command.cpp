// The SQL command and the steps it shares with OPTIONLIST: the decision
// about a missing connect text, the connect text's expansion, and the
// substitution and execution of a statement, with the result items
// published for the template afterwards.
#include "db/sql_command.hpp"

#include <charconv>
#include <string>

#include "base/policy.hpp"
#include "base/output.hpp"
#include "db/odbc_session.hpp"
#include "db/results.hpp"
#include "expr/expr_state.hpp"
#include "expr/substitute.hpp"

namespace vexil {

namespace {

void publish(ResultItems& r) {
    r.rows_affected_text.assign_number(r.affected_rows);
    r.row_text.assign_number(r.row_counter);
    r.status_text.assign_number(int(r.statement_status));
}

// Expands the connect text's references into the expanded-connection
// buffer. A DATABASE text that filled its buffer was cut when it was read;
// it is kept as it is, so that it stays too long and is refused.
void expand_connection_text() {
    ResultItems& r = result_items();
    if (r.connection_expanded) return;
    OriginProbe probe;
    if (r.connection_text == r.database_command.c_str() && r.database_command.full()) {
        r.expanded_connection.assign(r.database_command.view());
    } else {
        std::string source(r.connection_text);
        substitute_variables(source.data(), r.expanded_connection.data(), r.expanded_connection.bytes(),
                             kOptionsPlain);
        r.expanded_connection.sync_length();
    }
    // A connect text names drivers and files: in a locked run a request,
    // cookie or stored value never chooses them.
    r.connection_refused = is_locked_run() && probe.outside();
    if (r.connection_refused) r.expanded_connection.clear();
    r.connection_text = r.expanded_connection.c_str();
    r.connection_expanded = true;
}

// A fetch that failed (a lost connection, an error the server finds only
// while reading rows) ends the rows as an error: a page cut short says so,
// with the driver's message in sql_error and a negative sql_status.
void report_fetch_failure(ResultItems& r) {
    r.status_text.assign_number(int(r.statement_status));
    report_error(r.result_text.view());
}
}  // namespace

void use_connect_text(std::string_view text) {
    ResultItems& r = result_items();
    r.connection_refused = false;
    r.database_command.assign(text);
    r.connection_text = r.database_command.c_str();
    r.connection_expanded = false;
}

const char* connect_text() {
    const char* text = result_items().connection_text;
    return text != nullptr ? text : "";
}

TextBuffer<kStatementSize>& statement_source() { return result_items().statement_source; }

DbStatus statement_status() { return result_items().statement_status; }
const char* statement_outcome() { return result_items().result_text.c_str(); }

DbStatus fetch_next_row(bool count) {
    ResultItems& r = result_items();
    r.statement_status = fetch_row();
    if (count && r.statement_status == kDbRow) {
        ++r.row_counter;
        r.row_text.assign_number(r.row_counter);
    }
    if (r.statement_status == kDbFailed) report_fetch_failure(r);
    return r.statement_status;
}

int row_number() { return result_items().row_counter; }

void restore_row_number(int row) {
    ResultItems& r = result_items();
    r.row_counter = row;
    r.row_text.assign_number(r.row_counter);
}

Status require_connection() {
    ResultItems& r = result_items();
    if (!r.connection_refused && (r.connection_text == nullptr || r.connection_text[0] == '\0')) {
        r.statement_status = kDbFailed;
        r.result_text.assign("No database connection string given");
        return Status::failure("<P><B>%s</B><P>\n", kMissingConnectionText);
    }
    expand_connection_text();
    if (r.connection_refused) {
        r.statement_status = kDbFailed;
        r.result_text.assign("The connect text takes a value from outside the template; it was not used.");
        return Status::failure("%s", r.result_text.c_str());
    }
    return Status::ok();
}

SqlDialect statement_dialect() {
    ResultItems& r = result_items();
    if (r.connection_refused || r.connection_text == nullptr || r.connection_text[0] == '\0') return SqlDialect{};
    expand_connection_text();
    if (r.connection_refused) return SqlDialect{};
    return sql_dialect(r.connection_text);
}

void execute_substituted(const char* statement) {
    ResultItems& r = result_items();
    // The statement is substituted from a copy: the SQL buffer keeps the
    // text as written (an update form may append its WHERE clause to it).
    std::string source(statement);
    // Only a statement with a reference may get a value that needs its
    // backslashes doubled; any other runs without connecting first.
    bool escapes = source.find('$') != std::string::npos && sql_dialect(r.connection_text).backslash_escapes;
    Status placed = substitute_statement(source.data(), r.statement_text.data(), r.statement_text.bytes(), escapes);
    r.statement_text.sync_length();
    if (placed.is_ok() && r.statement_text.view().find_first_not_of(" \t\r\n") == std::string_view::npos) {
        // Nothing to run (an empty form field in its place, say): said
        // plainly rather than in whatever words the driver has for it.
        placed = Status::failure("No SQL statement given");
    }
    if (!placed.is_ok()) {
        // Nothing runs: a statement with a value out of place, or one that
        // would have been cut.
        r.result_text.assign(placed.message());
        r.statement_status = kDbFailed;
        report_error(r.result_text.view());
        return;
    }
    r.statement_status =
        execute_statement(r.connection_text, r.statement_text.data(), r.result_text, r.affected_rows);
    r.statement_text.sync_length();
}

void run_sql_command(const char* statement) {
    ResultItems& r = result_items();
    r.row_counter = 0;
    r.affected_rows = 0;
    if (Status missing = require_connection(); !missing.is_ok()) {
        // The missing-connection paragraph is the program's own markup.
        report_error(missing.message(), !r.connection_refused);
    } else if (statement[0] != '\0') {  // an empty one (a QBE that built none) does nothing
        execute_substituted(statement);
        // A statement the time limit stopped is told on the page.
        if (r.statement_status == kDbFailed && run_time_is_up()) report_error(r.result_text.view());
        if (r.statement_status == kDbRow) {
            r.statement_status = fetch_row();
            if (r.statement_status == kDbNoRows) r.result_text.assign("No rows selected");
            if (r.statement_status == kDbRow) r.row_counter = 1;
            if (r.statement_status == kDbFailed) report_fetch_failure(r);
        }
    }
    publish(r);
}

}  // namespace vexil
