// Option lists of the form commands: reading "key=value" items and column
// items in place, expanding option values in the scratch area, and writing
// column names into SQL.
#include "forms/form_options.hpp"

#include <cstdlib>
#include <cstring>

#include "base/scratch.hpp"
#include "db/sql_command.hpp"
#include "expr/substitute.hpp"

namespace vexil {

namespace {

void trim_trailing(char* text) {
    std::size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) text[--n] = '\0';
}

// Reads the value after "=": a parenthesised list, a double-quoted text or
// a plain text up to the next ","; cuts it with a terminator and returns it.
char* read_option_value(char*& p) {
    char* value;
    if (*p == '(') {
        value = ++p;
        int depth = 1;
        for (; *p != '\0'; ++p) {
            if (*p == '(') ++depth;
            if (*p == ')' && --depth == 0) break;
        }
    } else if (*p == '"') {
        value = ++p;
        while (*p != '\0' && *p != '"') ++p;
    } else {
        value = p;
        while (*p != '\0' && *p != ',') ++p;
    }
    if (*p != '\0') *p++ = '\0';
    trim_trailing(value);
    return value;
}

// A size of a column item: 0 for nothing usable, at most 100000.
int item_number(long n) { return n >= 100000 ? 100000 : (n > 0 ? int(n) : 0); }

}  // namespace

char* next_option_item(char*& cursor, char*& value) {
    value = nullptr;
    char* p = cursor;
    while (*p == ' ' || *p == '\t' || *p == ',' || *p == '=') ++p;
    if (*p == '\0') {
        cursor = p;
        return nullptr;
    }
    char* key = p;
    while (*p != '\0' && *p != ',' && *p != '=') ++p;
    char end = *p;
    if (end != '\0') *p++ = '\0';
    trim_trailing(key);
    if (end == '=') {
        while (*p == ' ' || *p == '\t') ++p;
        value = read_option_value(p);
    }
    cursor = p;
    return key;
}

char* expand_option_value(char* value) {
    WorkArea work = scratch_work_area();
    substitute_variables(value, work.start, work.size, kSubstDropUnknown);
    return scratch_reserve(std::strlen(work.start) + 1);
}

ColumnItem parse_column_item(char* item) {
    ColumnItem column;
    if (item[0] == '\'') {
        column.text = true;
        std::memmove(item, item + 1, std::strlen(item));
        if (char* close = std::strchr(item, '\''); close != nullptr) *close = '\0';
    }
    if (char* colon = std::strchr(item, ':'); colon != nullptr) {
        *colon = '\0';
        char* end = nullptr;
        column.size = item_number(std::strtol(colon + 1, &end, 10));
        if (end != nullptr && (*end == 'x' || *end == 'X')) {
            column.rows = item_number(std::strtol(end + 1, nullptr, 10));
        }
    }
    return column;
}

void append_column_name(std::string& sql, std::string_view name, char quote) {
    if (name.find(' ') == std::string_view::npos) {
        sql += name;
        return;
    }
    sql += quote;
    for (char c : name) {
        if (c == quote) sql += c;
        sql += c;
    }
    sql += quote;
}

char column_name_quote(std::string_view name) {
    if (name.find(' ') == std::string_view::npos) return '"';
    return statement_dialect().identifier_quote;
}

}  // namespace vexil
