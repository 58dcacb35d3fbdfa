// Query by example: builds a SELECT statement from the filled-in fields of a
// search form. Each column item of the command names a field; a field that
// is not empty adds a condition, whose operator the value's beginning
// chooses (">=", "<>", "LIKE ", "IN ", a "%" anywhere, ...; "=" otherwise).
// The statement goes to the statement source, for the SQL command to run.
//
// Search values are data, never SQL: a value written between quotes has its
// quotes doubled, and every "$" in a value is escaped so that the SQL
// command's substitution leaves it alone. A value written without quotes
// (for a column that is not a text column, and after LIKE, IN, BETWEEN and
// their NOT forms) must be a literal of its form, or nothing is executed.
#include "forms/qbe.hpp"

#include <cstring>
#include <string>

#include "base/output.hpp"
#include "base/scratch.hpp"
#include "base/status.hpp"
#include "base/text.hpp"
#include "db/sql_command.hpp"
#include "forms/form_options.hpp"
#include "values/variable_table.hpp"

namespace vexil {

namespace {


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
    t = trim_blanks(t);
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

// What follows an operator keyword of `length` characters: nothing when
// the text is no longer (the keyword's own blank was trimmed away, as in a
// value "IN ").
std::string_view after_keyword(std::string_view v, std::size_t length) {
    return v.size() > length ? v.substr(length) : std::string_view();
}

// Whether the value (as written after the operator) has the form its
// operator requires when it is written without the column's quotes.
bool has_valid_form(const SearchOperator& op, std::string_view value, bool quoted) {
    std::string_view v = trim_blanks(value);
    switch (op.form) {
        case SearchOperator::Plain:
            return quoted || is_sql_literal(v);
        case SearchOperator::Like: {
            std::size_t keyword = starts_with_nocase(v, "NOT LIKE ", 9) ? 9 : 5;
            return is_sql_literal(after_keyword(v, keyword));
        }
        case SearchOperator::In: {
            std::size_t keyword = starts_with_nocase(v, "NOT IN ", 7) ? 7 : 3;
            return is_literal_list(after_keyword(v, keyword));
        }
        case SearchOperator::Between: {
            std::size_t keyword = starts_with_nocase(v, "NOT BETWEEN ", 12) ? 12 : 8;
            return is_literal_range(trim_blanks(after_keyword(v, keyword)));
        }
    }
    return false;
}

// Appends a search value: quotes doubled when it is written between quotes,
// backslashes doubled for a database that reads them as escapes, every "$"
// escaped for the substitution that follows.
void append_value(std::string& sql, std::string_view value, bool quoted, bool backslash_escapes) {
    for (char c : value) {
        if (c == '$') sql += '\\';
        sql += c;
        if ((quoted && c == '\'') || (backslash_escapes && c == '\\')) sql += c;
    }
}

}  // namespace

bool is_sql_literal(std::string_view text) {
    std::string_view t = trim_blanks(text);
    return is_signed_decimal(t) || is_quoted_text(t);
}

namespace {

// The "key=value" options of QBE; other keys are passed over.
struct QbeOptions {
    const char* table = nullptr;    // TABLE=
    const char* select_list = "*";  // SELECT=
    const char* order = nullptr;    // ORDER=
    TextBuffer<16> top;             // " TOP n " for ROWS=n
};

// The statement as it grows, one condition per filled-in field.
struct QbeQuery {
    std::string sql;
    int conditions = 0;
};

void take_option(QbeOptions& options, const char* key, char* value) {
    char* expanded = expand_option_value(value);
    if (starts_with_keyword(key, "TABLE")) {
        options.table = expanded;
    } else if (starts_with_keyword(key, "SELECT")) {
        options.select_list = expanded;
    } else if (starts_with_keyword(key, "ORDER")) {
        options.order = expanded;
    } else if (starts_with_keyword(key, "ROWS")) {
        options.top.format(" TOP %8.8s ", expanded);
    }
}

// At the first column item: "SELECT [TOP n] list FROM table WHERE ", with
// the options given before it.
Status start_query(const QbeOptions& options, QbeQuery& query) {
    if (options.table == nullptr) return Status::failure("No table defined for QBE statement");
    if (!query.sql.empty()) return Status::ok();
    query.sql = "SELECT ";
    query.sql += options.top.view();
    query.sql += options.select_list;
    query.sql += " FROM ";
    query.sql += options.table;
    query.sql += " WHERE ";
    return Status::ok();
}

// Adds the condition of one column item from the value of its field; an
// empty field adds nothing.
Status add_condition(QbeQuery& query, char* item) {
    ColumnItem column = parse_column_item(item);
    std::string_view found = lookup_value(item);
    if (found.empty() || found == kEmptyMark) return Status::ok();
    std::string condition;
    // The database is asked only when the name is quoted or the value holds
    // a backslash.
    bool ask = std::string_view(item).find(' ') != std::string_view::npos ||
               found.find('\\') != std::string_view::npos;
    SqlDialect dialect = ask ? statement_dialect() : SqlDialect{};
    if (Status s = append_search_condition(condition, item, column.text, found, dialect); !s.is_ok()) return s;
    if (query.conditions > 0) query.sql += " AND ";
    query.sql += condition;
    ++query.conditions;
    return Status::ok();
}

// Adds ORDER BY and stores the statement. A statement that does not fit is
// refused whole: a cut one could select other rows than asked for.
Status finish_query(const QbeOptions& options, QbeQuery& query, TextBuffer<kStatementSize>& dest) {
    if (query.conditions == 0) return Status::failure("No column values for QBE statement");
    if (options.order != nullptr) {
        query.sql += " ORDER BY ";
        query.sql += options.order;
    }
    if (query.sql.size() >= dest.bytes()) return Status::failure("Too many column values for QBE statement");
    dest.assign(query.sql);
    return Status::ok();
}

Status build_query(char* options_text, TextBuffer<kStatementSize>& dest) {
    QbeOptions options;
    QbeQuery query;
    char* cursor = options_text;
    char* value;
    while (char* key = next_option_item(cursor, value)) {
        if (value != nullptr) {
            take_option(options, key, value);
            continue;
        }
        if (Status s = start_query(options, query); !s.is_ok()) return s;
        if (Status s = add_condition(query, key); !s.is_ok()) return s;
    }
    return finish_query(options, query, dest);
}

}  // namespace

Status append_search_condition(std::string& sql, std::string_view column, bool text_column,
                               std::string_view value, const SqlDialect& dialect) {
    const SearchOperator& op = choose_operator(value);
    std::string_view rest = value.substr(op.skip);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    bool quoted = text_column && op.keeps_quotes;
    if (!has_valid_form(op, rest, quoted)) {
        return Status::failure("Invalid search value for %.*s", int(column.size()), column.data());
    }
    append_column_name(sql, column, dialect.identifier_quote);
    sql += op.written;
    if (quoted) sql += '\'';
    append_value(sql, rest, quoted, dialect.backslash_escapes);
    if (quoted) sql += '\'';
    return Status::ok();
}

char* build_qbe_statement(char* options) {
    TextBuffer<kStatementSize>& statement = statement_source();
    char* saved_top = scratch_top();
    statement.clear();
    Status status = build_query(options, statement);
    if (!status.is_ok()) report_error(status.message());
    scratch_set_top(saved_top);
    return statement.data();
}

}  // namespace vexil
