// Update form.
#include "db/update_form.hpp"

#include <cstring>
#include <string>

#include "cgi/text.hpp"
#include "db/qbe.hpp"
#include "db/results.hpp"
#include "db/table_output.hpp"
#include "expr/scratch.hpp"
#include "template/row_loop.hpp"
#include "template/scanner.hpp"
#include "variables/startup.hpp"
#include "variables/substitute.hpp"
#include "variables/variable_table.hpp"

namespace vexil {

namespace {

// The form's ACTION: the start-up value script_name (form field, else the
// CGI variable), else whatever variable of that name the template set.
const char* script_name() {
    const char* name = startup_script_name();
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
           std::to_string(lines) + "\" WRAP=\"virtual\">\n$" + n + "$\n</TEXTAREA></TD></TR>\n";
}

}  // namespace

void build_update_form(char* options, char* row_template) {
    std::size_t length = 0;
    auto append_row = [&](std::string_view piece) {
        length += copy_bounded(row_template + length, kLoopBufferSize - length, piece);
    };
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
    set_table_header(header);

    TextBuffer<8192>& sql_buffer = command_buffers().sql;
    std::string statement(sql_buffer.view());
    TextBuffer<1024> where;
    const char* input_template = nullptr;
    bool table_given = false;
    int keys = 0, columns = 0;

    auto finish = [&](bool keep_statement) {
        if (keep_statement) sql_buffer.assign(statement);
        scratch_set_top(saved_top);
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
                    int size, rows;
                    bool text = parse_column_spec(list, size, rows);
                    std::string condition(keys == 0 ? " WHERE " : " AND ");
                    append_assignment(condition, list, text);
                    where.append(condition);
                    append_row(key_row(list));
                    ++keys;
                    if (comma == nullptr) break;
                    list = comma + 1;
                    while (*list == ' ') ++list;
                }
            } else {
                error_text().format("Unrecognized option for UPDATEFORM: %s", key);
                report_error(error_text().view());
                finish(true);
                return;
            }
            continue;
        }
        if (!table_given) {
            report_error("No table defined for update in UPDATEFORM command");
            finish(true);
            return;
        }
        if (columns > 0) statement += ",";
        int size, rows;
        bool text = parse_column_spec(key, size, rows);
        append_assignment(statement, key, text);
        if (!text && size == 50) size = 12;
        append_row(field_row(key, size, rows));
        ++columns;
    }

    if (row_template[0] == '\0') {
        report_error("No columns defined in UPDATEFORM command");
        finish(true);
        return;
    }
    if (keys == 0) {
        report_error("No key field defined for UPDATEFORM command");
        row_template[0] = '\0';
        finish(true);
        return;
    }
    if (input_template != nullptr) {
        std::string hidden = "<INPUT NAME=\"input\" TYPE=\"hidden\" VALUE=\"";
        append_html_escaped(hidden, input_template);
        hidden += "\">\n";
        append_table_header(hidden);
    }
    statement += where.view();
    finish(true);
    result_items().form_mode = true;
}

void write_form_end(OutputChannel& output) {
    const ResultItems& r = result_items();
    std::string end = "</TABLE>\n<INPUT NAME=\"database\" TYPE=\"hidden\" VALUE=\"";
    append_html_escaped(end, r.connection_text ? r.connection_text : "");
    end += "\">\n<INPUT NAME=\"sql\" TYPE=\"hidden\" VALUE=\"";
    append_html_escaped(end, command_buffers().sql.view());
    end += "\">\n<P><INPUT TYPE=\"submit\" VALUE=\"Update\"></FORM>\n";
    write_fragment(end, output);
}

}  // namespace vexil
