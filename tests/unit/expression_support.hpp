// Shared helpers for the expression, string-function and condition tests:
// a fixture that starts every test from a fresh run state, and wrappers that
// evaluate a text the way SET, IF and the string functions do while
// capturing what gets reported on standard output.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cgi/form_data.hpp"
#include "cgi/tracked_memory.hpp"
#include "expr/evaluator.hpp"
#include "expr/functions.hpp"
#include "expr/scratch.hpp"
#include "template/conditions.hpp"
#include "variables/mappings.hpp"
#include "variables/substitute.hpp"
#include "variables/variable_table.hpp"

namespace vexil::testing_support {

// What an error report looks like outside any template in a command-line
// run.
inline std::string reported(const std::string& message) {
    return "Vexil Error: " + message + "\n\n";
}

// A writable copy of a text, as the evaluator needs.
struct Writable {
    explicit Writable(const std::string& s) : bytes(s.begin(), s.end()) { bytes.push_back('\0'); }
    char* data() { return bytes.data(); }
    std::string str() const { return std::string(bytes.data()); }
    std::vector<char> bytes;
};

// The result of eval_expression and everything it reported.
struct TextResult {
    std::string result;
    std::string output;
    std::string text_after;  // the expression text after the evaluation
};

inline TextResult eval_text(const std::string& expression) {
    Writable w(expression);
    ::testing::internal::CaptureStdout();
    const char* r = eval_expression(w.data());
    TextResult out;
    out.result = r;
    out.output = ::testing::internal::GetCapturedStdout();
    out.text_after = w.str();
    return out;
}

// The truth of an IF condition and everything it reported.
struct ConditionResult {
    bool truth;
    std::string output;
};

inline ConditionResult eval_condition(const std::string& condition) {
    Writable w(condition);
    ::testing::internal::CaptureStdout();
    bool truth = eval_if_condition(w.data());
    std::string output = ::testing::internal::GetCapturedStdout();
    return {truth, output};
}

class ExpressionFixture : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }

    static void reset() {
        free_tracked();
        reset_form_state();
        reset_scratch();
        reset_variable_state();
        reset_mappings();
        reset_substitution_state();
        reset_if_stack();
        reset_random_state();
        error_text().clear();
    }
};

}  // namespace vexil::testing_support
