// The ODBC session of a run: the only place that talks to the ODBC driver
// manager. It uses one environment and up to three connections (found again
// by their whole connect text, and kept across requests by a persistent
// worker), four nested statement levels (one per row
// loop running), and the column_table through which the values of result
// columns reach references by name (db/columns.hpp). The SQL command
// (db/sql_command.hpp) and the row loops drive it; every ODBC call's return
// code is checked, and a failure comes back as the statement's failure with
// the driver's diagnostic.
#pragma once

#include <sql.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.hpp"
#include "base/text.hpp"

namespace vexil {

// Outcome of execute_statement and fetch_row; the template shows it as
// sql_status, so the values are fixed.
enum DbStatus : int {
    kDbRow = 0,       // a result is open / a row was fetched / a statement succeeded
    kDbAffected = 1,  // rows were affected
    kDbFailed = -1,   // connection, execution or fetch failed
    kDbNoRows = -2,   // no (more) rows
};

// Bytes of every buffer that holds a connect text (the DATABASE command's,
// the expanded one, the key of a cached connection), terminator included. A
// longer text is refused whole: a cut one would reach another database or
// never find its cached connection again.
inline constexpr std::size_t kConnectTextSize = 4096;
// A buffer that receives a connect text from outside (the DATABASE command's
// text, its expansion) holds one character more than a connect text may
// have: a text that did not fit shows as too long and is refused, instead of
// running cut.
using ConnectTextBuffer = TextBuffer<kConnectTextSize + 1>;

inline constexpr int kColumnTableSize = 256;   // the last entry always stays clear
inline constexpr int kStatementLevels = 4;
inline constexpr long kMaxColumnPrecision = 8192;
// Every column buffer holds at least this many characters (drivers report
// small precisions for numbers, and some report lengths they do not
// enforce).
inline constexpr long kMinColumnPrecision = 254;

using ResultText = TextBuffer<1024>;

// An owned ODBC handle, released by `Release` when it is reset, replaced
// or destroyed.
template <void (*Release)(SQLHANDLE)>
class OdbcHandle {
public:
    OdbcHandle() = default;
    OdbcHandle(const OdbcHandle&) = delete;
    OdbcHandle& operator=(const OdbcHandle&) = delete;
    ~OdbcHandle() { reset(); }
    void reset() {
        if (handle_ != SQL_NULL_HANDLE) Release(handle_);
        handle_ = SQL_NULL_HANDLE;
    }
    SQLHANDLE get() const { return handle_; }
    // Where an allocation writes the new handle (the old one is released).
    SQLHANDLE* out() {
        reset();
        return &handle_;
    }
    explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }

private:
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

inline void release_statement(SQLHANDLE h) { SQLFreeStmt(h, SQL_DROP); }
// Disconnecting a connection that never connected only returns an error.
inline void release_connection(SQLHANDLE h) {
    SQLDisconnect(h);
    SQLFreeConnect(h);
}
inline void release_environment(SQLHANDLE h) { SQLFreeEnv(h); }

using StatementHandle = OdbcHandle<release_statement>;
using ConnectionHandle = OdbcHandle<release_connection>;
using EnvironmentHandle = OdbcHandle<release_environment>;

// One bound column. The driver writes the indicator and the value into heap
// blocks of their own, so entries can move within the table while bound.
struct ResultColumn {
    std::string name;                   // alias or driver's name, at most 33 characters
    std::unique_ptr<char[]> value;      // the value as character data
    std::unique_ptr<SQLLEN> indicator;  // length or SQL_NULL_DATA, written at each fetch
    long size = 0;                      // bytes of the value buffer
    // A long column (TEXT, say) is bound to this short buffer instead: the
    // driver then writes (and pads) a short buffer at each fetch, and only
    // a value that does not fit is read again, whole, into `value`.
    std::unique_ptr<char[]> short_value;
    int number = 0;  // the column's number in its statement
};

// Bytes of the buffer a long column is bound to.
inline constexpr long kShortValueSize = 256;

inline constexpr int kConnectionSlots = 3;

// What a statement built for a database must heed: whether the database
// reads a backslash inside a quoted literal as an escape character, and the
// character that quotes a name (a column name with a blank). The defaults
// hold for a database that cannot be asked: backslashes doubled (a doubled
// one may show twice, a single one could end a literal early) and the
// standard double quote.
struct SqlDialect {
    bool backslash_escapes = true;
    char identifier_quote = '"';
};

inline constexpr int kReadAheadNone = 0;
inline constexpr int kReadAheadRow = 1;
inline constexpr int kReadAheadEnd = 2;

// The connections: the environment handle and up to three connections,
// found again by their whole connect text. A CGI run has its own, closed at
// its end; a persistent worker keeps one set from request to request.
// Members are declared so that destruction drops the connections before
// the environment.
struct DbConnections {
    EnvironmentHandle environment;
    bool ready = false;  // the environment and the slots below are valid
    std::array<ConnectionHandle, kConnectionSlots> connections;
    // Each under kConnectTextSize (checked before connecting); strings, so
    // a run's state holds no 4 KB buffer for a slot it never uses.
    std::array<std::string, kConnectionSlots> connect_texts;
    // The working folder each connection was made in: a connect text may
    // name its database file relative to it, and a worker's requests may
    // run in different folders.
    std::array<std::string, kConnectionSlots> folders;
    std::array<SqlDialect, kConnectionSlots> dialects{};
};

// The session of a run: its statements and bound columns, and which of the
// connections it uses. `connections` must outlive the session, whose
// statements are dropped first.
struct DbSession {
    DbConnections* connections = nullptr;
    // The connection slots this run has used, in the order it first used
    // them: a run replaces connections as a run with no connections open
    // before it would, whatever earlier runs left open.
    std::array<int, kConnectionSlots> run_slots{};
    int run_slot_count = 0;
    // Slots taken over from an earlier run and not yet used by this one: a
    // connection there may have broken since.
    std::array<bool, kConnectionSlots> unproven{};
    int current_slot = 0;
    std::array<StatementHandle, kStatementLevels> statements;  // one per level
    std::array<int, kStatementLevels> statement_slots{};       // connection of each level's statement
    int current_level = 0;
    std::array<int, kStatementLevels> saved_column_counts{};
    // The column table: entries [0, column_count) in use, the one after
    // them clear. Its room (kColumnTableSize entries) is reserved when the
    // session is made and never grows, so entries stay where they are;
    // entries are made only as they are needed (column_entry), so a run
    // that reads three columns does not construct and touch 256.
    std::vector<ResultColumn> columns;
    int column_count = 0;
    int first_result_column = 0;  // first column of the latest result with columns
    // A statement whose first row was read when it ran (SQLite in the step
    // mode the program turned on): the next fetch on its level returns that
    // row (kReadAheadRow) or the end (kReadAheadEnd) without calling the driver.
    std::array<int, kStatementLevels> read_ahead{};
    // The column entries of each level's statement: [first, end).
    std::array<int, kStatementLevels> result_first{};
    std::array<int, kStatementLevels> result_end{};
    int column_cursor = 0;        // for next_result_column

    DbSession() { columns.reserve(kColumnTableSize); }
    DbSession(const DbSession&) = delete;
    DbSession& operator=(const DbSession&) = delete;
    // Ends the run's watch before any statement handle is released.
    ~DbSession();
};

DbSession& db_session();

// Whether a web run's time limit was reached (statements no longer run).
bool run_time_is_up();

// Whether a connect text may be given to the driver manager: it fits the
// connect-text buffers and names no empty DRIVER; a failure says which.
Status check_connect_text(std::string_view connect_text);

// Executes `statement` (writable: aliases are removed from its select list)
// on the current level through the connection for `connect_text`. Empties
// result_text first and leaves the outcome or diagnostic there.
DbStatus execute_statement(const char* connect_text, char* statement, ResultText& result_text,
                           int& affected_rows);

// The dialect of the database behind connect_text (connecting when needed):
// an unknown database reads backslashes as escapes; a connection that fails
// gives the defaults.
SqlDialect sql_dialect(const char* connect_text);

// Fetches the next row of the current level's statement: kDbRow, or
// kDbNoRows once none is left, or kDbFailed with the driver's diagnostic in
// the result text (sql_result); the statement is released after the last
// row and after a failure.
DbStatus fetch_row();

// Around each run of a row-loop body: the body's statements get a level of
// their own, and the columns they bind are forgotten afterwards.
void push_statement_level();
void pop_statement_level();

// Iterates over the column names of the latest statement that had result
// columns; next_result_column gives nullptr after the last.
void rewind_result_columns();
const char* next_result_column();

// Releases every statement, connection and column buffer.
void close_database();

// After a request a persistent worker answered (its statements already
// dropped): rolls back what each connection left open, and closes a
// connection that fails at it or that the driver reports broken.
void end_request(DbConnections& connections);

}  // namespace vexil
