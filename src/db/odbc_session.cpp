// ODBC session and statements.
//
// Handles are held by small owning wrappers, so that whatever path a run
// takes, every statement is dropped before its connection and every
// connection before the environment. Column values are bound once per
// statement into heap buffers; a fetch copies nothing.
#include "db/odbc_session.hpp"

#include <sqlext.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "db/columns.hpp"
#include "base/output.hpp"
#include "values/variable_table.hpp"

namespace vexil {

namespace {


bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Appends the first diagnostic of the given handles to result_text.
void format_odbc_error(ResultText& result_text, SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
    SQLCHAR state[6] = {0};
    SQLCHAR message[512] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLError(env, dbc, stmt, state, &native, message, 511, &length);
    state[5] = 0;
    message[511] = 0;
    if (!result_text.empty()) result_text.append("; ");
    result_text.append("DATABASE ERROR: ");
    result_text.append(reinterpret_cast<const char*>(state));
    result_text.append(" ");
    result_text.append(reinterpret_cast<const char*>(message));
}

void close_connections() {
    DbSession& db = db_session();
    for (ConnectionHandle& c : db.connections) c.reset();
    db.environment.reset();
    db.ready = false;
    db.slot_count = 0;
    db.current_slot = 0;
}

int open_connection(const char* connect_text, ResultText& result_text) {
    DbSession& db = db_session();
    if (db.ready) {
        for (int i = 0; i < db.slot_count; ++i) {
            if (std::strcmp(db.connect_texts[i].c_str(), connect_text) == 0) {
                db.current_slot = i;
                return 1;
            }
        }
    }
    int slot;
    if (!db.ready) {
        // Start over: statements and connections of an earlier session are
        // released before a new environment replaces theirs.
        for (StatementHandle& s : db.statements) s.reset();
        close_connections();
        if (!succeeded(SQLAllocEnv(db.environment.out()))) {
            format_odbc_error(result_text, db.environment.get(), SQL_NULL_HDBC, SQL_NULL_HSTMT);
            db.ready = false;
            return 0;
        }
        db.slot_count = 1;
        slot = 0;
    } else if (db.slot_count == kConnectionSlots) {
        slot = kConnectionSlots - 1;  // the third connection is replaced
        for (int level = 0; level < kStatementLevels; ++level) {
            // A statement open on the replaced connection cannot outlive it.
            if (db.statement_slots[level] == slot) db.statements[level].reset();
        }
    } else {
        slot = db.slot_count++;
    }
    db.connect_texts[slot].clear();
    ConnectionHandle& connection = db.connections[slot];
    if (!succeeded(SQLAllocConnect(db.environment.get(), connection.out()))) {
        format_odbc_error(result_text, db.environment.get(), SQL_NULL_HDBC, SQL_NULL_HSTMT);
        db.ready = false;
        --db.slot_count;
        return 0;
    }
    SQLCHAR out[512];
    SQLSMALLINT out_length = 0;
    std::string text(connect_text);
    SQLRETURN rc = SQLDriverConnect(connection.get(), nullptr,
                                    reinterpret_cast<SQLCHAR*>(text.data()),
                                    static_cast<SQLSMALLINT>(text.size()), out, sizeof out,
                                    &out_length, SQL_DRIVER_NOPROMPT);
    if (rc == SQL_SUCCESS_WITH_INFO) {
        format_odbc_error(result_text, db.environment.get(), connection.get(), SQL_NULL_HSTMT);
    } else if (rc != SQL_SUCCESS) {
        format_odbc_error(result_text, db.environment.get(), connection.get(), SQL_NULL_HSTMT);
        connection.reset();
        db.ready = false;
        --db.slot_count;
        return 0;
    }
    connection.mark_connected();
    db.connect_texts[slot].assign(connect_text);
    db.current_slot = slot;
    db.ready = true;
    return 1;
}

// Finds " FROM " (any case) in text, or npos.
std::size_t find_from(std::string_view text) {
    for (std::size_t i = 0; i + 6 <= text.size(); ++i) {
        if (starts_with_nocase(text.substr(i), " FROM ", 6)) return i;
    }
    return std::string_view::npos;
}

// Removes " AS alias" parts from the select list of a SELECT statement
// (unless it holds "*") and returns the aliases by select-list position.
std::vector<std::string> extract_aliases(char* statement) {
    std::vector<std::string> aliases;
    std::string_view text(statement);
    if (!starts_with_nocase(text, "SELECT ", 7) || text.find('*', 7) != std::string_view::npos) {
        return aliases;
    }
    std::size_t from = find_from(text);
    std::size_t list_end = from == std::string_view::npos ? text.size() : from;
    std::string rewritten(text.substr(0, 7));
    aliases.emplace_back();
    std::size_t i = 7;
    while (i < list_end) {
        char c = text[i];
        if (c == ',') {
            rewritten += c;
            aliases.emplace_back();
            ++i;
        } else if (c == '(') {
            int depth = 0;
            for (; i < list_end; ++i) {
                rewritten += text[i];
                if (text[i] == '(') ++depth;
                if (text[i] == ')' && --depth == 0) {
                    ++i;
                    break;
                }
            }
        } else if (starts_with_nocase(text.substr(i, list_end - i), " AS ", 4)) {
            i += 4;
            while (i < list_end && text[i] == ' ') ++i;
            std::size_t start = i;
            while (i < list_end && text[i] != ',') ++i;
            std::string alias(text.substr(start, i - start));
            if (alias.size() > kMaxColumnName) alias.resize(kMaxColumnName);
            while (!alias.empty() && alias.back() == ' ') alias.pop_back();
            aliases.back() = alias;
        } else {
            rewritten += c;
            ++i;
        }
    }
    rewritten += text.substr(list_end);
    copy_bounded(statement, rewritten.size() + 1, rewritten);
    return aliases;
}

// What the driver reports for one result column.
struct ColumnDescription {
    std::string name;
    long precision;
};

ColumnDescription describe_column(SQLHSTMT stmt, SQLUSMALLINT number) {
    SQLCHAR name[34] = {0};
    SQLSMALLINT name_length = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN precision = 0;
    SQLDescribeCol(stmt, number, name, sizeof name, &name_length, &type, &precision, &scale,
                   &nullable);
    name[33] = 0;
    ColumnDescription d;
    d.name = reinterpret_cast<const char*>(name);
    if (!d.name.empty() && d.name[0] == '(') {
        d.name.erase(0, 1);
        if (std::size_t close = d.name.find(')'); close != std::string::npos) d.name.erase(close);
    }
    long p = static_cast<long>(precision);
    if (type <= 0 || precision > SQLULEN(kMaxColumnPrecision)) p = kMaxColumnPrecision;
    if (p < kMinColumnPrecision) p = kMinColumnPrecision;
    d.precision = p;
    return d;
}

// Drops entries of earlier statements on the current level that a column
// of the new result shadows: no lookup can reach them any more.
void drop_shadowed_columns(const std::vector<ColumnDescription>& incoming) {
    DbSession& db = db_session();
    int base = db.current_level > 0 ? db.saved_column_counts[db.current_level - 1] : 0;
    int write = base;
    for (int read = base; read < db.column_count; ++read) {
        bool shadowed = false;
        for (const ColumnDescription& d : incoming) {
            if (equals_nocase(db.columns[read].name, d.name)) {
                shadowed = true;
                break;
            }
        }
        if (shadowed) continue;
        if (write != read) db.columns[write] = std::move(db.columns[read]);
        ++write;
    }
    for (int i = write; i < db.column_count; ++i) db.columns[i] = ResultColumn{};
    if (db.first_result_column > write) db.first_result_column = write;
    db.column_count = write;
}

void bind_columns(SQLHSTMT stmt, SQLSMALLINT count, const std::vector<std::string>& aliases) {
    DbSession& db = db_session();
    std::vector<ColumnDescription> incoming;
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        ColumnDescription d = describe_column(stmt, SQLUSMALLINT(i));
        std::size_t position = std::size_t(i - 1);
        if (position < aliases.size() && !aliases[position].empty()) d.name = aliases[position];
        incoming.push_back(std::move(d));
    }
    drop_shadowed_columns(incoming);
    db.first_result_column = db.column_count;
    bool reported = false;
    for (std::size_t i = 0; i < incoming.size(); ++i) {
        if (db.column_count >= kColumnTableSize - 1) {
            if (!reported) report_error("Too many result columns");
            reported = true;
            break;
        }
        ResultColumn& entry = db.columns[db.column_count];
        long size = incoming[i].precision + 2;
        entry.name = incoming[i].name;
        entry.value = std::make_unique<char[]>(std::size_t(size));
        entry.indicator = std::make_unique<SQLLEN>(0);
        entry.size = size;
        copy_bounded(entry.value.get(), std::size_t(size), " ");
        SQLBindCol(stmt, SQLUSMALLINT(i + 1), SQL_C_CHAR, entry.value.get(), size - 1,
                   entry.indicator.get());
        ++db.column_count;
    }
    db.columns[db.column_count] = ResultColumn{};
}

const ResultColumn* find_entry(std::string_view name) {
    DbSession& db = db_session();
    for (int i = db.column_count - 1; i >= 0; --i) {
        if (equals_nocase(db.columns[i].name, name)) return &db.columns[i];
    }
    return nullptr;
}

}  // namespace

int execute_statement(const char* connect_text, char* statement, ResultText& result_text,
                      int& affected_rows) {
    DbSession& db = db_session();
    affected_rows = 0;
    result_text.clear();
    std::vector<std::string> aliases = extract_aliases(statement);

    if (!open_connection(connect_text, result_text)) {
        result_text.append(": Database connection failed.");
        return kDbFailed;
    }
    StatementHandle& stmt = db.statements[db.current_level];
    SQLHDBC dbc = db.connections[db.current_slot].get();
    SQLAllocStmt(dbc, stmt.out());
    db.statement_slots[db.current_level] = db.current_slot;
    SQLRETURN rc = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(statement), SQL_NTS);
    if (rc != SQL_SUCCESS) {
        format_odbc_error(result_text, db.environment.get(), dbc, stmt.get());
        stmt.reset();
        return kDbFailed;
    }
    SQLLEN rows = 0;
    SQLRowCount(stmt.get(), &rows);
    affected_rows = static_cast<int>(rows);
    SQLSMALLINT column_count = 0;
    SQLNumResultCols(stmt.get(), &column_count);
    if (column_count > 0) {
        bind_columns(stmt.get(), column_count, aliases);
        return kDbRow;
    }
    stmt.reset();
    if (affected_rows >= 1) {
        result_text.format("%d %s affected.", affected_rows, affected_rows == 1 ? "row" : "rows");
        return kDbAffected;
    }
    if (starts_with_nocase(statement, "UPDATE", 6) || starts_with_nocase(statement, "DELETE", 6) ||
        starts_with_nocase(statement, "INSERT", 6)) {
        result_text.assign("No rows affected.");
        return kDbNoRows;
    }
    result_text.assign("Operation successful.");
    return kDbRow;
}

int fetch_row() {
    DbSession& db = db_session();
    StatementHandle& stmt = db.statements[db.current_level];
    if (stmt && succeeded(SQLFetch(stmt.get()))) return kDbRow;
    stmt.reset();
    return kDbNoRows;
}

void push_statement_level() {
    DbSession& db = db_session();
    if (db.current_level >= kStatementLevels - 1) return;
    db.statements[db.current_level + 1].reset();
    db.saved_column_counts[db.current_level] = db.column_count;
    ++db.current_level;
}

void pop_statement_level() {
    DbSession& db = db_session();
    if (db.current_level <= 0) return;
    db.statements[db.current_level].reset();
    --db.current_level;
    int saved = db.saved_column_counts[db.current_level];
    for (int i = saved; i < db.column_count; ++i) db.columns[i] = ResultColumn{};
    db.column_count = saved;
    if (db.first_result_column > saved) db.first_result_column = saved;
}

void rewind_result_columns() {
    DbSession& db = db_session();
    db.column_cursor = db.first_result_column;
}

const char* next_result_column() {
    DbSession& db = db_session();
    if (db.column_cursor >= db.column_count) return nullptr;
    return db.columns[db.column_cursor++].name.c_str();
}

void close_database() {
    DbSession& db = db_session();
    for (int level = db.current_level; level >= 0; --level) db.statements[level].reset();
    close_connections();
    for (int i = 0; i < db.column_count; ++i) db.columns[i] = ResultColumn{};
    db.column_count = 0;
    db.first_result_column = 0;
    db.current_level = 0;
}

const char* column_value(std::string_view name) {
    const ResultColumn* entry = find_entry(name);
    if (entry == nullptr) return "";
    if (*entry->indicator == SQL_NULL_DATA || entry->value[0] == '\0') return kEmptyMark;
    return entry->value.get();
}

ColumnBuffer find_column(std::string_view name) {
    const ResultColumn* entry = find_entry(name);
    if (entry == nullptr) return ColumnBuffer{nullptr, 0};
    return ColumnBuffer{entry->value.get(), std::size_t(entry->size)};
}

}  // namespace vexil
