// Shared by the unit tests: a fresh run per test, a destination with guard
// bytes, and evaluation of a text with what it reports on standard output.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "driver/run.hpp"
#include "expr/evaluator.hpp"
#include "expr/functions.hpp"
#include "expr/substitute.hpp"

namespace vexil::test {

class Fresh : public ::testing::Test {
protected:
    Fresh() { reset(); }
    // Replaces the run with a new one, as the next request would get.
    void reset() {
        active_.reset();
        run_ = std::make_unique<vexil::Run>();
        active_ = std::make_unique<ActiveRun>(*run_);
    }

private:
    std::unique_ptr<vexil::Run> run_;
    std::unique_ptr<ActiveRun> active_;
};

// A fresh run without the CGI request variables, before and after each test.
class WebRequest : public Fresh {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    void clear() {
        for (const char* name : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_LENGTH", "CONTENT_TYPE"}) unsetenv(name);
        reset();
    }
};

// An error report outside any template in a command-line run ("" for none).
inline std::string reported(const char* message) {
    return message ? "Vexil Error: " + std::string(message) + "\n\n" : "";
}

template <class F>
std::string captured(F f) {
    ::testing::internal::CaptureStdout();
    f();
    return ::testing::internal::GetCapturedStdout();
}

// `size` bytes and then 64 guard bytes that must stay untouched.
struct Guarded {
    explicit Guarded(std::size_t n) : size(n), bytes(n + 64, '\x7f') {}
    char* data() { return bytes.data(); }
    // The text, after checking the guards and the terminator.
    std::string text() const {
        EXPECT_EQ(std::string(bytes.begin() + size, bytes.end()), std::string(64, '\x7f'))
            << "written past a destination of " << size << " bytes";
        std::string all(bytes.data(), size);
        EXPECT_NE(all.find('\0'), std::string::npos) << "destination not terminated";
        return all.substr(0, all.find('\0'));
    }
    std::size_t size;
    std::vector<char> bytes;
};

// The text (or "1"/"0" for a condition) and what was reported.
struct Evaluated { std::string result, output; };

// eval_expression cuts the text in place but must put it back.
inline Evaluated eval_text(std::string expression) {
    std::string work = expression;
    Evaluated e;
    e.output = captured([&] { e.result = eval_expression(work.data()); });
    EXPECT_EQ(work, expression) << "the expression text was not restored";
    reset_scratch();
    return e;
}

inline Evaluated eval_condition(std::string condition) {
    Evaluated e;
    e.output = captured([&] { e.result = eval_if_condition(condition.data()) ? "1" : "0"; });
    reset_scratch();
    return e;
}

// A text, the expected result and the expected message (none when absent).
struct Row {
    const char *text, *result, *message = nullptr;
};

inline void check(Evaluated (*eval)(std::string), std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
        Evaluated e = eval(row.text);
        EXPECT_EQ(e.result, row.result) << row.text;
        EXPECT_EQ(e.output, reported(row.message)) << row.text;
    }
}

}  // namespace vexil::test
