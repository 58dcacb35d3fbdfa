// The variable table, the lookup order of names, and the DEFAULT and SET
// lists.
//
// Entries are kept in creation order and searched newest first; a value
// the table owns is a tracked block that grows when a longer value is set,
// while built-ins and start-up variables share texts owned elsewhere. The
// list parser cuts name=value items in place for DEFAULT, SET, TRANSLATE
// and FORMAT alike.
#include "values/variable_table.hpp"

#include <cstring>
#include <utility>

#include "base/output.hpp"
#include "base/policy.hpp"
#include "base/text.hpp"
#include "base/tracked_memory.hpp"
#include "request/form_data.hpp"

namespace vexil {

namespace {
char* tracked_copy(std::string_view text, std::size_t size) {
    char* block = static_cast<char*>(tracked_alloc(size));
    copy_bounded(block, size, text);
    return block;
}

// Whether an entry's name is `name`, letters compared regardless of case;
// read no further than the first difference.
bool same_name(const char* entry, std::string_view name) {
    for (char c : name) {
        if (*entry == '\0' || ascii_upper(*entry) != ascii_upper(c)) return false;
        ++entry;
    }
    return *entry == '\0';
}

// Newest entry of that name, or nullptr. A built-in filled late gets its
// value here, before anything reads or replaces it.
VariableEntry* find_entry(std::string_view name) {
    VariableTable& table = variable_table();
    for (int i = table.count - 1; i >= 0; --i) {
        VariableEntry& entry = table.entries[i];
        if (!same_name(entry.name, name)) continue;
        if (entry.filled_late && table.late_fill != nullptr) std::exchange(table.late_fill, nullptr)();
        return &entry;
    }
    return nullptr;
}
}  // namespace

void bind_builtins(VariableTable& table, std::initializer_list<Builtin> builtins) {
    for (const Builtin& b : builtins) {
        if (table.count >= kMaxVariables) return;
        table.entries[table.count++] =
            VariableEntry{const_cast<char*>(b.name), b.buffer, 0, b.outside, true, b.filled_late};
    }
}

const char* get_variable(std::string_view name) {
    const VariableEntry* entry = find_entry(name);
    if (entry == nullptr) return "";
    if (entry->value == nullptr || entry->value[0] == '\0') return kEmptyMark;
    return entry->value;
}

void set_variable(std::string_view name, std::string_view value, bool outside) {
    std::size_t needed = value.size() + 1;
    if (VariableEntry* entry = find_entry(name); entry != nullptr) {
        if (outside && entry->reserved && is_locked_run()) return;
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
        entry->outside = outside;
        return;
    }
    VariableTable& table = variable_table();
    if (table.count >= kMaxVariables) {
        if (!table.full_reported) {
            table.full_reported = true;
            report_error("Too many variables");
        }
        return;
    }
    VariableEntry& entry = table.entries[table.count++];
    entry.name = tracked_copy(name, name.size() + 1);
    entry.capacity = int(value.size() + 24);
    entry.value = tracked_copy(value, std::size_t(entry.capacity));
    entry.outside = outside;
}

void append_shared_variable(const char* name, const char* value, bool outside) {
    VariableTable& table = variable_table();
    if (table.count >= kMaxVariables) return;
    table.entries[table.count++] =
        VariableEntry{const_cast<char*>(name), const_cast<char*>(value), 0, outside, true};
}

namespace {
FoundValue value_of(const VariableEntry* entry) {
    if (entry == nullptr) return {"", false};
    if (entry->value == nullptr || entry->value[0] == '\0') return {kEmptyMark, entry->outside};
    return {entry->value, entry->outside};
}

// A form field's value ("" for none, absent or empty).
FoundValue field_value(std::string_view name) {
    if (!is_cgi_run()) return {"", false};
    const FormField* field = find_form_field(name);
    if (field == nullptr || field->value == nullptr || field->value[0] == '\0') return {"", false};
    return {field->value, !field->trusted};
}

FoundValue locked_lookup(std::string_view name, const char* column) {
    if (column[0] != '\0') return {column, true};
    const VariableEntry* entry = find_entry(name);
    if (entry != nullptr && entry->reserved) return value_of(entry);
    FoundValue field = field_value(name);
    return field.text[0] != '\0' ? field : value_of(entry);
}
}  // namespace

FoundValue lookup(std::string_view name) {
    ColumnSource columns = variable_table().column_source;
    const char* column = columns != nullptr ? columns(name) : "";
    if (is_locked_run()) return locked_lookup(name, column);
    if (column[0] != '\0' && std::strcmp(column, kEmptyMark) != 0) return {column, true};
    FoundValue found = field_value(name);
    if (found.text[0] == '\0') found = value_of(find_entry(name));
    if (column[0] == '\0') return found;
    // The column exists but is NULL or empty: a form field or variable of
    // the same name may stand in for it.
    return found.text[0] != '\0' ? found : FoundValue{kEmptyMark, true};
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
    if (cursor == nullptr) return false;
    char* p = cursor;
    while (*p == ' ' || *p == ',' || *p == '\t') ++p;
    name = value = p + std::strlen(p);  // empty until found
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
    while (variable_table().count < kMaxVariables && next_assignment(cursor, name, value, true)) {
        set_variable(name, value);
    }
}

}  // namespace vexil
