// TABLE output: a heading from the column names of the latest result and a
// row of $column$ cells that the row loop expands once per row.
#include "forms/table_output.hpp"

#include "base/text.hpp"
#include "db/odbc_session.hpp"

namespace vexil {

std::string label_from_name(std::string_view name) {
    std::string label(name);
    if (label.empty()) return label;
    label[0] = ascii_upper(label[0]);
    for (std::size_t i = 1; i < label.size(); ++i) {
        if (label[i] != '_') continue;
        label[i] = ' ';
        if (i + 1 < label.size() && is_ascii_letter(label[i + 1])) label[i + 1] = ascii_upper(label[i + 1]);
    }
    return label;
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
        header.append("<TH>");
        header.append(label_from_name(name));
        header.append("</TH>");
    }
    header.append("</TR>\n");
    append_row("</TR>\n");
    forms_state().table_mode = true;
}

}  // namespace vexil
