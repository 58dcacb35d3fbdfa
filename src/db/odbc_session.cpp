// The ODBC session: connections, statements and bound columns.
//
// Handles are held by small owning wrappers, so that whatever path a run
// takes, every statement is dropped before its connection and every
// connection before the environment. Column values are bound once per
// statement into heap buffers; a fetch copies nothing. Each step that calls
// the driver returns a Status whose message is the driver's diagnostic
// ("DATABASE ERROR: <state> <message>"); execute_statement and fetch_row
// turn it into the statement's failure.
#include "db/odbc_session.hpp"

#include <dlfcn.h>
#include <sqlext.h>
#include <unistd.h>

#include <cctype>
#include <climits>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/output.hpp"
#include "base/policy.hpp"
#include "db/aliases.hpp"
#include "db/connect_text.hpp"
#include "db/columns.hpp"
#include "db/results.hpp"
#include "db/watchdog.hpp"
#include "values/variable_table.hpp"

namespace vexil {

namespace {

bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The first diagnostic of the given handles as a failure.
Status odbc_failure(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
    SQLCHAR state[6] = {0};
    SQLCHAR message[512] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLError(env, dbc, stmt, state, &native, message, sizeof message - 1, &length);
    state[5] = 0;
    message[511] = 0;
    return Status::failure("DATABASE ERROR: %s %s", reinterpret_cast<const char*>(state),
                           reinterpret_cast<const char*>(message));
}

// A failure of a call on the current level's statement.
Status statement_failure(SQLHSTMT stmt) {
    DbSession& db = db_session();
    DbConnections& cache = *db.connections;
    return odbc_failure(cache.environment.get(), cache.connections[db.current_slot].get(), stmt);
}

// Appends a failure's message to what the result text already holds (a
// connection's warnings, say).
void append_failure(ResultText& result_text, const Status& status) {
    if (!result_text.empty()) result_text.append("; ");
    result_text.append(status.message());
}

void close_connections(DbConnections& cache) {
    for (ConnectionHandle& c : cache.connections) c.reset();
    for (auto& text : cache.connect_texts) text.clear();
    cache.environment.reset();
    cache.ready = false;
}

void forget_slot(DbConnections& cache, int slot) {
    cache.connections[slot].reset();
    cache.connect_texts[slot].clear();
}

// Whether the driver reports the connection broken.
bool is_dead(SQLHDBC dbc) {
    SQLUINTEGER dead = SQL_CD_FALSE;
    return succeeded(SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) && dead == SQL_CD_TRUE;
}

bool used_by_run(const DbSession& db, int slot) {
    for (int p = 0; p < db.run_slot_count; ++p) {
        if (db.run_slots[p] == slot) return true;
    }
    return false;
}

// The slot for a new connection: the first one of a fresh environment, one
// this run has not used yet (an empty one first), or (the run uses all
// three) the one it took third, whose statements go.
Status choose_slot(int& slot) {
    DbSession& db = db_session();
    DbConnections& cache = *db.connections;
    if (!cache.ready) {
        // Start over: statements and connections of an earlier session are
        // released before a new environment replaces theirs.
        for (StatementHandle& s : db.statements) s.reset();
        close_connections(cache);
        db.run_slot_count = 0;
        if (!succeeded(SQLAllocEnv(cache.environment.out()))) {
            return odbc_failure(cache.environment.get(), SQL_NULL_HDBC, SQL_NULL_HSTMT);
        }
        slot = 0;
    } else if (db.run_slot_count == kConnectionSlots) {
        slot = db.run_slots[kConnectionSlots - 1];
        for (int level = 0; level < kStatementLevels; ++level) {
            // A statement open on the replaced connection cannot outlive it.
            if (db.statement_slots[level] == slot) db.statements[level].reset();
        }
    } else {
        slot = -1;
        for (int i = 0; i < kConnectionSlots; ++i) {
            if (used_by_run(db, i)) continue;
            if (slot < 0 || !cache.connections[i]) slot = i;
            if (!cache.connections[i]) break;
        }
    }
    forget_slot(cache, slot);
    return Status::ok();
}

// The text handed to the driver. The SQLite driver waits for a locked
// database during the connect too, for its busy timeout (100 s unless the
// connect text's Timeout says otherwise), and no cancel reaches a connect
// or ends that wait: so in a run with a time limit, a text that names that
// driver and sets no Timeout goes to the driver with one added, the time
// left and a little more (so that the wait ends after the watchdog has
// marked the time as up). True when it was added. The text as written is
// untouched: connections are found again by it.
bool bounded_connect_text(std::string_view connect_text, std::string& text) {
    text.assign(connect_text);
    long left = milliseconds_left();
    std::string_view ignored;
    if (left < 0 || !names_sqlite_driver(connect_text) || connect_text_value(connect_text, "Timeout", ignored)) {
        return false;
    }
    if (!text.empty() && text.back() != ';') text += ';';
    text += "Timeout=" + std::to_string(left + 100);
    return true;
}

// On a connection made with that Timeout, a statement that meets a lock is
// tried again by the driver until the Timeout has passed, and each try
// waits through SQLite's own busy handler as well, so the waits add up.
// Without SQLite's handler the driver's Timeout alone bounds the wait. In
// the step mode the program turns on, the driver does not try a fetch
// again, and SQLite's handler (which the driver sets to the Timeout) is the
// one wait: it stays.
void single_lock_wait(SQLHDBC dbc) {
    StatementHandle stmt;
    if (!succeeded(SQLAllocStmt(dbc, stmt.out()))) return;
    char pragma[] = "PRAGMA busy_timeout = 0";
    SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(pragma), SQL_NTS);
}

// Connects a new handle; the warnings of a connection made with warnings are
// appended to result_text.
Status connect(ConnectionHandle& connection, std::string_view connect_text, ResultText& result_text) {
    DbConnections& cache = *db_session().connections;
    if (!succeeded(SQLAllocConnect(cache.environment.get(), connection.out()))) {
        return odbc_failure(cache.environment.get(), SQL_NULL_HDBC, SQL_NULL_HSTMT);
    }
    // Drivers add their defaults to the completed text: room for twice the
    // longest connect text, so that no "truncated" warning arises.
    std::array<SQLCHAR, 2 * kConnectTextSize> out;
    SQLSMALLINT out_length = 0;
    // The driver gets the text with the options the program adds; the
    // cache keeps the text as written.
    std::string text;
    bool bounded = bounded_connect_text(connect_text, text);
    text = connect_text_with_step_mode(text);
    SQLRETURN rc = SQLDriverConnect(connection.get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                    static_cast<SQLSMALLINT>(text.size()), out.data(),
                                    static_cast<SQLSMALLINT>(out.size()), &out_length, SQL_DRIVER_NOPROMPT);
    if (!succeeded(rc)) return odbc_failure(cache.environment.get(), connection.get(), SQL_NULL_HSTMT);
    if (rc == SQL_SUCCESS_WITH_INFO) {
        append_failure(result_text, odbc_failure(cache.environment.get(), connection.get(), SQL_NULL_HSTMT));
    }
    if (bounded && !adds_step_mode(connect_text)) single_lock_wait(connection.get());
    return Status::ok();
}

// Whether PostgreSQL's plain literals keep backslashes on this connection
// (standard_conforming_strings on, as the server, the database or the user
// may set it otherwise). Not knowing counts as no.
bool keeps_backslashes(SQLHDBC dbc) {
    StatementHandle stmt;
    if (!succeeded(SQLAllocStmt(dbc, stmt.out()))) return false;
    char query[] = "SHOW standard_conforming_strings";
    if (!succeeded(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(query), SQL_NTS))) return false;
    if (!succeeded(SQLFetch(stmt.get()))) return false;
    SQLCHAR value[16] = {0};
    SQLLEN length = 0;
    if (!succeeded(SQLGetData(stmt.get(), 1, SQL_C_CHAR, value, sizeof value, &length))) return false;
    return equals_nocase(reinterpret_cast<const char*>(value), "on");
}

// The name the driver gives its database system ("" when it gives none).
std::string dbms_name(SQLHDBC dbc) {
    SQLCHAR name[64] = {0};
    SQLSMALLINT length = 0;
    if (!succeeded(SQLGetInfo(dbc, SQL_DBMS_NAME, name, sizeof name, &length))) return {};
    return reinterpret_cast<const char*>(name);
}

// Whether a connected database reads "\" in quoted literals as an escape:
// not SQLite, not PostgreSQL while its plain literals keep backslashes (its
// E'...' literals are recognised where values are placed), and everything
// else (MariaDB and MySQL by default, or a driver that names no system) to
// be safe.
bool reads_backslash_escapes(SQLHDBC dbc, std::string_view dbms) {
    if (starts_with_keyword(dbms, "SQLite")) return false;
    if (starts_with_keyword(dbms, "PostgreSQL")) return !keeps_backslashes(dbc);
    return true;
}

// SQLite keeps up to 2 MB of the pages it has read in a cache of each
// connection, so a run's memory grew with the size of the tables it read
// until that much. The operating system caches the file as well, and a row
// loop reads a page once: SQLite is asked to keep its memory in this
// process near 128 KB (a soft limit: it recycles cached pages first and
// never fails a statement for it), and a run's memory stays about the same
// for a thousand rows or a million. Unlike the cache size, this setting
// reads nothing from the database, so it never waits for a lock. A
// template may set another limit with PRAGMA soft_heap_limit.
//
// The limit belongs to the SQLite library, not to a connection. When the
// driver uses SQLite as a shared library (Debian's does), its own setter is
// called there; a statement through the driver for it took about 1.5% of a
// small CGI page's time. Otherwise the PRAGMA does the same.
void bound_sqlite_memory(SQLHDBC dbc) {
    constexpr long long kLimit = 131072;
    if (void* library = ::dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_NOLOAD); library != nullptr) {
        using SetLimit = long long (*)(long long);
        auto set_limit = reinterpret_cast<SetLimit>(::dlsym(library, "sqlite3_soft_heap_limit64"));
        if (set_limit != nullptr) set_limit(kLimit);
        ::dlclose(library);  // only gives back the reference RTLD_NOLOAD took
        if (set_limit != nullptr) return;
    }
    StatementHandle stmt;
    if (!succeeded(SQLAllocStmt(dbc, stmt.out()))) return;
    std::string pragma = "PRAGMA soft_heap_limit = " + std::to_string(kLimit);
    SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(pragma.data()), SQL_NTS);
}

// The character the driver names for quoting names: the double quote for
// SQLite and PostgreSQL, the backquote for MariaDB (whose double quotes
// make a text by default). A driver that names none, or more than one
// character, gets the standard double quote.
char identifier_quote(SQLHDBC dbc) {
    SQLCHAR quote[8] = {0};
    SQLSMALLINT length = 0;
    if (!succeeded(SQLGetInfo(dbc, SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &length)) || length != 1 ||
        quote[0] == ' ') {
        return '"';
    }
    return static_cast<char>(quote[0]);
}

// Makes `slot` the current one and, the first time, one of this run's.
void use_slot(int slot, bool unproven) {
    DbSession& db = db_session();
    if (!used_by_run(db, slot)) {
        db.run_slots[db.run_slot_count++] = slot;
        db.unproven[slot] = unproven;
    }
    db.current_slot = slot;
}

// The current working folder ("" when it cannot be told).
std::string working_folder() {
    char path[PATH_MAX];
    return ::getcwd(path, sizeof path) != nullptr ? std::string(path) : std::string();
}

// Connects `slot` anew for connect_text.
Status connect_slot(int slot, std::string_view connect_text, ResultText& result_text) {
    DbConnections& cache = *db_session().connections;
    Status status = connect(cache.connections[slot], connect_text, result_text);
    if (!status.is_ok()) {
        forget_slot(cache, slot);
        return status;
    }
    cache.connect_texts[slot].assign(connect_text);
    cache.folders[std::size_t(slot)] = working_folder();
    db_session().unproven[slot] = false;
    SQLHDBC dbc = cache.connections[slot].get();
    std::string dbms = dbms_name(dbc);
    if (starts_with_keyword(dbms, "SQLite")) bound_sqlite_memory(dbc);
    cache.dialects[std::size_t(slot)] = SqlDialect{reads_backslash_escapes(dbc, dbms), identifier_quote(dbc)};
    return Status::ok();
}

// Makes the connection for connect_text the current one: one of this run's
// with the same whole text, one an earlier run left open, else a new one.
Status open_connection(std::string_view connect_text, ResultText& result_text) {
    DbSession& db = db_session();
    DbConnections& cache = *db.connections;
    if (Status s = check_connect_text(connect_text); !s.is_ok()) return s;
    std::string folder = working_folder();
    for (int i = 0; cache.ready && i < kConnectionSlots; ++i) {
        if (!cache.connections[i] || cache.connect_texts[i] != connect_text ||
            cache.folders[std::size_t(i)] != folder) {
            continue;
        }
        if (used_by_run(db, i)) {
            db.current_slot = i;
            return Status::ok();
        }
        if (db.run_slot_count < kConnectionSlots) {
            use_slot(i, true);
            return Status::ok();
        }
    }
    int slot = 0;
    Status status = choose_slot(slot);
    if (status.is_ok()) status = connect_slot(slot, connect_text, result_text);
    if (!status.is_ok()) {
        cache.ready = false;
        return status;
    }
    use_slot(slot, false);
    cache.ready = true;
    return Status::ok();
}

// After a statement failed on a connection an earlier run left open: when
// the connection turns out broken, it is made again, and true tells the
// caller to run the statement once more (it never reached the database).
bool reconnect_if_broken(const Status& failure, const char* connect_text, ResultText& result_text) {
    DbSession& db = db_session();
    int slot = db.current_slot;
    if (!db.unproven[slot]) return false;
    db.unproven[slot] = false;
    DbConnections& cache = *db.connections;
    bool link_failure = std::string_view(failure.message()).starts_with("DATABASE ERROR: 08");
    if (!link_failure && !is_dead(cache.connections[slot].get())) return false;
    db.statements[db.current_level].reset();
    forget_slot(cache, slot);
    return connect_slot(slot, connect_text, result_text).is_ok();
}

// What the driver reports for one result column.
struct ColumnDescription {
    std::string name;
    long precision = 0;
};

Status describe_column(SQLHSTMT stmt, SQLUSMALLINT number, ColumnDescription& d) {
    SQLCHAR name[kMaxColumnName + 1] = {0};
    SQLSMALLINT name_length = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN precision = 0;
    if (!succeeded(SQLDescribeCol(stmt, number, name, sizeof name, &name_length, &type, &precision,
                                  &scale, &nullable))) {
        return statement_failure(stmt);
    }
    name[kMaxColumnName] = 0;
    d.name = reinterpret_cast<const char*>(name);
    if (!d.name.empty() && d.name[0] == '(') {
        d.name.erase(0, 1);
        if (std::size_t close = d.name.find(')'); close != std::string::npos) d.name.erase(close);
    }
    long p = static_cast<long>(precision);
    if (type <= 0 || precision > SQLULEN(kMaxColumnPrecision)) p = kMaxColumnPrecision;
    if (p < kMinColumnPrecision) p = kMinColumnPrecision;
    d.precision = p;
    return Status::ok();
}

// The result's columns as the driver describes them, named by their aliases
// where the select list gave one.
Status describe_result(SQLHSTMT stmt, SQLSMALLINT count, const std::vector<std::string>& aliases,
                       std::vector<ColumnDescription>& incoming) {
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        ColumnDescription d;
        if (Status s = describe_column(stmt, SQLUSMALLINT(i), d); !s.is_ok()) return s;
        std::size_t position = std::size_t(i - 1);
        if (position < aliases.size() && !aliases[position].empty()) d.name = aliases[position];
        incoming.push_back(std::move(d));
    }
    return Status::ok();
}

// Column entry i (below kColumnTableSize), made when it is first needed.
ResultColumn& column_entry(int i) {
    std::vector<ResultColumn>& columns = db_session().columns;
    if (columns.size() <= std::size_t(i)) columns.resize(std::size_t(i) + 1);
    return columns[std::size_t(i)];
}

// Forgets the column entries from `first` on.
void forget_columns_from(int first) {
    DbSession& db = db_session();
    for (int i = first; i < db.column_count; ++i) db.columns[i] = ResultColumn{};
    db.column_count = first;
    if (db.first_result_column > db.column_count) db.first_result_column = db.column_count;
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
    forget_columns_from(write);
}

// Reads the first row of a statement in the step mode the program turned
// on, before its columns are bound (their values are taken with SQLGetData
// as they are bound). A failure here, the time limit's included, is the
// statement's own, as when the driver reads the whole result as it runs.
Status read_first_row(SQLHSTMT stmt, int& ahead) {
    SQLRETURN rc;
    {
        RunningStatement watched(process_watchdog(), stmt);
        rc = SQLFetch(stmt);
    }
    if (process_watchdog().expired() || (!succeeded(rc) && milliseconds_left() == 0)) {
        return Status::failure("The page's time limit was reached; the statement was cancelled.");
    }
    if (rc == SQL_NO_DATA) {
        ahead = kReadAheadEnd;
        return Status::ok();
    }
    if (!succeeded(rc)) return statement_failure(stmt);
    ahead = kReadAheadRow;
    return Status::ok();
}

// Whether the current connection's driver lets a bound column be read
// again with SQLGetData.
bool reads_bound_columns() {
    DbSession& db = db_session();
    SQLHDBC dbc = db.connections->connections[db.current_slot].get();
    SQLUINTEGER extensions = 0;
    return succeeded(SQLGetInfo(dbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)) &&
           (extensions & SQL_GD_BOUND) != 0;
}

// After a fetch: the long columns of the current level's statement get
// the value from their short buffer, or, when it did not fit there, read
// whole as a bound buffer of their full size would have received it.
Status take_short_values(SQLHSTMT stmt) {
    DbSession& db = db_session();
    int level = db.current_level;
    for (int i = db.result_first[level]; i < db.result_end[level]; ++i) {
        ResultColumn& entry = db.columns[i];
        if (!entry.short_value) continue;
        SQLLEN length = *entry.indicator;
        if (length == SQL_NULL_DATA) continue;
        if (length >= 0 && length <= kShortValueSize - 2) {
            copy_bounded(entry.value.get(), std::size_t(entry.size),
                         std::string_view(entry.short_value.get(), std::size_t(length)));
        } else if (!succeeded(SQLGetData(stmt, SQLUSMALLINT(entry.number), SQL_C_CHAR, entry.value.get(),
                                         entry.size - 1, entry.indicator.get()))) {
            return statement_failure(stmt);
        }
    }
    return Status::ok();
}

// Binds the result's columns into new entries of the column table; with
// row_read, the row already fetched is copied into them first. When the
// driver refuses a binding, the entries of this result are forgotten again.
Status bind_columns(SQLHSTMT stmt, const std::vector<ColumnDescription>& incoming, bool row_read) {
    DbSession& db = db_session();
    drop_shadowed_columns(incoming);
    db.first_result_column = db.column_count;
    db.result_first[db.current_level] = db.column_count;
    db.result_end[db.current_level] = db.column_count;
    bool shorten = false;
    for (const ColumnDescription& d : incoming) {
        if (d.precision + 2 > kShortValueSize) shorten = true;
    }
    if (shorten) shorten = reads_bound_columns();
    for (std::size_t i = 0; i < incoming.size(); ++i) {
        if (db.column_count >= kColumnTableSize - 1) {
            report_error("Too many result columns");
            break;
        }
        ResultColumn& entry = column_entry(db.column_count);
        long size = incoming[i].precision + 2;
        entry.name = incoming[i].name;
        entry.value = std::make_unique_for_overwrite<char[]>(std::size_t(size));  // set below
        entry.indicator = std::make_unique<SQLLEN>(0);
        entry.size = size;
        copy_bounded(entry.value.get(), std::size_t(size), " ");
        entry.number = int(i + 1);
        char* bound = entry.value.get();
        long bound_size = size;
        if (shorten && size > kShortValueSize) {
            entry.short_value = std::make_unique_for_overwrite<char[]>(std::size_t(kShortValueSize));
            bound = entry.short_value.get();
            bound_size = kShortValueSize;
        }
        ++db.column_count;
        db.result_end[db.current_level] = db.column_count;
        // Columns are read in increasing order, each before it is bound.
        if ((row_read && !succeeded(SQLGetData(stmt, SQLUSMALLINT(i + 1), SQL_C_CHAR, entry.value.get(),
                                               size - 1, entry.indicator.get()))) ||
            !succeeded(SQLBindCol(stmt, SQLUSMALLINT(i + 1), SQL_C_CHAR, bound, bound_size - 1,
                                  entry.indicator.get()))) {
            Status failure = statement_failure(stmt);
            forget_columns_from(db.first_result_column);
            return failure;
        }
    }
    column_entry(db.column_count) = ResultColumn{};
    return Status::ok();
}

// Runs the statement on the current level's statement handle; anything but
// SQL_SUCCESS from the execution is a failure (a notice the driver passes on
// included). Reads the row count and the number of result columns.
Status run_on_level(char* statement, int& affected_rows, SQLSMALLINT& column_count) {
    DbSession& db = db_session();
    StatementHandle& stmt = db.statements[db.current_level];
    SQLHDBC dbc = db.connections->connections[db.current_slot].get();
    if (!succeeded(SQLAllocStmt(dbc, stmt.out()))) {
        return odbc_failure(db.connections->environment.get(), dbc, SQL_NULL_HSTMT);
    }
    db.statement_slots[db.current_level] = db.current_slot;
    // A web run's statements share its time limit: the driver cancels one
    // still running (or waiting for a lock) when the time is up.
    if (seconds_left() == 0 || process_watchdog().expired()) {
        return Status::failure("The page's time limit was reached; the statement was not run.");
    }
    SQLRETURN rc;
    {
        RunningStatement watched(process_watchdog(), stmt.get());
        rc = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(statement), SQL_NTS);
    }
    // A wait for a lock that ended with the time left ends as a cancel does.
    if (process_watchdog().expired() || (!succeeded(rc) && milliseconds_left() == 0)) {
        return Status::failure("The page's time limit was reached; the statement was cancelled.");
    }
    if (rc != SQL_SUCCESS) return statement_failure(stmt.get());
    SQLLEN rows = 0;
    if (!succeeded(SQLRowCount(stmt.get(), &rows))) return statement_failure(stmt.get());
    affected_rows = static_cast<int>(rows);
    if (!succeeded(SQLNumResultCols(stmt.get(), &column_count))) return statement_failure(stmt.get());
    return Status::ok();
}

// The outcome of a statement without result columns.
DbStatus finish_without_result(const char* statement, ResultText& result_text, int affected_rows) {
    if (affected_rows >= 1) {
        result_text.format("%d %s affected.", affected_rows, affected_rows == 1 ? "row" : "rows");
        return kDbAffected;
    }
    if (starts_with_keyword(statement, "UPDATE") || starts_with_keyword(statement, "DELETE") ||
        starts_with_keyword(statement, "INSERT")) {
        result_text.assign("No rows affected.");
        return kDbNoRows;
    }
    result_text.assign("Operation successful.");
    return kDbRow;
}

const ResultColumn* find_entry(std::string_view name) {
    DbSession& db = db_session();
    for (int i = db.column_count - 1; i >= 0; --i) {
        if (equals_nocase(db.columns[i].name, name)) return &db.columns[i];
    }
    return nullptr;
}

}  // namespace

Status check_connect_text(std::string_view connect_text) {
    if (names_empty_driver(connect_text)) return Status::failure("Connect text names no driver (DRIVER is empty)");
    if (connect_text.size() < kConnectTextSize) return Status::ok();
    return Status::failure("Connect text longer than %zu characters", kConnectTextSize - 1);
}

bool run_time_is_up() { return seconds_left() == 0 || process_watchdog().expired(); }

SqlDialect sql_dialect(const char* connect_text) {
    ResultText ignored;
    if (!open_connection(connect_text, ignored).is_ok()) return SqlDialect{};
    DbSession& db = db_session();
    return db.connections->dialects[std::size_t(db.current_slot)];
}

DbStatus execute_statement(const char* connect_text, char* statement, ResultText& result_text,
                           int& affected_rows) {
    DbSession& db = db_session();
    affected_rows = 0;
    result_text.clear();
    db.read_ahead[db.current_level] = kReadAheadNone;
    SelectAliases split = split_aliases(statement);
    copy_bounded(statement, split.statement.size() + 1, split.statement);

    if (Status s = open_connection(connect_text, result_text); !s.is_ok()) {
        append_failure(result_text, s);
        result_text.append(": Database connection failed.");
        return kDbFailed;
    }
    SQLSMALLINT column_count = 0;
    Status status = run_on_level(statement, affected_rows, column_count);
    if (!status.is_ok() && reconnect_if_broken(status, connect_text, result_text)) {
        status = run_on_level(statement, affected_rows, column_count);
    }
    db.unproven[db.current_slot] = false;
    StatementHandle& stmt = db.statements[db.current_level];
    if (status.is_ok() && column_count > 0) {
        std::vector<ColumnDescription> incoming;
        status = describe_result(stmt.get(), column_count, split.aliases, incoming);
        int& ahead = db.read_ahead[db.current_level];
        if (status.is_ok() && adds_step_mode(connect_text)) status = read_first_row(stmt.get(), ahead);
        if (status.is_ok()) status = bind_columns(stmt.get(), incoming, ahead == kReadAheadRow);
        if (status.is_ok()) return kDbRow;
    }
    stmt.reset();
    if (!status.is_ok()) {
        append_failure(result_text, status);
        return kDbFailed;
    }
    return finish_without_result(statement, result_text, affected_rows);
}

namespace {
// A value longer than its buffer ends one character before the buffer's
// end, as ODBC has it. Some drivers (MariaDB's) fill the whole length they
// were given and put the terminator in the spare byte after it; the value
// is cut back to what any driver gives. Columns of outer levels, untouched
// since their own fetch, stay as they are.
void cut_truncated_values() {
    DbSession& db = db_session();
    for (int i = 0; i < db.column_count; ++i) {
        ResultColumn& entry = db.columns[i];
        if (!entry.indicator || entry.size < 2) continue;
        SQLLEN length = *entry.indicator;
        if (length == SQL_NO_TOTAL || length >= entry.size - 1) entry.value[std::size_t(entry.size - 2)] = '\0';
    }
}
}  // namespace

DbStatus fetch_row() {
    DbSession& db = db_session();
    StatementHandle& stmt = db.statements[db.current_level];
    if (!stmt) return kDbNoRows;
    if (int ahead = std::exchange(db.read_ahead[db.current_level], kReadAheadNone); ahead != kReadAheadNone) {
        if (ahead == kReadAheadRow) return kDbRow;
        stmt.reset();
        return kDbNoRows;
    }
    SQLRETURN rc;
    {
        RunningStatement watched(process_watchdog(), stmt.get());
        rc = SQLFetch(stmt.get());
    }
    Status taken = Status::ok();
    if (succeeded(rc) && !process_watchdog().expired()) {
        taken = take_short_values(stmt.get());
        if (taken.is_ok()) {
            cut_truncated_values();
            return kDbRow;
        }
    }
    DbStatus status = kDbNoRows;
    if (process_watchdog().expired()) {
        result_items().result_text.assign("The page's time limit was reached; the rows were cut short.");
        status = kDbFailed;
    } else if (!taken.is_ok()) {
        result_items().result_text.assign(taken.message());
        status = kDbFailed;
    } else if (rc != SQL_NO_DATA) {
        result_items().result_text.assign(statement_failure(stmt.get()).message());
        status = kDbFailed;
    }
    stmt.reset();
    return status;
}

void push_statement_level() {
    DbSession& db = db_session();
    if (db.current_level >= kStatementLevels - 1) return;
    db.statements[db.current_level + 1].reset();
    db.read_ahead[db.current_level + 1] = kReadAheadNone;
    db.saved_column_counts[db.current_level] = db.column_count;
    ++db.current_level;
}

void pop_statement_level() {
    DbSession& db = db_session();
    if (db.current_level <= 0) return;
    db.statements[db.current_level].reset();
    --db.current_level;
    forget_columns_from(db.saved_column_counts[db.current_level]);
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

DbSession::~DbSession() {
    if (connections != nullptr) process_watchdog().end_run();
}

void close_database() {
    DbSession& db = db_session();
    for (int level = db.current_level; level >= 0; --level) db.statements[level].reset();
    close_connections(*db.connections);
    db.run_slot_count = 0;
    forget_columns_from(0);
    db.first_result_column = 0;
    db.current_level = 0;
}

void end_request(DbConnections& connections) {
    if (!connections.ready) {
        close_connections(connections);
        return;
    }
    for (int slot = 0; slot < kConnectionSlots; ++slot) {
        SQLHDBC dbc = connections.connections[slot].get();
        if (dbc == SQL_NULL_HDBC) continue;
        if (!succeeded(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK)) || is_dead(dbc)) {
            forget_slot(connections, slot);
        }
    }
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
