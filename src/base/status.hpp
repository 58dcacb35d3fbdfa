// Status: the outcome of a step that can fail, the one way errors travel
// between functions. A failure carries its message; the text lives in the
// run's error buffer (error_text) until the next failure is formatted, so a
// Status is as cheap to return as a pointer, also through deep recursion.
#pragma once

#include <cstdarg>
#include <string_view>

#include "base/output.hpp"

namespace vexil {

class [[nodiscard]] Status {
public:
    // Success.
    Status() = default;
    static Status ok() { return Status(); }

    // A failure whose message is formatted into the run's error buffer.
    static Status failure(const char* fmt, ...) __attribute__((format(printf, 1, 2))) {
        TextBuffer<512>& text = error_text();
        va_list args;
        va_start(args, fmt);
        std::vsnprintf(text.data(), text.bytes(), fmt, args);
        va_end(args);
        text.sync_length();
        return Status(text.c_str());
    }
    // A failure whose message is already in the run's error buffer (set by
    // a step that formats it there itself).
    static Status pending() { return Status(error_text().c_str()); }

    bool is_ok() const { return message_ == nullptr; }
    // The failure's message ("" for success).
    std::string_view message() const { return message_ ? message_ : ""; }

private:
    explicit Status(const char* message) : message_(message) {}
    const char* message_ = nullptr;  // nullptr: success
};

}  // namespace vexil
