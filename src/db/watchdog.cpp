// The statement watchdog: one thread per run that has a time limit and runs
// a statement. It sleeps until the run's time is up (or the run ends) and
// then cancels the statement running at that moment. The running statement
// is set and cleared under the mutex, so a cancel never reaches a statement
// handle after its execution or fetch has returned.
#include "db/watchdog.hpp"

#include <sqlext.h>

#include <chrono>

#include "base/policy.hpp"

namespace vexil {

StatementWatchdog::~StatementWatchdog() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void StatementWatchdog::running(SQLHSTMT stmt) {
    if (stmt != SQL_NULL_HSTMT && !thread_.joinable()) {
        long left = milliseconds_left();
        if (left > 0) thread_ = std::thread([this, left] { watch(left); });
    }
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = stmt;
    if (expired_ && stmt != SQL_NULL_HSTMT) SQLCancel(stmt);
}

void StatementWatchdog::watch(long milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; })) return;
    expired_ = true;
    if (current_ != SQL_NULL_HSTMT) SQLCancel(current_);
}

}  // namespace vexil
