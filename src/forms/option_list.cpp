// Option list: OPTIONLIST [size] name rest becomes "SELECT DISTINCT name
// rest ORDER BY name", run through the SQL command's steps; each value of the
// column becomes an OPTION of a SELECT element named after it, SELECTED when
// the request has a field of that name with that value.
#include "forms/option_list.hpp"

#include <string>

#include "base/status.hpp"
#include "base/text.hpp"
#include "db/columns.hpp"
#include "db/odbc_session.hpp"
#include "db/results.hpp"
#include "db/sql_command.hpp"
#include "forms/forms_state.hpp"
#include "request/form_data.hpp"

namespace vexil {

namespace {
// Whether the request holds `value` in a field named `name`: the option the
// visitor chose stays chosen when the page comes back (a search page that
// shows its own form again, say).
bool chosen_by_request(std::string_view name, std::string_view value) {
    bool chosen = false;
    for_each_form_field([&](const FormField& field) {
        chosen = field.value != nullptr && field.value[0] != '\0' && equals_nocase(field.name, name) &&
                 value == field.value;
        return !chosen;
    });
    return chosen;
}
}  // namespace

char* build_option_list_statement(char* text) {
    FormsState& forms = forms_state();
    forms.option_list_size = 1;
    char* p = text;
    if (is_ascii_digit(*p)) {
        long size = 0;
        while (is_ascii_digit(*p)) {
            if (size < 100000) size = size * 10 + (*p - '0');
            ++p;
        }
        forms.option_list_size = int(size);
        if (*p != '\0') ++p;  // the character after the number ends it
    }
    while (*p == ' ') ++p;

    // The name: a quoted one ("..." or MariaDB's `...`) to its closing
    // quote, else up to the first blank.
    std::string_view rest(p);
    std::string_view name;
    bool quoted = !rest.empty() && (rest[0] == '"' || rest[0] == '`');
    if (quoted) {
        std::size_t close = rest.find(rest[0], 1);
        name = close == std::string_view::npos ? rest : rest.substr(0, close + 1);
    } else {
        name = rest.substr(0, rest.find(' '));
    }
    TextBuffer<kStatementSize>& sql = statement_source();
    if (name.empty()) {
        // Nothing names a column (a size alone): there is no statement.
        sql.clear();
        forms.option_list_name.clear();
        return sql.data();
    }
    sql.assign("SELECT DISTINCT ");
    sql.append(rest);
    sql.append(" ORDER BY ");
    sql.append(name);

    if (quoted) {
        std::string field(name.substr(1));
        if (!field.empty() && field.back() == name[0]) field.pop_back();
        for (char& c : field) {
            if (c == ' ') c = '_';
        }
        forms.option_list_name.assign(field);
    } else {
        forms.option_list_name.assign(name);
    }
    return sql.data();
}

void write_option_list(char* statement, OutputChannel& output) {
    if (Status missing = require_connection(); !missing.is_ok()) {
        write_fragment(missing.message(), output);
        return;
    }
    const char* name = forms_state().option_list_name.c_str();
    if (statement[0] == '\0') {
        write_fragment("<B>[No option list found for ]</B>\n", output);
        return;
    }
    execute_substituted(statement);
    if (statement_status() == kDbRow) {
        DbStatus status = fetch_next_row(false);
        if (status == kDbRow && column_value(name)[0] != '\0') {
            std::string list = "<SELECT NAME=\"";
            append_html_escaped(list, name);
            list += "\" SIZE=" + std::to_string(forms_state().option_list_size) + ">\n";
            while (status == kDbRow) {
                const char* value = column_value(name);
                list += chosen_by_request(name, value) ? "<OPTION SELECTED>" : "<OPTION>";
                append_html_escaped(list, value);
                list += "\n";
                status = fetch_next_row(false);
            }
            list += "</SELECT>\n";
            write_fragment(list, output);
            return;
        }
    }
    std::string note = "<B>[No option list found for ";
    append_html_escaped(note, name);
    note += "]</B>\n";
    write_fragment(note, output);
}

}  // namespace vexil
