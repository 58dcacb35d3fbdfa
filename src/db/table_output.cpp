// TABLE output.
#include "db/table_output.hpp"

#include <array>
#include <cstring>

#include "cgi/text.hpp"
#include "db/odbc_session.hpp"
#include "db/results.hpp"
#include "template/row_loop.hpp"

namespace vexil {

namespace {
std::array<TextBuffer<kTableHeaderSize>, kMaxLoopDepth> g_headers;

TextBuffer<kTableHeaderSize>& current_header() {
    int depth = row_loop_state().loop_depth;
    if (depth < 0) depth = 0;
    if (depth >= kMaxLoopDepth) depth = kMaxLoopDepth - 1;
    return g_headers[std::size_t(depth)];
}
}  // namespace

std::string_view table_header(int depth) {
    if (depth < 0 || depth >= kMaxLoopDepth) return {};
    return g_headers[std::size_t(depth)].view();
}

void set_table_header(std::string_view text) { current_header().assign(text); }
void append_table_header(std::string_view text) { current_header().append(text); }

void label_from_name(char* text) {
    if (text[0] == '\0') return;
    text[0] = ascii_upper(text[0]);
    for (char* p = text + 1; *p != '\0'; ++p) {
        if (*p != '_') continue;
        *p = ' ';
        if (is_ascii_letter(p[1])) p[1] = ascii_upper(p[1]);
    }
}

void build_table_template(const char* attributes, char* row_template) {
    TextBuffer<kTableHeaderSize>& header = current_header();
    header.format("<TABLE %s><TR>", attributes);
    std::size_t length = 0;
    auto append_row = [&](std::string_view piece) {
        length += copy_bounded(row_template + length, kLoopBufferSize - length, piece);
    };
    row_template[0] = '\0';
    append_row("<TR>");
    rewind_result_columns();
    for (const char* name = next_result_column(); name != nullptr; name = next_result_column()) {
        append_row("<TD>$");
        append_row(name);
        append_row("$</TD>");
        TextBuffer<512> label(name);
        label_from_name(label.data());
        header.append("<TH>");
        header.append(label.view());
        header.append("</TH>");
    }
    header.append("</TR>\n");
    append_row("</TR>\n");
    result_items().table_mode = true;
}

}  // namespace vexil
