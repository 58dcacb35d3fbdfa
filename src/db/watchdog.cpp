// The statement watchdog's thread sleeps until the deadline of the run in
// progress (or until that run ends) and then cancels the statement running
// at that moment. The running statement is set and cleared under the mutex,
// so a cancel never reaches a statement handle after its execution or fetch
// has returned.
#include "db/watchdog.hpp"

#include <sqlext.h>

#include "base/policy.hpp"

namespace vexil {

StatementWatchdog& process_watchdog() {
    static StatementWatchdog* const watchdog = new StatementWatchdog;
    return *watchdog;
}

StatementWatchdog::~StatementWatchdog() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void StatementWatchdog::running(SQLHSTMT stmt) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stmt != SQL_NULL_HSTMT && !armed_) {
        long left = milliseconds_left();
        if (left > 0) {
            armed_ = true;
            deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(left);
            ++watch_number_;
            if (!thread_.joinable()) {
                thread_ = std::thread([this] { watch(); });
            } else if (deadline_ < waiting_until_) {
                // Waking the thread costs two context switches: only when it
                // sleeps without a deadline or past this one. Otherwise it
                // wakes at the earlier deadline it has and then waits for
                // this one.
                wake_.notify_all();
            }
        }
    }
    current_ = stmt;
    if (expired_ && stmt != SQL_NULL_HSTMT) SQLCancel(stmt);
}

void StatementWatchdog::end_run() {
    // The thread is not woken: it finds the watch ended when its deadline
    // comes, so a run costs the thread no wake-up.
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    current_ = SQL_NULL_HSTMT;
    expired_ = false;
    ++watch_number_;
}

void StatementWatchdog::watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (!armed_ || expired_) {
            waiting_until_ = std::chrono::steady_clock::time_point::max();
            wake_.wait(lock);
            continue;
        }
        const unsigned long number = watch_number_;
        const auto deadline = deadline_;
        waiting_until_ = deadline;
        wake_.wait_until(lock, deadline, [&] { return stopping_ || std::chrono::steady_clock::now() >= deadline; });
        if (stopping_ || watch_number_ != number) continue;
        expired_ = true;
        if (current_ != SQL_NULL_HSTMT) SQLCancel(current_);
    }
}

}  // namespace vexil
