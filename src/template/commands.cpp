// Command handlers: argument reading and the work of each command, or the
// hand-over to the subsystem that does it.
//
// The scanner finds a keyword and calls its handler here; the handler reads
// its argument text into the shared command buffer, acts (or passes the
// text to conditions, row loops, the database or forms layer), reports its
// own failures and tells the scanner whether the run goes on.
#include "template/commands.hpp"

#include <cstring>
#include <string_view>

#include "base/policy.hpp"
#include "base/text.hpp"
#include "base/tracked_memory.hpp"
#include "db/columns.hpp"
#include "expr/evaluator.hpp"
#include "expr/expr_state.hpp"
#include "request/form_data.hpp"
#include "forms/option_list.hpp"
#include "forms/qbe.hpp"
#include "db/results.hpp"
#include "db/sql_command.hpp"
#include "forms/table_output.hpp"
#include "forms/update_form.hpp"
#include "base/scratch.hpp"
#include "template/aux_commands.hpp"
#include "template/conditions.hpp"
#include "template/row_loop.hpp"
#include "values/mappings.hpp"
#include "expr/substitute.hpp"
#include "values/variable_table.hpp"

namespace vexil {

namespace {
// Reads the argument text into the shared command buffer.
char* read_into_command_buffer(ScanContext& scan, bool* found = nullptr) {
    TextBuffer<kCommandTextSize>& buffer = scanner_state().command;
    bool closed = read_command_text(scan.source, scan.keyword, buffer);
    if (found != nullptr) *found = closed;
    return buffer.data();
}

// Keywords as the scanner matches them (a trailing blank is part of the
// match); a handler that skips a keyword skips exactly this much.
constexpr std::string_view kIfWord = "IF";
constexpr std::string_view kIfNewWord = "IFNEW";
constexpr std::string_view kEndifWord = "ENDIF";
constexpr std::string_view kEachrowWord = "EACHROW";
constexpr std::string_view kTableWord = "TABLE";
constexpr std::string_view kUpdateformWord = "UPDATEFORM ";

// The text after `word` (which text begins with) and the blanks that follow.
char* after_word(char* text, std::string_view word) {
    char* p = text + word.size();
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

bool if_new_test(char* text) { return test_if_new(text); }
bool if_condition_test(char* text) { return eval_if_condition(text); }

// SET: each item's value is an expression. The result goes to a result
// column of that name, else a form field, else a variable.
void apply_set_list(char* text) {
    char* cursor = text;
    char* name;
    char* value;
    while (next_assignment(cursor, name, value, false)) {
        // A result computed from a value from outside is from outside too.
        OriginProbe probe;
        const char* result = eval_expression(value);
        if (ColumnBuffer column = find_column(name); column.value != nullptr) {
            copy_bounded(column.value, column.size, result);
        } else if (FormField* field = find_form_field(name); field != nullptr) {
            std::size_t needed = std::strlen(result) + 1;
            if (needed > field->capacity) {
                field->value = static_cast<char*>(tracked_alloc(needed + 24));
                field->capacity = static_cast<std::uint32_t>(needed + 24);
            }
            copy_bounded(field->value, field->capacity, result);
        } else {
            set_variable(name, result, probe.outside());
        }
    }
}
}  // namespace

RunStatus handle_if(ScanContext& scan) {
    bool is_if_new = std::string_view(scan.keyword).starts_with(kIfNewWord);
    char* argument = read_into_command_buffer(scan);
    open_if_level(false, is_if_new ? if_new_test : if_condition_test, argument);
    return kRunGoesOn;
}

RunStatus handle_else(ScanContext& scan) {
    switch_if_level();
    bool found;
    char* argument = read_into_command_buffer(scan, &found);
    if (starts_with_keyword(argument, kIfWord)) {
        // IFNEW only in capitals: "ELSE ifnew x" is an IF whose expression
        // begins with "new".
        if (std::string_view(argument).starts_with(kIfNewWord)) {
            open_if_level(true, if_new_test, after_word(argument, kIfNewWord));
        } else {
            open_if_level(true, if_condition_test, argument + kIfWord.size());
        }
    } else if (!found) {
        report_error("Missing --> for ELSE statement");
    }
    return kRunGoesOn;
}

RunStatus handle_endif(ScanContext& scan) {
    close_if_level();
    char* close = std::strstr(scan.keyword, "-->");
    if (close != nullptr) {
        scan.source.position = close + 3;
    } else {
        report_error("Missing --> for ENDIF statement");
        scan.source.position = scan.keyword + kEndifWord.size();
    }
    return kRunGoesOn;
}

RunStatus handle_set(ScanContext& scan) {
    apply_set_list(read_into_command_buffer(scan));
    return kRunGoesOn;
}

RunStatus handle_database(ScanContext& scan) {
    TextBuffer<kCommandTextSize>& text = scanner_state().command;
    read_command_text(scan.source, scan.keyword, text);
    use_connect_text(text.view());
    return kRunGoesOn;
}

RunStatus handle_sql(ScanContext& scan) {
    TextBuffer<kStatementSize>& sql = statement_source();
    read_command_text(scan.source, scan.keyword, sql);
    leave_row_modes();
    run_sql_command(sql.data());
    return kRunGoesOn;
}

RunStatus handle_qbe(ScanContext& scan) {
    char* statement = build_qbe_statement(read_into_command_buffer(scan));
    leave_row_modes();
    run_sql_command(statement);
    return kRunGoesOn;
}

namespace {
// The row-loop commands: without a loop buffer (three loops running) the
// command is skipped and the scan goes on right after its keyword; otherwise
// `fill` writes the body into the buffer and the loop runs it. The loop's own
// status (an EXIT or REDIRECT in its body) ends only the loop; a failure
// ends the run.
template <typename Fill>
RunStatus run_loop_command(ScanContext& scan, std::string_view keyword, Fill fill) {
    char* body = nullptr;
    if (Status buffer = get_loop_buffer(body); !buffer.is_ok()) {
        report_error(buffer.message());
        scan.source.position = scan.keyword + keyword.size();
        return kRunGoesOn;
    }
    fill(body);
    RunStatus status = run_row_loop(body, scan.output, scan.permissions);
    return status == kRunFailed ? kRunFailed : kRunGoesOn;
}
}  // namespace

RunStatus handle_eachrow(ScanContext& scan) {
    return run_loop_command(scan, kEachrowWord, [&](char* body) { read_loop_body(scan.source, scan.keyword, body); });
}

RunStatus handle_table(ScanContext& scan) {
    return run_loop_command(
        scan, kTableWord, [&](char* body) { build_table_template(read_into_command_buffer(scan), body, loop_header()); });
}

RunStatus handle_updateform(ScanContext& scan) {
    return run_loop_command(
        scan, kUpdateformWord, [&](char* body) { build_update_form(read_into_command_buffer(scan), body, loop_header()); });
}

RunStatus handle_default(ScanContext& scan) {
    apply_default_list(read_into_command_buffer(scan));
    return kRunGoesOn;
}

RunStatus handle_translate(ScanContext& scan) {
    define_translation(read_into_command_buffer(scan));
    return kRunGoesOn;
}

RunStatus handle_format(ScanContext& scan) {
    define_format_list(read_into_command_buffer(scan));
    return kRunGoesOn;
}

RunStatus handle_exec(ScanContext& scan) {
    char* text = read_into_command_buffer(scan);
    if (is_locked_run() && !run_policy().allow_exec) {
        report_error("EXEC is not allowed in a web run of this site (VEXIL_ALLOW_EXEC is not set).");
        return kRunGoesOn;
    }
    // A line that filled its buffer may have been cut; it is refused whole
    // rather than run as a different command.
    WorkArea work = scratch_work_area();
    Status status = scanner_state().command.full() ? Status::failure("EXEC command line too long; not run")
                                                   : substitute_command_line(text, work.start, work.size);
    if (status.is_ok()) status = run_exec_command(work.start, scan.output);
    if (!status.is_ok()) report_error(status.message());
    return kRunGoesOn;
}

RunStatus handle_include(ScanContext& scan) {
    char* name = read_into_command_buffer(scan);
    RunStatus status = run_template_file(name, scan.output);
    return status == kRunEnd ? kRunGoesOn : status;
}

RunStatus handle_redirect(ScanContext& scan) {
    read_command_text(scan.source, scan.keyword, scanner_state().redirect_target);
    return kRunRedirect;
}

RunStatus handle_optionlist(ScanContext& scan) {
    write_option_list(build_option_list_statement(read_into_command_buffer(scan)), scan.output);
    return kRunGoesOn;
}

RunStatus handle_output(ScanContext& scan) {
    Status switched = switch_output(read_into_command_buffer(scan), scan.output);
    if (switched.is_ok()) return kRunGoesOn;
    report_error(switched.message());
    return kRunFailed;
}

RunStatus handle_exit(ScanContext&) {
    close_all_if_levels();
    return kRunExit;
}

}  // namespace vexil
