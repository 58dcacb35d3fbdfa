// The variable table, the lookup order of names, and the DEFAULT and SET
// lists.
#include "variables/variable_table.hpp"

#include <cstring>

#include "cgi/form_data.hpp"
#include "cgi/text.hpp"
#include "cgi/tracked_memory.hpp"
#include "db/columns.hpp"
#include "db/results.hpp"
#include "driver/output.hpp"
#include "expr/evaluator.hpp"
#include "variables/startup.hpp"

namespace vexil {

namespace {
VariableTable g_table;

char* tracked_copy(std::string_view text, std::size_t size) {
    char* block = static_cast<char*>(tracked_alloc(size));
    copy_bounded(block, size, text);
    return block;
}

// Newest entry of that name, or nullptr.
VariableEntry* find_entry(std::string_view name) {
    for (int i = g_table.count - 1; i >= 0; --i) {
        if (equals_nocase(g_table.entries[i].name, name)) return &g_table.entries[i];
    }
    return nullptr;
}

void bind_builtin(const char* name, char* buffer) {
    g_table.entries[g_table.count++] = VariableEntry{const_cast<char*>(name), buffer, 0};
}
}  // namespace

VariableTable& variable_table() { return g_table; }

void reset_variable_state() {
    g_table = VariableTable{};
    ResultItems& results = result_items();
    DateTimeBuffers& clock = date_time_buffers();
    bind_builtin("row", results.row_text.data());
    bind_builtin("rows_affected", results.rows_affected_text.data());
    bind_builtin("sql_statement", results.statement_text.data());
    bind_builtin("sql_error", results.result_text.data());
    bind_builtin("sql_result", results.result_text.data());
    bind_builtin("sql_status", results.status_text.data());
    bind_builtin("today", clock.today.data());
    bind_builtin("time", clock.time.data());
    bind_builtin("time24", clock.time24.data());
    bind_builtin("date_short", clock.date_short.data());
    bind_builtin("date_ymd", clock.date_ymd.data());
    bind_builtin("year", clock.year.data());
    bind_builtin("monthname", clock.monthname.data());
    bind_builtin("month", clock.month.data());
    bind_builtin("day", clock.day.data());
    bind_builtin("weekday", clock.weekday.data());
}

const char* get_variable(std::string_view name) {
    const VariableEntry* entry = find_entry(name);
    if (entry == nullptr) return "";
    if (entry->value == nullptr || entry->value[0] == '\0') return kEmptyMark;
    return entry->value;
}

void set_variable(std::string_view name, std::string_view value) {
    std::size_t needed = value.size() + 1;
    if (VariableEntry* entry = find_entry(name); entry != nullptr) {
        if (std::size_t(entry->capacity) < needed) {
            std::size_t capacity = needed + 24;
            // A value the entry does not own (a built-in's buffer, a shared
            // text) is left alone; the entry gets a block of its own.
            void* block = entry->capacity > 0 ? tracked_realloc(entry->value, capacity)
                                              : tracked_alloc(capacity);
            entry->value = static_cast<char*>(block);
            entry->capacity = int(capacity);
        }
        copy_bounded(entry->value, std::size_t(entry->capacity), value);
        return;
    }
    if (g_table.count >= kMaxVariables) {
        if (!g_table.full_reported) {
            g_table.full_reported = true;
            report_error("Too many variables");
        }
        return;
    }
    VariableEntry& entry = g_table.entries[g_table.count++];
    entry.name = tracked_copy(name, name.size() + 1);
    entry.capacity = int(value.size() + 24);
    entry.value = tracked_copy(value, std::size_t(entry.capacity));
}

void append_shared_variable(const char* name, const char* value) {
    if (g_table.count >= kMaxVariables) return;
    g_table.entries[g_table.count++] =
        VariableEntry{const_cast<char*>(name), const_cast<char*>(value), 0};
}

const char* lookup_value(std::string_view name) {
    const char* column = column_value(name);
    if (column[0] != '\0' && std::strcmp(column, kEmptyMark) != 0) return column;
    const char* found = is_cgi_run() ? form_value(name) : "";
    if (found[0] == '\0') found = get_variable(name);
    if (column[0] == '\0') return found;
    // The column exists but is NULL or empty: a form field or variable of
    // the same name may stand in for it.
    return found[0] != '\0' ? found : kEmptyMark;
}

char* trim_unquote(char* text, bool unquote) {
    while (*text == ' ' || *text == '\t') ++text;
    std::size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) text[--n] = '\0';
    if (unquote) {
        char quote = text[0] == '\'' ? '\'' : '"';
        char* write = text;
        for (char* read = text; *read != '\0'; ++read) {
            if (*read != quote) *write++ = *read;
        }
        *write = '\0';
    }
    return text;
}

bool next_assignment(char*& cursor, char*& name, char*& value, bool unquote_values) {
    static char empty[1] = {'\0'};
    name = value = empty;
    if (cursor == nullptr || *cursor == '\0') return false;
    char* p = cursor;
    while (*p == ' ' || *p == ',' || *p == '\t') ++p;
    if (*p == '\0') {
        cursor = p;
        return false;
    }
    char* name_start = p;
    if (*p == '"' || *p == '\'') {
        char* close = std::strchr(p + 1, *p);
        p = close ? close : p + std::strlen(p);
    }
    while (*p != '\0' && *p != '=' && *p != ',') ++p;

    if (*p == '=') {
        *p++ = '\0';
        while (*p == ' ' || *p == '\t') ++p;
        char* value_start = p;
        if (*p == '"' || *p == '\'') {
            char* close = std::strchr(p + 1, *p);
            p = close ? close : p + std::strlen(p);
        }
        int depth = 0;
        for (; *p != '\0'; ++p) {
            if (*p == '(') {
                ++depth;
            } else if (*p == ')') {
                --depth;
            } else if (*p == ',' && depth < 1) {
                break;
            }
        }
        if (*p == ',') *p++ = '\0';
        value = trim_unquote(value_start, unquote_values);
    } else if (*p == ',') {
        *p++ = '\0';
    }

    name = trim_unquote(name_start, true);
    if (name[0] == '$') {
        ++name;
        std::size_t n = std::strlen(name);
        if (n > 0 && name[n - 1] == '$') name[n - 1] = '\0';
    }
    cursor = p;
    return true;
}

void apply_default_list(char* text) {
    char* cursor = text;
    char* name;
    char* value;
    while (g_table.count < kMaxVariables && next_assignment(cursor, name, value, true)) {
        set_variable(name, value);
    }
}

void apply_set_list(char* text) {
    char* cursor = text;
    char* name;
    char* value;
    while (next_assignment(cursor, name, value, false)) {
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
            set_variable(name, result);
        }
    }
}

}  // namespace vexil
