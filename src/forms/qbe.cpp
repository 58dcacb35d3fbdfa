// Query by example.
//
// Search values are data, never SQL: a value written between quotes has its
// quotes doubled, and every "$" in a value is escaped so that the SQL
// command's substitution leaves it alone. A value written without quotes
// (for a column that is not a text column, and after LIKE, IN, BETWEEN and
// their NOT forms) must be a literal of its form, or nothing is executed.
#include "forms/qbe.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/text.hpp"
#include "base/output.hpp"
#include "base/scratch.hpp"
#include "db/results.hpp"
#include "expr/substitute.hpp"
#include "values/variable_table.hpp"

namespace vexil {

namespace {

void trim_trailing(char* text) {
    std::size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) text[--n] = '\0';
}

std::string_view trim(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

// An optional "+" or "-", then at least one digit, with at most one point.
bool is_signed_decimal(std::string_view t) {
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t digits = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        if (is_ascii_digit(t[i])) {
            ++digits;
        } else if (t[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits > 0;
}

bool is_quoted_text(std::string_view t) {
    if (t.size() < 2 || t.front() != '\'' || t.back() != '\'') return false;
    std::string_view inner = t.substr(1, t.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] != '\'') continue;
        if (i + 1 >= inner.size() || inner[i + 1] != '\'') return false;
        ++i;  // a doubled quote
    }
    return true;
}

// Splits a list at commas outside quoted texts.
bool is_literal_list(std::string_view t) {
    t = trim(t);
    if (t.size() < 2 || t.front() != '(' || t.back() != ')') return false;
    std::string_view inner = t.substr(1, t.size() - 2);
    std::size_t start = 0;
    bool quoted = false;
    for (std::size_t i = 0; i <= inner.size(); ++i) {
        if (i < inner.size() && inner[i] == '\'') quoted = !quoted;
        if (i == inner.size() || (inner[i] == ',' && !quoted)) {
            if (!is_sql_literal(inner.substr(start, i - start))) return false;
            start = i + 1;
        }
    }
    return true;
}

// "lit AND lit", the AND found outside quoted texts.
bool is_literal_range(std::string_view t) {
    bool quoted = false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\'') quoted = !quoted;
        if (!quoted && t[i] == ' ' && starts_with_nocase(t.substr(i), " AND ", 5)) {
            return is_sql_literal(t.substr(0, i)) && is_sql_literal(t.substr(i + 5));
        }
    }
    return false;
}

// The operator table: the first row whose prefix matches the value.
struct SearchOperator {
    const char* prefix;   // what the value begins with ("" for the % row)
    std::size_t skip;     // characters removed from the value
    const char* written;  // operator written before the value
    bool keeps_quotes;    // the column's quotes are used
    enum Form { Plain, Like, In, Between } form;
};

constexpr SearchOperator kOperators[] = {
    {">=", 2, ">=", true, SearchOperator::Plain},
    {"<=", 2, "<=", true, SearchOperator::Plain},
    {"<>", 2, "<>", true, SearchOperator::Plain},
    {"!=", 2, "<>", true, SearchOperator::Plain},
    {">", 1, ">", true, SearchOperator::Plain},
    {"<", 1, "<", true, SearchOperator::Plain},
    {"=", 1, "=", true, SearchOperator::Plain},
    {"LIKE ", 0, " ", false, SearchOperator::Like},
    {"NOT LIKE ", 0, " ", false, SearchOperator::Like},
    {"%", 0, " LIKE ", true, SearchOperator::Plain},
    {"IN ", 0, " ", false, SearchOperator::In},
    {"NOT IN ", 0, " ", false, SearchOperator::In},
    {"BETWEEN ", 0, " ", false, SearchOperator::Between},
    {"NOT BETWEEN ", 0, " ", false, SearchOperator::Between},
};
constexpr SearchOperator kEquals = {"", 0, "=", true, SearchOperator::Plain};

const SearchOperator& choose_operator(std::string_view value) {
    for (const SearchOperator& op : kOperators) {
        if (op.prefix[0] == '%') {
            if (value.find('%') != std::string_view::npos) return op;
        } else if (starts_with_nocase(value, op.prefix, std::strlen(op.prefix))) {
            return op;
        }
    }
    return kEquals;
}

// Whether the value (as written after the operator) has the form its
// operator requires when it is written without the column's quotes.
bool has_valid_form(const SearchOperator& op, std::string_view value, bool quoted) {
    std::string_view v = trim(value);
    switch (op.form) {
        case SearchOperator::Plain:
            return quoted || is_sql_literal(v);
        case SearchOperator::Like: {
            std::size_t keyword = starts_with_nocase(v, "NOT LIKE ", 9) ? 9 : 5;
            return is_sql_literal(v.substr(keyword));
        }
        case SearchOperator::In: {
            std::size_t keyword = starts_with_nocase(v, "NOT IN ", 7) ? 7 : 3;
            return is_literal_list(v.substr(keyword));
        }
        case SearchOperator::Between: {
            std::size_t keyword = starts_with_nocase(v, "NOT BETWEEN ", 12) ? 12 : 8;
            return is_literal_range(trim(v.substr(keyword)));
        }
    }
    return false;
}

// Appends a search value: quotes doubled when it is written between quotes,
// every "$" escaped for the substitution that follows.
void append_value(std::string& sql, std::string_view value, bool quoted) {
    for (char c : value) {
        if (c == '$') sql += '\\';
        sql += c;
        if (quoted && c == '\'') sql += '\'';
    }
}

}  // namespace

bool is_sql_literal(std::string_view text) {
    std::string_view t = trim(text);
    return is_signed_decimal(t) || is_quoted_text(t);
}

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
        if (*p == '(') {
            value = ++p;
            int depth = 1;
            for (; *p != '\0'; ++p) {
                if (*p == '(') ++depth;
                if (*p == ')' && --depth == 0) break;
            }
            if (*p != '\0') *p++ = '\0';
        } else if (*p == '"') {
            value = ++p;
            while (*p != '\0' && *p != '"') ++p;
            if (*p != '\0') *p++ = '\0';
        } else {
            value = p;
            while (*p != '\0' && *p != ',') ++p;
            if (*p != '\0') *p++ = '\0';
        }
        trim_trailing(value);
    }
    cursor = p;
    return key;
}

char* expand_option_value(char* value) {
    WorkArea work = scratch_work_area();
    substitute_variables(value, work.start, work.size, kSubstDropUnknown);
    return scratch_reserve(std::strlen(work.start) + 1);
}

bool parse_column_spec(char* name, int& size, int& rows) {
    size = 50;
    rows = 0;
    bool text = false;
    if (name[0] == '\'') {
        text = true;
        std::memmove(name, name + 1, std::strlen(name));
        if (char* close = std::strchr(name, '\''); close != nullptr) *close = '\0';
    }
    if (char* colon = std::strchr(name, ':'); colon != nullptr) {
        *colon = '\0';
        char* end = nullptr;
        long n = std::strtol(colon + 1, &end, 10);
        size = n > 0 && n < 100000 ? int(n) : (n >= 100000 ? 100000 : 0);
        if (end != nullptr && (*end == 'x' || *end == 'X')) {
            long r = std::strtol(end + 1, nullptr, 10);
            rows = r > 0 && r < 100000 ? int(r) : (r >= 100000 ? 100000 : 0);
        }
    }
    return text;
}

char* build_qbe_statement(char* options) {
    TextBuffer<kStatementSize>& sql_buffer = result_items().statement_source;
    char* saved_top = scratch_top();
    sql_buffer.clear();
    const char* table = nullptr;
    const char* select_list = "*";
    const char* order = nullptr;
    TextBuffer<16> top;
    int conditions = 0;
    std::string sql;
    bool failed = false;

    char* cursor = options;
    char* value;
    while (char* key = next_option_item(cursor, value)) {
        if (value != nullptr) {
            char* expanded = expand_option_value(value);
            if (starts_with_nocase(key, "TABLE", 5)) {
                table = expanded;
            } else if (starts_with_nocase(key, "SELECT", 6)) {
                select_list = expanded;
            } else if (starts_with_nocase(key, "ORDER", 5)) {
                order = expanded;
            } else if (starts_with_nocase(key, "ROWS", 4)) {
                top.format(" TOP %8.8s ", expanded);
            }
            continue;
        }
        if (table == nullptr) {
            report_error("No table defined for QBE statement");
            failed = true;
            break;
        }
        if (sql.empty()) {
            sql = "SELECT ";
            sql += top.view();
            sql += select_list;
            sql += " FROM ";
            sql += table;
            sql += " WHERE ";
        }
        int size, rows;
        bool text_column = parse_column_spec(key, size, rows);
        std::string_view found = lookup_value(key);
        if (found.empty() || found == kEmptyMark) continue;

        const SearchOperator& op = choose_operator(found);
        std::string_view rest = found.substr(op.skip);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
        bool quoted = text_column && op.keeps_quotes;
        if (!has_valid_form(op, rest, quoted)) {
            error_text().format("Invalid search value for %s", key);
            report_error(error_text().view());
            failed = true;
            break;
        }
        if (conditions > 0) sql += " AND ";
        bool blank = std::strchr(key, ' ') != nullptr;
        if (blank) sql += '"';
        sql += key;
        if (blank) sql += '"';
        sql += op.written;
        if (quoted) sql += '\'';
        append_value(sql, rest, quoted);
        if (quoted) sql += '\'';
        ++conditions;
    }

    if (!failed && conditions == 0) report_error("No column values for QBE statement");
    if (!failed && conditions > 0) {
        if (order != nullptr) {
            sql += " ORDER BY ";
            sql += order;
        }
        // A cut statement could select other rows than asked for: refuse it.
        if (sql.size() >= sql_buffer.bytes()) {
            report_error("Too many column values for QBE statement");
        } else {
            sql_buffer.assign(sql);
        }
    }
    scratch_set_top(saved_top);
    return sql_buffer.data();
}

}  // namespace vexil
