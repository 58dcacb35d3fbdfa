// The statement watchdog: a web run's time limit reaches the database. A
// statement may run (or wait for a lock) far longer than the page may take;
// when the run's time is up, the watchdog cancels the statement that is
// running through ODBC, so the page ends with a message instead of holding
// the request.
//
// One watchdog thread serves every run of a process: it is started by the
// first statement that runs under a time limit and kept, so a persistent
// worker does not start and join a thread for every request. It lives as
// long as the process and is never stopped or joined: a CGI process would
// otherwise wake it at its end only to wait for it to exit.
#pragma once

#include <sql.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vexil {

class StatementWatchdog {
public:
    StatementWatchdog() = default;
    StatementWatchdog(const StatementWatchdog&) = delete;
    StatementWatchdog& operator=(const StatementWatchdog&) = delete;
    // Stops the thread; a statement is never cancelled after this.
    ~StatementWatchdog();

    // Marks `stmt` as running (SQL_NULL_HSTMT: none) for the duration of one
    // execution or fetch; the first call of a run with a statement starts
    // the run's watch when the run has a time limit.
    void running(SQLHSTMT stmt);
    // Whether the run's time ran out and a statement was (or would have
    // been) cancelled.
    bool expired() const { return expired_; }
    // Ends the run's watch: nothing is cancelled for it any more, and the
    // next run starts with its own time.
    void end_run();

private:
    void watch();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    // Guarded by mutex_:
    SQLHSTMT current_ = SQL_NULL_HSTMT;
    bool stopping_ = false;
    bool armed_ = false;  // the run in progress has a deadline
    std::chrono::steady_clock::time_point deadline_;
    unsigned long watch_number_ = 0;  // changes whenever a watch starts or ends
    // When the thread wakes next by itself (max: only when woken).
    std::chrono::steady_clock::time_point waiting_until_ = std::chrono::steady_clock::time_point::max();
    std::atomic<bool> expired_{false};
};

// The process's watchdog, made on first use and never destroyed.
StatementWatchdog& process_watchdog();

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
