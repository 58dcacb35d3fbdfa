// The statement watchdog: a web run's time limit reaches the database. A
// statement may run (or wait for a lock) far longer than the page may take;
// when the run's time is up, the watchdog cancels the statement that is
// running through ODBC, so the page ends with a message instead of holding
// the request.
#pragma once

#include <sql.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vexil {

class StatementWatchdog {
public:
    StatementWatchdog() = default;
    StatementWatchdog(const StatementWatchdog&) = delete;
    StatementWatchdog& operator=(const StatementWatchdog&) = delete;
    // Stops the watch; a statement is never cancelled after this.
    ~StatementWatchdog();

    // Marks `stmt` as running (SQL_NULL_HSTMT: none) for the duration of one
    // execution or fetch; the first call with a statement starts the watch
    // when the run has a time limit.
    void running(SQLHSTMT stmt);
    // Whether the time ran out and a statement was (or would have been)
    // cancelled.
    bool expired() const { return expired_; }

private:
    void watch(long milliseconds);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    SQLHSTMT current_ = SQL_NULL_HSTMT;  // guarded by mutex_
    bool stopping_ = false;              // guarded by mutex_
    std::atomic<bool> expired_{false};
};

// Marks a statement as running on the run's watchdog while it lives.
class RunningStatement {
public:
    RunningStatement(StatementWatchdog& watchdog, SQLHSTMT stmt) : watchdog_(watchdog) { watchdog_.running(stmt); }
    ~RunningStatement() { watchdog_.running(SQL_NULL_HSTMT); }
    RunningStatement(const RunningStatement&) = delete;
    RunningStatement& operator=(const RunningStatement&) = delete;

private:
    StatementWatchdog& watchdog_;
};

}  // namespace vexil
