// Update form.
#include "forms/update_form.hpp"

#include <cstring>
#include <string>

#include "base/text.hpp"
#include "forms/qbe.hpp"
#include "db/results.hpp"
#include "forms/table_output.hpp"
#include "base/scratch.hpp"
#include "request/form_data.hpp"
#include "expr/substitute.hpp"
#include "values/variable_table.hpp"

namespace vexil {

namespace {

// The form's ACTION: the start-up value script_name (form field, else the
// CGI variable), else whatever variable of that name the template set.
const char* script_name() {
    const char* name = form_state().script_name;
    if (name[0] != '\0') return name;
    name = get_variable("script_name");
    return std::strcmp(name, kEmptyMark) == 0 ? "" : name;
}

// Writes a name into an assignment or condition: "%s" or "\"%s\"".
void append_column_name(std::string& sql, const char* name) {
    bool blank = std::strchr(name, ' ') != nullptr;
    if (blank) sql += '"';
    sql += name;
    if (blank) sql += '"';
}

// "name='$name$'" for a text column, "name=$name$" otherwise.
void append_assignment(std::string& sql, const char* name, bool text) {
    append_column_name(sql, name);
    sql += text ? "='$" : "=$";
    sql += name;
    sql += text ? "$'" : "$";
}

std::string label_of(const char* name) {
    TextBuffer<512> label(name);
    label_from_name(label.data());
    return std::string(label.view());
}

std::string key_row(const char* name) {
    std::string label = label_of(name);
    std::string n(name);
    return "<TR><TD ALIGN=\"right\"><B>" + label + ":</B></TD><TD><B>$" + n + "$</B><INPUT NAME=\"" +
           n + "\" TYPE=\"hidden\" VALUE=\"$" + n + "$\"></TD></TR>\n";
}

// A browser drops the newline right after <TEXTAREA> but keeps one before
// </TEXTAREA>, so the value is followed directly by the closing tag: the text
// posted back is exactly the stored text.
std::string field_row(const char* name, int size, int rows) {
    std::string label = label_of(name);
    std::string n(name);
    std::string head = "<TR><TD ALIGN=\"right\"><B>" + label + ":</B></TD><TD>";
    if (size < 100 && rows == 0) {
        return head + "<INPUT NAME=\"" + n + "\" SIZE=\"" + std::to_string(size) + "\" VALUE=\"$" + n +
               "$\"></TD></TR>\n";
    }
    int columns, lines;
    if (rows != 0) {
        columns = size > rows ? size : rows;
        lines = size > rows ? rows : size;
    } else {
        lines = 2;
        columns = size / 2;
        while (columns > 64) {
            ++lines;
            columns = size / lines;
        }
        if (lines * columns != size) ++columns;
    }
    return head + "<TEXTAREA NAME=\"" + n + "\" COLS=\"" + std::to_string(columns) + "\" ROWS=\"" +
           std::to_string(lines) + "\" WRAP=\"virtual\">\n$" + n + "$</TEXTAREA></TD></TR>\n";
}

}  // namespace

void build_update_form(char* options, char* row_template, TableHeader& table_header) {
    row_template[0] = '\0';
    const char* action = script_name();
    if (action[0] == '\0') {
        report_error("No SCRIPT_NAME variable input from CGI or form");
        return;
    }
    char* saved_top = scratch_top();
    std::string header = "<FORM METHOD=\"POST\" ACTION=\"";
    append_html_escaped(header, action);
    header += "\"><TABLE>\n";

    TextBuffer<kStatementSize>& sql_buffer = result_items().statement_source;
    std::string statement(sql_buffer.view());
    std::string rows;
    std::string where;
    const char* input_template = nullptr;
    bool table_given = false;
    int keys = 0, columns = 0;

    // Ends the command: what was built goes to the header, the loop buffer
    // and the SQL buffer. A form or statement that does not fit is refused
    // whole, since a cut one would post back an UPDATE that loses data.
    auto finish = [&](const char* message) {
        if (statement.size() >= sql_buffer.bytes() || rows.size() >= kRowTemplateSize ||
            header.size() >= kTableHeaderSize) {
            message = "Too many columns for UPDATEFORM command";
            rows.clear();
        } else {
            sql_buffer.assign(statement);
        }
        table_header.assign(header);
        copy_bounded(row_template, kRowTemplateSize, rows);
        scratch_set_top(saved_top);
        if (message != nullptr) report_error(message);
        return message == nullptr;
    };

    char* cursor = options;
    char* value;
    while (char* key = next_option_item(cursor, value)) {
        if (value != nullptr) {
            char* expanded = expand_option_value(value);
            if (starts_with_nocase(key, "TABLE", 5)) {
                statement = "UPDATE ";
                statement += expanded;
                statement += " SET ";
                table_given = true;
            } else if (starts_with_nocase(key, "TEMPLATE", 8) || starts_with_nocase(key, "FILE", 4)) {
                input_template = expanded;
            } else if (starts_with_nocase(key, "KEY", 3)) {
                char* list = expanded;
                while (*list != '\0') {
                    char* comma = std::strchr(list, ',');
                    if (comma != nullptr) *comma = '\0';
                    int size, lines;
                    bool text = parse_column_spec(list, size, lines);
                    where += keys == 0 ? " WHERE " : " AND ";
                    append_assignment(where, list, text);
                    rows += key_row(list);
                    ++keys;
                    if (comma == nullptr) break;
                    list = comma + 1;
                    while (*list == ' ') ++list;
                }
            } else {
                error_text().format("Unrecognized option for UPDATEFORM: %s", key);
                finish(error_text().c_str());
                return;
            }
            continue;
        }
        if (!table_given) {
            finish("No table defined for update in UPDATEFORM command");
            return;
        }
        if (columns > 0) statement += ",";
        int size, lines;
        bool text = parse_column_spec(key, size, lines);
        append_assignment(statement, key, text);
        if (!text && size == 50) size = 12;
        rows += field_row(key, size, lines);
        ++columns;
    }

    if (rows.empty()) {
        finish("No columns defined in UPDATEFORM command");
        return;
    }
    if (keys == 0) {
        rows.clear();
        finish("No key field defined for UPDATEFORM command");
        return;
    }
    if (input_template != nullptr) {
        header += "<INPUT NAME=\"input\" TYPE=\"hidden\" VALUE=\"";
        append_html_escaped(header, input_template);
        header += "\">\n";
    }
    statement += where;
    if (finish(nullptr)) forms_state().form_mode = true;
}

void write_form_end(OutputChannel& output) {
    const ResultItems& r = result_items();
    std::string end = "</TABLE>\n<INPUT NAME=\"database\" TYPE=\"hidden\" VALUE=\"";
    append_html_escaped(end, r.connection_text ? r.connection_text : "");
    end += "\">\n<INPUT NAME=\"sql\" TYPE=\"hidden\" VALUE=\"";
    append_html_escaped(end, r.statement_source.view());
    end += "\">\n<P><INPUT TYPE=\"submit\" VALUE=\"Update\"></FORM>\n";
    write_fragment(end, output);
}

}  // namespace vexil
