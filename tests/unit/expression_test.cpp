// Expression evaluator and functions: grouping, operand spelling and the number rule,
// comparisons, NOT/AND/OR short-circuit, number formatting, references inside operands,
// every message, 32-bit wrap-around, values that are not numbers, and the limits of the
// work buffers and of the recursion.
#include <cmath>
#include <cstdint>

#include "support.hpp"

namespace vexil {
namespace {

using namespace test;

class Expression : public test::Fresh {};

struct OrResult {
    int ok;
    ExprValue value;
    std::string spelling;
    std::string rest;   // what the cursor was left on
    std::string error;
};

OrResult run_eval_or(const std::string& expression) {
    std::string work = expression;
    char* cursor = work.data();
    char* top = scratch_top();
    OrResult r{};
    error_text().clear();
    r.ok = eval_or(cursor, r.value).is_ok();
    EXPECT_EQ(scratch_top(), top) << "the scratch area was not given back: " << expression.substr(0, 30);
    if (r.value.text) r.spelling.assign(r.value.text, r.value.length);
    r.rest = cursor;
    r.error = std::string(error_text().view());
    reset_scratch();
    return r;
}

TEST_F(Expression, ArithmeticAndNumbers) {
    check(eval_text, {
        // every binary operator groups to the right
        {"20 - 5 - 3", "18"},
        {"9 / 3 * 3", "1"},
        {"10-2-1", "9"},
        {"0.1 + 0.2", "0.3"},
        // reals: "%f", then trailing zeros and the point removed
        {"-0.000001 * 0.1", "-0"},
        {"999999999 * 10.5", "10499999989.5"},
        {"len(exp(690))", "300"},
        // integers wrap around at 32 bits
        {"46341 * 46341", "-2147479015"},
        {"999999999 * 999999999", "808348673"},
        {"(-999999999 * 2 - 147483650) / -1", "2147483648"},
        // a lone operand keeps its spelling; a number has at most nine characters
        {"(007)", "007"},
        {"- 007", "-7"},
        {"5.", "5."},
        {".5 + 0", "0.5"},
        {"1.2.3 + 0", "1.2"},
        {"max(05, 3)", "5"},
        {"  padded  ", "padded"},
        {"12345.678 * 2", "24691.356"},
        {"12345.6789 * 2", "", "Non-numeric expression: 12345.6789 * 2"},
        {". + 1", "", "Non-numeric expression: . + 1"},
        {"1e5 + 1", "", "Non-numeric expression: 1e5 + 1"},
        // unquoted text: keywords need their blank
        {"a AND", "a AND"},
        {"1 AND\t1", "1 AND\t1"},
        {"NOT\t0", "NOT\t0"},
        {"1 ANDY 2", "1 ANDY 2"},
        {"1 aNd 0", "0"},
        {"a  AND 0", "0"},
        // quotes: nothing inside is computed; an unterminated quote is a character
        {"'a' 'b'", "a b"},
        {"'x'y", "xy"},
        {"'abc", "'abc"},
        {"len('a\\'b')", "3"},
        {"'1 + 2'", "1 + 2"},
        {"'' + 1", "", "Non-numeric expression:  + 1"},
    });
}

TEST_F(Expression, KindsValuesSpellingAndWhereTheCursorStops) {
    using enum ValueKind;
    struct { const char* text; ValueKind kind; int integer; double real; const char *spelling, *rest; } rows[] = {
        {"05", Integer, 5, 5.0, "05", ""},
        {"1.50", Real, 1, 1.5, "1.50", ""},
        {"1234567890", Text, 0, 0.0, "1234567890", ""},
        {"'5'", Text, 0, 0.0, "5", ""},
        {"-5", Integer, -5, -5.0, "", ""},  // computed results carry no text
        {"8 / 4", Real, 2, 2.0, "", ""},
        {"7 / -2", Real, -3, -3.5, "", ""},
        {"(2 > 1) + 4", Logical, 5, 5.0, "", ""},  // the left operand's kind stays
        {"max(3, 3.0)", Real, 3, 3.0, "", ""},
        {"min(3, 7)", Integer, 3, 3.0, "", ""},
        {"abs(-7)", Integer, 7, 7.0, "", ""},
        {"1 OR 2, 3", Logical, 1, 1.0, "", ", 3"},
        {"0 AND (1, 2), 4", Logical, 0, 0.0, "", ", 4"},
        {"1 + 2 \t, rest", Integer, 3, 3.0, "", ", rest"},
        // values that are not numbers (or are infinite) are no failures
        {"sqrt(-1)", Real, 0, NAN, "", ""},
        {"sqrt(-1) + 1", Real, 0, NAN, "", ""},
        {"mod(7.5, 0)", Real, 0, NAN, "", ""},
        {"mod(7, 0.0)", Real, 0, NAN, "", ""},
        {"log(0)", Real, INT32_MIN, -HUGE_VAL, "", ""},
        {"exp(1000) * 2", Real, INT32_MAX, HUGE_VAL, "", ""},
    };
    for (const auto& r : rows) {
        OrResult o = run_eval_or(r.text);
        ASSERT_EQ(o.ok, 1) << r.text;
        EXPECT_EQ(o.value.kind, r.kind) << r.text;
        EXPECT_EQ(o.value.integer, r.integer) << r.text;
        EXPECT_TRUE(std::isnan(r.real) ? std::isnan(o.value.real) : o.value.real == r.real) << r.text;
        EXPECT_EQ(o.error, "") << r.text;
        EXPECT_EQ(o.spelling, r.spelling) << r.text;
        EXPECT_EQ(o.rest, r.rest) << r.text;
    }
}

TEST_F(Expression, ComparisonsNotAndOr) {
    check(eval_text, {
        // text byte by byte, case-sensitive, bytes unsigned; numbers against text by their text
        {"Apple < apple", "1"},
        {"b > abc", "1"},
        {"ab >= abc", "0"},
        {"ab != abc", "1"},
        {"x <> x", "0"},
        {"'caf\xE9' > 'cafe'", "1"},
        {"2 = 2.0", "1"},
        {"'2' = 2.0", "0"},
        {"'02' = 2", "0"},
        {"6<=6", "1"},
        {"7 >= 7", "1"},
        {"0 = b = c", "1"},  // grouped to the right
        {"1 == 1", "0"},
        // NOT takes the whole comparison
        {"not abc", "0"},
        {"NOT ' '", "1"},
        {"NOT 1 = 1 AND 1", "0"},
        {"NOT 2 = 3 = 0", "1"},
        {"1 = NOT 0", "1"},
        // a decided AND/OR skips the rest of the list without evaluating it
        {"0 OR 7", "1"},
        {"abc AND 0", "0"},
        {"0 AND 1 / 0", "0"},
        {"1 OR 0 AND 0", "1"},
        {"0 OR 1 AND 0", "0"},
        {"(0 AND 1) + 5", "5"},
        {"len(1 OR \"a,b\")", "1"},
        {"len(1 OR \"\")", "1"},
        {"len(1 OR 'a,b')", "", "Missing right parenthesis for len(1)"},  // single quotes are not skipped
    });
}

TEST_F(Expression, ConditionsAndTruth) {
    set_variable("e", "");
    check(eval_condition, {
        {"-0.0", "0"},
        {"''", "0"},
        {"' '", "0"},  // one blank is the empty mark
        {"'  '", "1"},
        {"", "0"},
        {"$e$", "0"},
        {"$e$ = ' '", "1"},
        {"1 = 1 AND 2 / 0", "0", "Non-numeric expression: 2 / 0"},
        // a value that is not a number is true, and neither equal to, less nor greater than anything
        {"sqrt(-4)", "1"},
        {"sqrt(-4) = sqrt(-4)", "0"},
        {"sqrt(-4) <> 0", "1"},
        {"log(-1) >= 0", "0"},
        {"log(-1) <= 0", "0"},
        {"mod(7.5, 0) = 0", "0"},
    });
}

TEST_F(Expression, Messages) {
    check(eval_text, {
        {"1 ! 2", "", "Expected end of expression at ! 2"},
        {"(", "", "Missing right parenthesis ')'"},
        {"2 - 'x y'", "", "Non-numeric expression: 2 - x y"},
        {"+5", "", "Non-numeric expression:  + 5"},
        {"(1 = 1) + abc", "", "Non-numeric expression: 1 + abc"},
        {"8 / (2 - 2)", "", "Non-numeric expression: 8 / 0"},
        {"8 / -0.0", "", "Non-numeric expression: 8 / -0"},
        {"1 + abc AND 1", "", "Non-numeric expression: 1 + abc"},
        {"-'5'", "", "Non-numeric negation: -5"},
        {"--5", "", "Non-numeric negation: -"},
        {"foo bar(1)", "", "Undefined function for foo bar( )"},
        {"abcdefghijklmnopqrstuvwxyz(1)", "", "Undefined function for abcdefghijklmnopqrstuvw( )"},
        {"max(nosuch(1), 2)", "", "Undefined function for nosuch( )"},
        {"SQRT('9')", "", "Non-numeric argument for SQRT(9)"},
        {"abs((2 > 1))", "", "Non-numeric argument for abs(1)"},
        {"min(5, 'x')", "", "Non-numeric argument for min(5)"},
        {"max('a', 1)", "", "Non-numeric argument for max(a)"},
        {"sqrt()", "", "Non-numeric argument for sqrt()"},
        {"Mod(8)", "", "Missing second argument for Mod(8)"},
        {"Pos('abc')", "", "Missing second argument for pos(abc)"},
        {"MAX(3, 4", "", "Missing right parenthesis for MAX(3)"},
        {"cos(2 > 1)", "", "Missing right parenthesis for cos(2)"},
        {"CHAR('abc', 'b'", "", "Missing right parenthesis for char(abc)"},
        {"Rand(3", "", "Missing right parenthesis for rand( )"},
        {"mod(05, 0)", "", "Division by zero for mod(05)"},
    });
}

TEST_F(Expression, ReferencesAndStringFunctionsInsideOperands) {
    for (auto [name, value] : {std::pair{"x", "5"}, {"dash", "-"}, {"a", "1"}, {"either", "1 OR 1"}, {"q", "a'b"}})
        set_variable(name, value);
    check(eval_text, {
        {"$dash$ + 1", "1"},  // a lone "-" is the integer 0
        {"$a$.5 + 0", "1.5"},
        {"$either$", "1 OR 1"},  // a value never changes the structure
        {"$either$ = 1", "0"},
        {"len($q$)", "3"},
        {"\\$x$", "$x$"},
        {"$x", "$x"},
        {"US$5 \\$6", "US$5 $6"},  // a "$" that starts no reference is text; the escape adds only "$"
        {"$x AND 0", "0"},           // AND ends an operand, also after "$" and a name
        {"[$1$] [$a.b$]", "[$1$] [$a.b$]"},  // not reference names: plain text
        {"$left(12345, 2) + 1", "13"},
        {"$left(\"abc\", 1", "[String function missing right paren ')']"},
        {"$url(\"a b\") = 'a+b'", "1"},
        {"$left(\"abc\", -1) = ''", "1", "Undefined string function: $left( )"},
    });
}

TEST_F(Expression, Functions) {
    check(eval_text, {
        {"sin(0)", "0"},
        {"cos(0)", "1"},
        {"tan(0)", "0"},
        {"log10(2)", "0.30103"},
        {"exp(1)", "2.718282"},
        {"abs(-0.5)", "0.5"},
        {"exp(0 + (2 > 1))", "2.718282"},  // an Integer sum is accepted
        {"abs (4)", "4"},
        {"max( 3 , 4 )", "4"},
        {"max(-1, -2)", "-1"},
        {"max(2, 2.5)", "2.5"},
        {"mod(7, -3)", "1"},
        {"mod(-7.5, 2)", "-1.5"},
        {"len(12.50)", "5"},
        {"len(New York)", "8"},
        {"len(1 = 1)", "1"},
        {"pos('', '')", "1"},
        {"pos('abc', 'abcd')", "0"},
        {"pos(12345, 34)", "3"},
        {"pos('Abc', 'a')", "0"},
        {"char('hello', 'ol')", "3"},
        {"char('abc', '')", "0"},
        {"isnumber('+3')", "1"},
        {"isnumber('1.2.3')", "1"},
        {"isnumber('-')", "1"},
        {"isnumber('1e5')", "0"},
        {"isnumber('5-')", "0"},
        {"isnumber('.')", "0"},
        {"isnumber('')", "0"},
        {"isalpha('abc def')", "1"},
        {"isalpha('a\tb')", "0"},
        {"isalpha('')", "0"},
        {"isalphanum('Room 101')", "1"},
        {"isalphanum('R2-D2')", "0"},
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
        ASSERT_EQ(o.ok, 1) << r.text.substr(0, 20);
        EXPECT_EQ(o.value.integer, r.value) << r.text.substr(0, 20);
    }
}

TEST_F(Expression, LongMessagesAreCutTo511Characters) {
    const std::string x(1000, 'x');
    check(eval_text, {
        {("-'" + x + "'").c_str(), "", ("Non-numeric negation: -" + x).substr(0, 511).c_str()},
        {("sqrt('" + x + "')").c_str(), "", ("Non-numeric argument for sqrt(" + x).substr(0, 511).c_str()},
    });
}

std::string nest(const std::string& open, int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += open;
    return text + "1" + std::string(n, ')');
}

TEST_F(Expression, NestingIsLimitedWithAMessageNeverACrash) {
    check(eval_text, {{nest("(", 20).c_str(), "1"}, {nest("abs(", 12).c_str(), "1"}});
    const int n = 100000;
    for (const std::string& text :
         {std::string(n, '('), nest("(", n), nest("abs(", n), nest("len(", n), nest("-(", n)}) {
        check(eval_text, {{text.c_str(), "", "Expression nested too deeply"}});
        check(eval_condition, {{text.c_str(), "0", "Expression nested too deeply"}});
    }
    // A right-grouped chain recurses once per operator: computed or stopped, never a crash.
    for (const auto& [piece, value] :
         {std::pair{"1 + ", "100001"}, {"1 * ", "1"}, {"1 = ", "1"}, {"1 AND ", "1"}, {"0 OR ", "1"}}) {
        std::string text;
        for (int i = 0; i < n; ++i) text += piece;
        Evaluated e = eval_text(text + "1");
        EXPECT_EQ(e.result, e.output.empty() ? value : "") << piece;
        EXPECT_TRUE(e.output.empty() || e.output == reported("Expression nested too deeply")) << e.output;
    }
    std::string sum = "1";
    for (int i = 0; i < 49; ++i) sum += " + 1";
    check(eval_text, {{sum.c_str(), "50"}});
}

TEST_F(Expression, FailuresGiveBackTheScratchArea) {
    set_variable("v", "hello");
    for (const char* text : {"1 + abc", "sqrt(nope)", "pos('abc')", "pos('abc', 1 + x)", "$left($v$, 2) = 1 / 0"}) {
        OrResult r = run_eval_or(text);  // checks the scratch top
        EXPECT_EQ(r.ok, 0) << text;
        EXPECT_NE(r.error, "") << text;
    }
}

}  // namespace
}  // namespace vexil
