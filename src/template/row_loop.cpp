// Row loops: EACHROW bodies, and the row templates TABLE and UPDATEFORM
// build, run once per fetched row. Each run of a body gets a statement level
// of its own, so a query inside it does not disturb the outer loop's rows.
#include "template/row_loop.hpp"

#include <cstring>
#include <string>
#include <new>
#include <string_view>

#include "base/output.hpp"
#include "base/policy.hpp"
#include "db/odbc_session.hpp"
#include "db/sql_command.hpp"
#include "expr/substitute.hpp"
#include "forms/update_form.hpp"

namespace vexil {

namespace {
// The reader's limit for the lines of a loop body.
constexpr std::size_t kBodyReadLimit = 2048;

void release_loop_buffers() {
    for (auto& buffer : row_loop_state().buffers) buffer.reset();
}
}  // namespace

TableHeader& loop_header() {
    RowLoopState& loops = row_loop_state();
    int depth = loops.loop_depth < kMaxLoopDepth ? loops.loop_depth : kMaxLoopDepth - 1;
    return loops.headers[std::size_t(depth)];
}

Status get_loop_buffer(char*& body) {
    RowLoopState& loops = row_loop_state();
    if (loops.loop_depth >= kMaxLoopDepth) return Status::failure("Too many nested SQL statements");
    auto& buffer = loops.buffers[loops.loop_depth];
    if (!buffer) {
        buffer.reset(new (std::nothrow) char[kLoopBufferSize]);
        if (!buffer) return Status::failure("Out of memory for EACHROW buffer");
        buffer[0] = '\0';
    }
    body = buffer.get();
    return Status::ok();
}

char* find_loop_end(char* text, int& nesting) {
    constexpr std::string_view kOpen = "<!--";
    for (char* p = std::strstr(text, kOpen.data()); p != nullptr;
         p = std::strstr(p + kOpen.size(), kOpen.data())) {
        const char* word = p + kOpen.size();
        if (starts_with_keyword(word, "ENDROW")) {
            if (nesting == 0) return p;
            --nesting;
        } else if (starts_with_keyword(word, "EACHROW")) {
            ++nesting;
        }
    }
    return nullptr;
}

void read_loop_body(TemplateSource& source, char* keyword, char* buffer) {
    BoundedWriter body(buffer, kLoopBufferSize);

    char* close = std::strstr(keyword, "-->");
    if (close == nullptr) {
        report_error("Missing --> for EACHROW command");
        source.position = keyword + std::strlen(keyword);
        return;
    }
    char* p = close + 3;
    while (*p == ' ' || *p == '\t') ++p;
    int nesting = 0;
    char* end = find_loop_end(p, nesting);
    while (end == nullptr) {
        body.append(p, std::strlen(p));
        if (!read_next_line(source, kBodyReadLimit)) {
            report_error("Missing ENDROW to mark end of EACHROW");
            source.position = p + std::strlen(p);
            return;
        }
        p = source.position;
        end = find_loop_end(p, nesting);
    }
    char* last = end;
    while (last > p && (last[-1] == ' ' || last[-1] == '\t')) --last;
    body.append(p, std::size_t(last - p));

    char* endrow_close = std::strstr(end + 6, "-->");
    if (endrow_close != nullptr) {
        source.position = endrow_close + 3;
    } else {
        report_error("Missing --> to mark end of ENDROW command");
        source.position = end + std::strlen(end);
    }
}

namespace {
// Runs the body for the current row and every row after it. The body's
// statements get a level of their own, and the row number is set back after
// each run, since a query inside the body numbers its own rows.
RunStatus run_body_per_row(char* body, OutputChannel& output, CommandPermissions permissions,
                           std::string_view header) {
    const FormsState& forms = forms_state();
    int options = forms.form_mode ? kOptionsFormRow : kOptionsLoopBody;
    RunStatus result;
    do {
        if (forms.form_mode) write_fragment(header, output);
        int saved_row = row_number();
        push_statement_level();
        result = run_template_text(body, output, permissions, options);
        restore_row_number(saved_row);
        pop_statement_level();
        if (result != kRunEnd) break;
        if (forms.form_mode) write_form_end(output);
    } while (fetch_next_row(true) == kDbRow);
    return result;
}
}  // namespace

RunStatus run_row_loop(char* body, OutputChannel& output, CommandPermissions permissions) {
    const FormsState& forms = forms_state();
    RowLoopState& loops = row_loop_state();
    int depth = loops.loop_depth++;
    std::string_view header = loops.headers[std::size_t(depth)].view();
    CommandPermissions body_permissions{permissions.bits & kLoopBodyCommands};
    RunStatus result = kRunGoesOn;

    if (body[0] == '\0') {
        // Nothing to run.
    } else if (statement_status() != kDbRow) {
        if (forms.table_mode || forms.form_mode) {
            // The outcome may be a driver's message that echoes a value.
            std::string message = "<P><B>";
            if (is_locked_run()) {
                append_html_escaped(message, statement_outcome(), true);
            } else {
                message += statement_outcome();
            }
            message += "</B><P>\n";
            write_fragment(message, output);
        }
    } else {
        if (forms.table_mode) write_fragment(header, output);
        result = run_body_per_row(body, output, body_permissions, header);
        if (forms.table_mode && result != kRunFailed) write_fragment("</TABLE>\n", output);
    }

    if (--loops.loop_depth == 0) release_loop_buffers();
    return result;
}

}  // namespace vexil
