// TABLE output: a heading from the column names of the latest result and a
// row of $column$ cells that the row loop expands once per row.
#include "forms/table_output.hpp"

#include "base/text.hpp"
#include "db/odbc_session.hpp"

namespace vexil {

void label_from_name(char* text) {
    if (text[0] == '\0') return;
    text[0] = ascii_upper(text[0]);
    for (char* p = text + 1; *p != '\0'; ++p) {
        if (*p != '_') continue;
        *p = ' ';
        if (is_ascii_letter(p[1])) p[1] = ascii_upper(p[1]);
    }
}

void build_table_template(const char* attributes, char* row_template, TableHeader& header) {
    header.format("<TABLE %s><TR>", attributes);
    std::size_t length = 0;
    auto append_row = [&](std::string_view piece) {
        length += copy_bounded(row_template + length, kRowTemplateSize - length, piece);
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
    forms_state().table_mode = true;
}

}  // namespace vexil
