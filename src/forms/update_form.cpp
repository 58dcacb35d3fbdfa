// Update form: builds, from the UPDATEFORM command's option list
// (forms/form_options.hpp), the form header, one row template of fields
// (a shown key with a hidden copy per KEY column, an input field or text
// area per column item) and the UPDATE statement that the form posts back in
// its hidden "sql" field. The row loop then writes one form per result row.
#include "forms/update_form.hpp"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/policy.hpp"
#include "base/scratch.hpp"
#include "base/status.hpp"
#include "base/text.hpp"
#include "db/columns.hpp"
#include "db/sql_command.hpp"
#include "forms/form_options.hpp"
#include "forms/table_output.hpp"
#include "request/form_data.hpp"
#include "request/signature.hpp"
#include "values/variable_table.hpp"

namespace vexil {

namespace {

constexpr const char* kNoSigningKey =
    "Edit forms are not offered: the site has no key for signing them (VEXIL_SECRET_FILE).";

// The form's ACTION: the start-up value script_name (form field, else the
// CGI variable), else whatever variable of that name the template set.
const char* script_name() {
    const char* name = form_state().script_name;
    if (name[0] != '\0') return name;
    name = get_variable("script_name");
    return std::strcmp(name, kEmptyMark) == 0 ? "" : name;
}

// "name='$name$'" for a text column, "name=$name$" otherwise.
void append_assignment(std::string& sql, std::string_view name, bool text) {
    append_column_name(sql, name, column_name_quote(name));
    sql += text ? "='$" : "=$";
    sql += name;
    sql += text ? "$'" : "$";
}

std::string key_row(const char* name) {
    std::string label = label_from_name(name);
    std::string n(name);
    return "<TR><TD ALIGN=\"right\"><B>" + label + ":</B></TD><TD><B>$" + n + "$</B><INPUT NAME=\"" +
           n + "\" TYPE=\"hidden\" VALUE=\"$" + n + "$\"></TD></TR>\n";
}

// A browser drops the newline right after <TEXTAREA> but keeps one before
// </TEXTAREA>, so the value is followed directly by the closing tag: the text
// posted back is exactly the stored text.
std::string field_row(const char* name, int size, int rows) {
    std::string label = label_from_name(name);
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

// What the command builds, piece by piece.
struct UpdateForm {
    std::string header;                   // the FORM start, then the hidden "input" field
    std::string statement;                // "UPDATE table SET a=..., b=..." and the key conditions
    std::string where;                    // " WHERE key=... AND ..."
    std::string rows;                     // the row template: key rows and field rows
    std::vector<std::string> key_names;   // the KEY names, in order
    const char* input_template = nullptr; // TEMPLATE= (or FILE=)
    bool table_given = false;
    int keys = 0;
    int columns = 0;
};

// KEY=(a, 'b', ...): a condition of the WHERE clause and a shown key with a
// hidden copy for each key column.
void add_keys(UpdateForm& form, char* list) {
    while (*list != '\0') {
        char* comma = std::strchr(list, ',');
        if (comma != nullptr) *comma = '\0';
        ColumnItem key = parse_column_item(list);
        form.where += form.keys == 0 ? " WHERE " : " AND ";
        append_assignment(form.where, list, key.text);
        form.rows += key_row(list);
        form.key_names.emplace_back(list);
        ++form.keys;
        if (comma == nullptr) break;
        list = comma + 1;
        while (*list == ' ') ++list;
    }
}

// A "key=value" option: TABLE, TEMPLATE (or FILE) or KEY; any other is
// refused.
Status take_option(UpdateForm& form, const char* key, char* value) {
    char* expanded = expand_option_value(value);
    if (starts_with_keyword(key, "TABLE")) {
        form.statement = "UPDATE ";
        form.statement += expanded;
        form.statement += " SET ";
        form.table_given = true;
    } else if (starts_with_keyword(key, "TEMPLATE") || starts_with_keyword(key, "FILE")) {
        form.input_template = expanded;
    } else if (starts_with_keyword(key, "KEY")) {
        add_keys(form, expanded);
    } else {
        return Status::failure("Unrecognized option for UPDATEFORM: %s", key);
    }
    return Status::ok();
}

// A column item: an assignment in the SET list and a field row. A column
// that is not a text column and has no size gets a field of 12 characters.
Status add_column(UpdateForm& form, char* item) {
    if (!form.table_given) return Status::failure("No table defined for update in UPDATEFORM command");
    if (form.columns > 0) form.statement += ",";
    ColumnItem column = parse_column_item(item);
    append_assignment(form.statement, item, column.text);
    if (!column.text && column.size == 50) column.size = 12;
    form.rows += field_row(item, column.size, column.rows);
    ++form.columns;
    return Status::ok();
}

Status read_options(UpdateForm& form, char* options) {
    char* cursor = options;
    char* value;
    while (char* key = next_option_item(cursor, value)) {
        Status status = value != nullptr ? take_option(form, key, value) : add_column(form, key);
        if (!status.is_ok()) return status;
    }
    return Status::ok();
}

// Checks that fields and a key were given, and ends the header and the
// statement.
Status complete_form(UpdateForm& form) {
    if (form.rows.empty()) return Status::failure("No columns defined in UPDATEFORM command");
    if (form.keys == 0) {
        form.rows.clear();
        return Status::failure("No key field defined for UPDATEFORM command");
    }
    if (form.input_template != nullptr) {
        form.header += "<INPUT NAME=\"input\" TYPE=\"hidden\" VALUE=\"";
        append_html_escaped(form.header, form.input_template);
        form.header += "\">\n";
    }
    form.statement += form.where;
    return Status::ok();
}

// Ends the command, also after a failure: what was built goes to the header,
// the loop buffer and the statement source. A form or statement that does not
// fit is refused whole, since a cut one would post back an UPDATE that loses
// data.
Status store_form(UpdateForm& form, Status status, char* row_template, TableHeader& table_header) {
    TextBuffer<kStatementSize>& statement = statement_source();
    if (form.statement.size() >= statement.bytes() || form.rows.size() >= kRowTemplateSize ||
        form.header.size() >= kTableHeaderSize) {
        status = Status::failure("Too many columns for UPDATEFORM command");
        form.rows.clear();
    } else {
        statement.assign(form.statement);
    }
    table_header.assign(form.header);
    copy_bounded(row_template, kRowTemplateSize, form.rows);
    return status;
}

// The hidden key-name and signature fields of a signed form: the signature
// covers the sql and database values as written, the input value, the key
// names and each key's value as the row shows it (the column's stored
// value; "" for NULL or empty, and for a key that is no result column).
void append_signature(std::string& end, std::string_view sql, std::string_view database) {
    const FormsState& forms = forms_state();
    SignedForm form{sql, database, forms.form_input, {}, {}};
    std::string names;
    for (const std::string& name : forms.form_keys) {
        const char* value = column_value(name);
        form.key_names.push_back(name);
        form.key_values.push_back(std::strcmp(value, kEmptyMark) == 0 ? "" : value);
        if (!names.empty()) names += ',';
        names += name;
    }
    end += "<INPUT NAME=\"";
    end += kKeyNamesField;
    end += "\" TYPE=\"hidden\" VALUE=\"";
    append_html_escaped(end, names);
    end += "\">\n<INPUT NAME=\"";
    end += kSignatureField;
    end += "\" TYPE=\"hidden\" VALUE=\"";
    end += sign_form(run_policy().secret, form);
    end += "\">\n";
}

}  // namespace

void build_update_form(char* options, char* row_template, TableHeader& table_header) {
    row_template[0] = '\0';
    if (is_locked_run() && run_policy().secret.empty()) {
        // A locked run accepts a posted statement only with its signature.
        forms_state().form_mode = false;
        report_error(kNoSigningKey);
        return;
    }
    const char* action = script_name();
    if (action[0] == '\0') {
        report_error("No SCRIPT_NAME variable input from CGI or form");
        return;
    }
    char* saved_top = scratch_top();
    UpdateForm form;
    form.header = "<FORM METHOD=\"POST\" ACTION=\"";
    append_html_escaped(form.header, action);
    form.header += "\"><TABLE>\n";
    form.statement = statement_source().view();

    Status status = read_options(form, options);
    if (status.is_ok()) status = complete_form(form);
    status = store_form(form, status, row_template, table_header);
    scratch_set_top(saved_top);
    if (status.is_ok()) {
        FormsState& forms = forms_state();
        forms.form_mode = true;
        forms.form_keys = std::move(form.key_names);
        forms.form_input = form.input_template != nullptr ? form.input_template : "";
    } else {
        report_error(status.message());
    }
}

void write_form_end(OutputChannel& output) {
    std::string_view database = connect_text();
    std::string_view sql = statement_source().view();
    std::string end = "</TABLE>\n<INPUT NAME=\"database\" TYPE=\"hidden\" VALUE=\"";
    append_html_escaped(end, database);
    end += "\">\n<INPUT NAME=\"sql\" TYPE=\"hidden\" VALUE=\"";
    append_html_escaped(end, sql);
    end += "\">\n";
    if (is_locked_run()) append_signature(end, sql, database);
    end += "<P><INPUT TYPE=\"submit\" VALUE=\"Update\"></FORM>\n";
    write_fragment(end, output);
}

}  // namespace vexil
