// Expression evaluator and functions at the edges the page cases leave out:
// kinds of results, every message, values
// that are not numbers, and the limits of the work buffers and the recursion.
#include <cmath>
#include <cstdint>

#include "support.hpp"

namespace vexil {
namespace {

using namespace test;

using Expression = Fresh;

struct OrResult {
    bool ok;
    ExprValue value;
    std::string spelling, rest, error;  // rest: where the cursor stopped
};

OrResult run_eval_or(const std::string& expression) {
    std::string work = expression;
    char* cursor = work.data();
    char* top = scratch_top();
    OrResult r{};
    error_text().clear();
    r.ok = eval_or(cursor, r.value).is_ok();
    EXPECT_EQ(scratch_top(), top) << "scratch area not given back: " << expression.substr(0, 30);
    if (r.value.text) r.spelling.assign(r.value.text, r.value.length);
    r.rest = cursor;
    r.error = std::string(error_text().view());
    reset_scratch();
    return r;
}

TEST_F(Expression, KindsValuesSpellingAndWhereTheCursorStops) {
    using enum ValueKind;
    struct { const char* text; ValueKind kind; int integer; double real; const char *spelling, *rest; } rows[] = {
        {"05", Integer, 5, 5.0, "05", ""}, {"1.50", Real, 1, 1.5, "1.50", ""},
        {"1234567890", Text, 0, 0.0, "1234567890", ""}, {"'5'", Text, 0, 0.0, "5", ""},
        // computed results carry no text; the left operand's kind stays
        {"-5", Integer, -5, -5.0, "", ""}, {"7 / -2", Real, -3, -3.5, "", ""},
        {"(2 > 1) + 4", Logical, 5, 5.0, "", ""}, {"max(3, 3.0)", Real, 3, 3.0, "", ""},
        {"min(3, 7)", Integer, 3, 3.0, "", ""}, {"0 AND (1, 2), 4", Logical, 0, 0.0, "", ", 4"},
        {"1 + 2 \t, rest", Integer, 3, 3.0, "", ", rest"},
        // values that are not numbers (or are infinite) are no failures
        {"sqrt(-1) + 1", Real, 0, NAN, "", ""}, {"mod(7.5, 0)", Real, 0, NAN, "", ""},
        {"mod(7, 0.0)", Real, 0, NAN, "", ""}, {"log(0)", Real, INT32_MIN, -HUGE_VAL, "", ""},
        {"exp(1000) * 2", Real, INT32_MAX, HUGE_VAL, "", ""},
    };
    for (const auto& r : rows) {
        OrResult o = run_eval_or(r.text);
        ASSERT_TRUE(o.ok) << r.text << ": " << o.error;
        EXPECT_EQ(o.value.kind, r.kind) << r.text;
        EXPECT_EQ(o.value.integer, r.integer) << r.text;
        EXPECT_TRUE(std::isnan(r.real) ? std::isnan(o.value.real) : o.value.real == r.real) << r.text;
        EXPECT_EQ(o.spelling, r.spelling) << r.text;
        EXPECT_EQ(o.rest, r.rest) << r.text;
    }
    for (const char* text : {"1 + abc", "sqrt(nope)", "pos('abc', 1 + x)", "$left(\"hello\", 2) = 1 / 0"})
        EXPECT_FALSE(run_eval_or(text).ok) << text;  // the scratch area is given back all the same
}

TEST_F(Expression, ComparisonsAndTruth) {
    check(eval_text, {
        {"b > abc", "1"}, {"ab != abc", "1"}, {"x <> x", "0"}, {"'caf\xE9' > 'cafe'", "1"},  // bytes unsigned
        {"2 = 2.0", "1"}, {"'2' = 2.0", "0"}, {"6<=6", "1"}, {"7 >= 7", "1"}, {"1 == 1", "0"},
        {"0 = b = c", "1"}, {"NOT ' '", "1"}, {"NOT 2 = 3 = 0", "1"}, {"1 = NOT 0", "1"},
        {"0 AND 1 / 0", "0"}, {"(0 AND 1) + 5", "5"}, {"len(1 OR \"a,b\")", "1"},
        {"len(1 OR 'a,b')", "", "Missing right parenthesis for len(1)"},  // single quotes are not skipped
    });
    set_variable("e", "");
    check(eval_condition, {
        {"-0.0", "0"}, {"''", "0"}, {"' '", "0"}, {"'  '", "1"}, {"", "0"}, {"$e$", "0"}, {"$e$ = ' '", "1"},
        {"1 = 1 AND 2 / 0", "0", "Non-numeric expression: 2 / 0"},
        // not a number: true, and neither equal to, less nor greater than anything
        {"sqrt(-4)", "1"}, {"sqrt(-4) = sqrt(-4)", "0"}, {"sqrt(-4) <> 0", "1"},
        {"log(-1) >= 0", "0"}, {"log(-1) <= 0", "0"},
    });
}

TEST_F(Expression, Messages) {
    check(eval_text, {
        {"(", "", "Missing right parenthesis ')'"}, {"2 - 'x y'", "", "Non-numeric expression: 2 - x y"},
        {"+5", "", "Non-numeric expression:  + 5"}, {"(1 = 1) + abc", "", "Non-numeric expression: 1 + abc"},
        {"8 / -0.0", "", "Non-numeric expression: 8 / -0"}, {"1 + abc AND 1", "", "Non-numeric expression: 1 + abc"},
        {"-'5'", "", "Non-numeric negation: -5"}, {"--5", "", "Non-numeric negation: -"},
        {"foo bar(1)", "", "Undefined function for foo bar( )"},
        {"abcdefghijklmnopqrstuvwxyz(1)", "", "Undefined function for abcdefghijklmnopqrstuvw( )"},
        {"SQRT('9')", "", "Non-numeric argument for SQRT(9)"}, {"abs((2 > 1))", "", "Non-numeric argument for abs(1)"},
        {"min(5, 'x')", "", "Non-numeric argument for min(5)"}, {"sqrt()", "", "Non-numeric argument for sqrt()"},
        {"Mod(8)", "", "Missing second argument for Mod(8)"}, {"Pos('abc')", "", "Missing second argument for pos(abc)"},
        {"MAX(3, 4", "", "Missing right parenthesis for MAX(3)"}, {"Rand(3", "", "Missing right parenthesis for rand( )"},
        {"CHAR('abc', 'b'", "", "Missing right parenthesis for char(abc)"},
        {"mod(05, 0)", "", "Division by zero for mod(05)"},
    });
    const std::string x(1000, 'x');  // long messages are cut to 511 characters
    check(eval_text, {
        {("-'" + x + "'").c_str(), "", ("Non-numeric negation: -" + x).substr(0, 511).c_str()},
        {("sqrt('" + x + "')").c_str(), "", ("Non-numeric argument for sqrt(" + x).substr(0, 511).c_str()},
    });
}

TEST_F(Expression, Functions) {
    check(eval_text, {
        {"sin(0)", "0"}, {"cos(0)", "1"}, {"tan(0)", "0"}, {"log10(2)", "0.30103"}, {"exp(1)", "2.718282"},
        {"abs(-0.5)", "0.5"}, {"exp(0 + (2 > 1))", "2.718282"}, {"abs (4)", "4"}, {"max( 3 , 4 )", "4"},
        {"max(-1, -2)", "-1"}, {"max(2, 2.5)", "2.5"}, {"mod(7, -3)", "1"}, {"mod(-7.5, 2)", "-1.5"},
        {"len(12.50)", "5"}, {"len(New York)", "8"}, {"len(1 = 1)", "1"},
        {"pos('', '')", "1"}, {"pos('abc', 'abcd')", "0"}, {"pos(12345, 34)", "3"}, {"pos('Abc', 'a')", "0"},
        {"char('hello', 'ol')", "3"}, {"char('abc', '')", "0"},
        {"isnumber('+3')", "1"}, {"isnumber('1.2.3')", "1"}, {"isnumber('-')", "1"}, {"isnumber('1e5')", "0"},
        {"isnumber('5-')", "0"}, {"isnumber('.')", "0"}, {"isnumber('')", "0"},
        {"isalpha('abc def')", "1"}, {"isalpha('a\tb')", "0"}, {"isalpha('')", "0"},
        {"isalphanum('Room 101')", "1"}, {"isalphanum('R2-D2')", "0"},
    });
}

TEST_F(Expression, OperandsLargerThanTheScratchAreaAreCut) {
    const std::string a20k(20000, 'a'), a10k(10000, 'a');
    for (const std::string& text : {"'" + a20k + "'", a20k, "\"" + a20k + "\" "}) {
        Evaluated e = eval_text(text);
        EXPECT_EQ(e.output, "");
        EXPECT_TRUE(e.result.size() > 0 && e.result.size() < kScratchSize) << e.result.size();
        EXPECT_EQ(e.result, std::string(e.result.size(), 'a'));
    }
    set_variable("big", std::string(20000, 'b'));
    struct { std::string text; std::int32_t value; } rows[] = {
        {"$big$$big$$big$ = x", 0},
        {"'" + a20k + "' = '" + a20k + "'", 0},  // the second copy has less room left
        {"pos('" + a10k + "', '" + a10k + "')", 1},
        {"'" + std::string(16000, 'a') + "' = $left(\"hello\", 2)", 0},
        {"'" + std::string(16300, 'a') + "' < exp(690)", 0},
    };
    for (const auto& r : rows) {
        OrResult o = run_eval_or(r.text);
        ASSERT_TRUE(o.ok) << r.text.substr(0, 20);
        EXPECT_EQ(o.value.integer, r.value) << r.text.substr(0, 20);
    }
}

std::string repeat(const std::string& piece, int n, const std::string& tail = "") {
    std::string text;
    for (int i = 0; i < n; ++i) text += piece;
    return text + tail;
}

TEST_F(Expression, NestingIsLimitedWithAMessageNeverACrash) {
    const int n = 100000;
    check(eval_text, {{repeat("(", 20, "1" + std::string(20, ')')).c_str(), "1"}, {repeat("1 + ", 49, "1").c_str(), "50"}});
    for (const char* open : {"(", "abs(", "len(", "-("}) {
        std::string text = repeat(open, n, "1" + std::string(n, ')'));
        check(eval_text, {{text.c_str(), "", "Expression nested too deeply"}});
        check(eval_condition, {{text.c_str(), "0", "Expression nested too deeply"}});
    }
    // A right-grouped chain recurses once per operator: computed or stopped, never a crash.
    for (const auto& [piece, value] : {std::pair{"1 + ", "100001"}, {"1 = ", "1"}, {"0 OR ", "1"}}) {
        Evaluated e = eval_text(repeat(piece, n, "1"));
        EXPECT_EQ(e.result, e.output.empty() ? value : "") << piece;
        EXPECT_TRUE(e.output.empty() || e.output == reported("Expression nested too deeply")) << e.output;
    }
}

}  // namespace
}  // namespace vexil
