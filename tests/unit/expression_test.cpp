// Expression evaluator: grouping, operand spelling and the number rule,
// comparisons, short-circuit AND/OR, number formatting, references inside
// operands, quoting, the messages, 32-bit wrap-around and the limits of the
// work buffers and of the recursion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "expression_support.hpp"

namespace vexil {
namespace {

using testing_support::eval_condition;
using testing_support::eval_text;
using testing_support::reported;
using testing_support::Writable;

class ExpressionTest : public testing_support::ExpressionFixture {};

// One expression evaluated for its text; `message` is what must be reported
// (nullptr: nothing). A failing evaluation always gives the empty text.
struct TextRow {
    const char* expression;
    const char* result;
    const char* message;
};

void check_text_rows(std::initializer_list<TextRow> rows) {
    for (const TextRow& row : rows) {
        SCOPED_TRACE(std::string("expression: ") + row.expression);
        testing_support::TextResult r = eval_text(row.expression);
        EXPECT_EQ(r.result, row.result);
        EXPECT_EQ(r.output, row.message ? reported(row.message) : std::string());
        // The evaluator cuts the text in place but must put it back.
        EXPECT_EQ(r.text_after, row.expression);
        reset_scratch();
    }
}

struct ConditionRow {
    const char* condition;
    bool truth;
    const char* message;
};

void check_condition_rows(std::initializer_list<ConditionRow> rows) {
    for (const ConditionRow& row : rows) {
        SCOPED_TRACE(std::string("condition: ") + row.condition);
        testing_support::ConditionResult r = eval_condition(row.condition);
        EXPECT_EQ(r.truth, row.truth);
        EXPECT_EQ(r.output, row.message ? reported(row.message) : std::string());
        reset_scratch();
    }
}

// eval_or on a writable copy; the value's text is copied out before the
// scratch area can be reused.
struct OrResult {
    int ok;
    ExprValue value;
    std::string text;
    std::string rest;  // what the cursor was left on
    std::string error;
};

OrResult run_eval_or(const std::string& expression) {
    Writable w(expression);
    char* cursor = w.data();
    OrResult r{};
    error_text().clear();
    r.ok = eval_or(cursor, r.value);
    if (r.value.text) r.text.assign(r.value.text, r.value.length);
    r.rest = cursor;
    r.error = std::string(error_text().view());
    return r;
}

// ---------------------------------------------------------------------------
// Grouping and arithmetic

TEST_F(ExpressionTest, BinaryOperatorsGroupToTheRight) {
    check_text_rows({
        {"20 - 5 - 3", "18", nullptr},     // 20 - (5 - 3)
        {"20 - 5 + 3", "12", nullptr},     // 20 - (5 + 3)
        {"24 / 4 / 2", "12", nullptr},     // 24 / (4 / 2)
        {"9 / 3 * 3", "1", nullptr},       // 9 / (3 * 3)
        {"1 / 3 * 3", "0.111111", nullptr},
        {"3 * 4 + 2", "14", nullptr},
        {"2 + 3 * 4", "14", nullptr},
        {"(20 - 5) - 3", "12", nullptr},
        {"2 - -3", "5", nullptr},
        {"10-2-1", "9", nullptr},          // no blanks needed
    });
}

TEST_F(ExpressionTest, ArithmeticKindsAndDivision) {
    check_text_rows({
        {"1 / 8", "0.125", nullptr},
        {"-9 / 2", "-4.5", nullptr},
        {"8 / 4", "2", nullptr},            // a Real written without decimals
        {"1.5 + 1", "2.5", nullptr},
        {"1 - 1.5", "-0.5", nullptr},
        {"0.1 + 0.2", "0.3", nullptr},
        {"2.5 * 4", "10", nullptr},
        {"(1 = 1) + 1", "2", nullptr},      // a Logical takes part as 1
        {"(3 > 2) * 7", "7", nullptr},
    });
    OrResult r = run_eval_or("8 / 4");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.kind, ValueKind::Real);
    EXPECT_EQ(r.value.integer, 2);
    r = run_eval_or("(2 > 1) + 4");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.kind, ValueKind::Logical);  // the left operand's kind stays
    EXPECT_EQ(r.value.integer, 5);
    r = run_eval_or("7 / -2");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.integer, -3);  // truncated toward zero
}

TEST_F(ExpressionTest, RealsAreWrittenWithSixDecimalsTrimmed) {
    check_text_rows({
        {"1 / 3", "0.333333", nullptr},
        {"2 / 3", "0.666667", nullptr},
        {"250.00 * 1", "250", nullptr},
        {"0.000001 * 0.1", "0", nullptr},    // "%f" gives 0.000000
        {"-0.000001 * 0.1", "-0", nullptr},  // "-0.000000": zeros, then the point go
        {"999999999 * 10.5", "10499999989.5", nullptr},
        {"12.5 * 0.5", "6.25", nullptr},
    });
}

// ---------------------------------------------------------------------------
// Operands: spelling, the number rule, blanks, quotes

TEST_F(ExpressionTest, LoneOperandKeepsItsSpelling) {
    check_text_rows({
        {"007", "007", nullptr},
        {"007 + 0", "7", nullptr},
        {"(007)", "007", nullptr},          // parentheses give the operand unchanged
        {"((2.50))", "2.50", nullptr},
        {"2.50 * 1", "2.5", nullptr},
        {"- 007", "-7", nullptr},           // negation clears the text
        {"-2.50", "-2.5", nullptr},
        {"5.", "5.", nullptr},
        {"5. + 0", "5", nullptr},
        {".5 + 0", "0.5", nullptr},
        {"1.2.3 + 0", "1.2", nullptr},      // conversion stops at the second point
        {"max(05, 3)", "5", nullptr},       // function results have no spelling
        {"abs(05)", "5", nullptr},
        {"  padded  ", "padded", nullptr},
    });
}

TEST_F(ExpressionTest, NumberRuleNineCharactersAtMost) {
    check_text_rows({
        {"123456789 + 1", "123456790", nullptr},
        {"1234567890 + 1", "", "Non-numeric expression: 1234567890 + 1"},
        {"12345.678 * 2", "24691.356", nullptr},
        {"12345.6789 * 2", "", "Non-numeric expression: 12345.6789 * 2"},
        {". + 1", "", "Non-numeric expression: . + 1"},
        {"'5' + 1", "", "Non-numeric expression: 5 + 1"},  // a quoted token is text
        {"1e5 + 1", "", "Non-numeric expression: 1e5 + 1"},
    });
    struct KindRow {
        const char* operand;
        ValueKind kind;
        std::int32_t integer;
        double real;
        const char* text;
    };
    for (const KindRow& row : {
             KindRow{"05", ValueKind::Integer, 5, 5.0, "05"},
             KindRow{"1.50", ValueKind::Real, 1, 1.5, "1.50"},
             KindRow{"123456789", ValueKind::Integer, 123456789, 123456789.0, "123456789"},
             KindRow{"1234567890", ValueKind::Text, 0, 0.0, "1234567890"},
             KindRow{"12345.678", ValueKind::Real, 12345, 12345.678, "12345.678"},
             KindRow{"12345.6789", ValueKind::Text, 0, 0.0, "12345.6789"},
             KindRow{"'5'", ValueKind::Text, 0, 0.0, "5"},
             KindRow{"abc", ValueKind::Text, 0, 0.0, "abc"},
             KindRow{"", ValueKind::Text, 0, 0.0, ""},
         }) {
        SCOPED_TRACE(row.operand);
        OrResult r = run_eval_or(row.operand);
        ASSERT_EQ(r.ok, 1);
        EXPECT_EQ(r.value.kind, row.kind);
        EXPECT_EQ(r.value.integer, row.integer);
        EXPECT_DOUBLE_EQ(r.value.real, row.real);
        EXPECT_EQ(r.text, row.text);
    }
    OrResult r = run_eval_or("-5");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.kind, ValueKind::Integer);
    EXPECT_EQ(r.value.integer, -5);
    EXPECT_EQ(r.value.length, 0u);  // computed results carry no text
    r = run_eval_or("1 = 1");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.kind, ValueKind::Logical);
    EXPECT_EQ(r.value.integer, 1);
    EXPECT_EQ(r.value.length, 0u);
}

TEST_F(ExpressionTest, UnquotedTextAndKeywordsNeedTheirBlank) {
    check_text_rows({
        {"Main Street", "Main Street", nullptr},  // blanks belong to the token
        {"a AND", "a AND", nullptr},              // AND at the end is text
        {"1 AND\t1", "1 AND\t1", nullptr},        // a tab is not the keyword's blank
        {"x ORDER BY", "x ORDER BY", nullptr},
        {"1 or 0", "1", nullptr},                 // keywords in any case
        {"0 Or 0", "0", nullptr},
        {"1 aNd 0", "0", nullptr},
        {"a  AND 0", "0", nullptr},               // the operand ends at "a"
        {"0  OR  1", "1", nullptr},
        {"NOT\t0", "NOT\t0", nullptr},             // NOT needs its blank too
        {"1 ANDY 2", "1 ANDY 2", nullptr},
    });
}

TEST_F(ExpressionTest, QuotedTextAndBackslashes) {
    check_text_rows({
        {"'Main Street'", "Main Street", nullptr},
        {"'it\\'s'", "it's", nullptr},                 // backslash-quote is the quote
        {"\"say \\\"hi\\\"\"", "say \"hi\"", nullptr},
        {"'a\\b'", "a\\b", nullptr},                   // other backslashes stay
        {"\"it's\"", "it's", nullptr},                 // the other quote is plain
        {"'say \"x\"'", "say \"x\"", nullptr},
        {"'a' 'b'", "a b", nullptr},
        {"'x'y", "xy", nullptr},
        {"'abc", "'abc", nullptr},                     // unterminated: taken literally
        {"''", "", nullptr},
        {"'' + 1", "", "Non-numeric expression:  + 1"},
        {"len('a\\'b')", "3", nullptr},
        {"'1 + 2'", "1 + 2", nullptr},                 // nothing inside quotes is computed
        {"'$x$'", "$x$", nullptr},                     // nor expanded
    });
}

// ---------------------------------------------------------------------------
// Comparisons, NOT, AND, OR, truth

TEST_F(ExpressionTest, TextComparisonIsBytewiseAndCaseSensitive) {
    check_condition_rows({
        {"apple < banana", true, nullptr},
        {"Apple < apple", true, nullptr},
        {"apple = Apple", false, nullptr},
        {"abc > ab", true, nullptr},           // equal start: the longer is larger
        {"b > abc", true, nullptr},            // the first difference decides
        {"ab <= ab", true, nullptr},
        {"ab >= abc", false, nullptr},
        {"ab != abc", true, nullptr},
        {"x <> x", false, nullptr},
        {"'' = ''", true, nullptr},
        {"'caf\xE9' > 'cafe'", true, nullptr},  // bytes compare as unsigned
        {"'\xE9' > z", true, nullptr},
        {"Main Street = Main Street", true, nullptr},
    });
}

TEST_F(ExpressionTest, NumbersAgainstTextCompareThroughTheirText) {
    check_condition_rows({
        {"10 < 9", false, nullptr},
        {"10 > 9", true, nullptr},
        {"'10' < 9", true, nullptr},           // text: "1" < "9"
        {"1234567891 < 2", true, nullptr},     // ten characters: text
        {"999999999 > 2", true, nullptr},
        {"5.5 > 5", true, nullptr},
        {"2 = 2.0", true, nullptr},
        {"'2' = 2.0", false, nullptr},         // "2" against "2.0"
        {"02 = 2", true, nullptr},
        {"'02' = 2", false, nullptr},
        {"'7' = 7", true, nullptr},
        {"7 >= 7", true, nullptr},
        {"7 <= 6", false, nullptr},
    });
}

TEST_F(ExpressionTest, ComparisonsGroupToTheRight) {
    check_text_rows({
        {"1 = 1 = 1", "1", nullptr},
        {"2 = 2 = 2", "0", nullptr},   // 2 = (2 = 2), that is 2 = 1
        {"0 = b = c", "1", nullptr},   // 0 = (b = c)
        {"1 == 1", "0", nullptr},      // the right operand is "= 1": "" = 1 is false
    });
}

TEST_F(ExpressionTest, NotAppliesToTheWholeComparison) {
    check_text_rows({
        {"NOT 0", "1", nullptr},
        {"not abc", "0", nullptr},
        {"NOT ''", "1", nullptr},
        {"NOT ' '", "1", nullptr},
        {"NOT 2 = 3", "1", nullptr},
        {"NOT 1 = 1 AND 1", "0", nullptr},
        {"NOT 2 = 3 = 0", "1", nullptr},   // NOT (2 = (3 = 0))
        {"1 = NOT 0", "1", nullptr},        // the right comparison may begin with NOT
        {"NOT(1)", "", "Undefined function for NOT( )"},
    });
}

TEST_F(ExpressionTest, AndOrShortCircuitSkipsTheRestOfTheList) {
    check_text_rows({
        {"1 AND 5", "1", nullptr},
        {"0 OR 7", "1", nullptr},
        {"abc AND 0", "0", nullptr},
        {"abc", "abc", nullptr},                 // without AND/OR nothing changes
        {"0 AND foo(1)", "0", nullptr},          // skipped, so never reported
        {"1 OR foo(1)", "1", nullptr},
        {"0 AND 1 / 0", "0", nullptr},
        {"0 AND 1 OR 1", "0", nullptr},          // the skip takes "1 OR 1" too
        {"1 OR 0 AND 0", "1", nullptr},
        {"0 OR 1 AND 0", "0", nullptr},
        {"(0 AND 1) + 5", "5", nullptr},         // the skip ends at the ")"
        {"(1 OR x) * 3", "3", nullptr},
        {"len(1 OR \"a,b\")", "1", nullptr},     // a comma inside double quotes is skipped
        {"len(1 OR 'a,b')", "", "Missing right parenthesis for len(1)"},  // single quotes are not
    });
    OrResult r = run_eval_or("1 OR 2, 3");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.rest, ", 3");
    r = run_eval_or("0 AND (1, 2), 4");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.rest, ", 4");
    EXPECT_EQ(r.value.kind, ValueKind::Logical);
    EXPECT_EQ(r.value.integer, 0);
    r = run_eval_or("1 + 2 \t, rest");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.rest, ", rest");  // trailing blanks and tabs are consumed
}

TEST_F(ExpressionTest, TruthOfValues) {
    set_variable("e", "");
    check_condition_rows({
        {"0", false, nullptr},
        {"'0'", true, nullptr},   // the text 0 is true
        {"no", true, nullptr},
        {"0.0", false, nullptr},
        {"-0.0", false, nullptr},
        {"0.5", true, nullptr},
        {"-1", true, nullptr},
        {"''", false, nullptr},
        {"' '", false, nullptr},  // one blank is the empty mark
        {"'  '", true, nullptr},
        {"", false, nullptr},
        {"$e$", false, nullptr},  // a defined but empty variable
        {"$e$ = ' '", true, nullptr},
    });
}

TEST_F(ExpressionTest, ConditionIgnoresTheRestButTextUseDoesNot) {
    check_condition_rows({
        {"1 + 1 ) junk", true, nullptr},
        {"2 * (3", false, "Missing right parenthesis ')'"},
    });
    check_text_rows({
        {"7 ) + 1", "", "Expected end of expression at ) + 1"},
        {"1 ! 2", "", "Expected end of expression at ! 2"},  // "!" alone is no operator
        {")", "", "Expected end of expression at )"},
        {"(1) 2", "", "Expected end of expression at 2"},
        {"(1)(2)", "", "Expected end of expression at (2)"},
        {"(", "", "Missing right parenthesis ')'"},
        {"", "", nullptr},
    });
}

// ---------------------------------------------------------------------------
// Messages

TEST_F(ExpressionTest, ArithmeticAndNegationMessages) {
    check_text_rows({
        {"abc * 2", "", "Non-numeric expression: abc * 2"},
        {"2 - 'x y'", "", "Non-numeric expression: 2 - x y"},
        {"1 +", "", "Non-numeric expression: 1 + "},
        {"+5", "", "Non-numeric expression:  + 5"},
        {"(1 = 1) + abc", "", "Non-numeric expression: 1 + abc"},
        {"8 / 0", "", "Non-numeric expression: 8 / 0"},
        {"8 / 0.0", "", "Non-numeric expression: 8 / 0.0"},
        {"8 / (2 - 2)", "", "Non-numeric expression: 8 / 0"},
        {"8 / -0.0", "", "Non-numeric expression: 8 / -0"},
        {"-'5'", "", "Non-numeric negation: -5"},
        {"-xyz", "", "Non-numeric negation: -xyz"},
        {"-(a b)", "", "Non-numeric negation: -a b"},
        {"--5", "", "Non-numeric negation: -"},
        {"- (2)", "", "Undefined function for ( )"},
        {"-(2)", "-2", nullptr},
        {"foo bar(1)", "", "Undefined function for foo bar( )"},
        {"1 + abc AND 1", "", "Non-numeric expression: 1 + abc"},
    });
}

TEST_F(ExpressionTest, ConditionReportsItsErrorOnceAndIsFalse) {
    check_condition_rows({
        {"1 + abc", false, "Non-numeric expression: 1 + abc"},
        {"1 = 1 AND 2 / 0", false, "Non-numeric expression: 2 / 0"},
        {"nosuch(1) OR 1", false, "Undefined function for nosuch( )"},
    });
}

// ---------------------------------------------------------------------------
// References inside operands

TEST_F(ExpressionTest, ReferencesAreExpandedInsideTheirOperand) {
    set_variable("x", "5");
    set_variable("sum", "1 + 2");
    set_variable("neg", "-5");
    set_variable("dash", "-");
    set_variable("a", "1");
    set_variable("b", "2");
    set_variable("city", "York");
    set_variable("first name", "Ann");
    set_variable("either", "1 OR 1");
    set_variable("q", "a'b");
    check_text_rows({
        {"$x$ * 2", "10", nullptr},
        {"$sum$ * 2", "", "Non-numeric expression: 1 + 2 * 2"},  // one text operand
        {"$neg$ * 2", "-10", nullptr},
        {"$dash$ + 1", "1", nullptr},          // a lone "-" is the integer 0
        {"$a$$b$ + 1", "13", nullptr},         // the expansions join into one number
        {"$a$0 * 2", "20", nullptr},
        {"$a$.5 + 0", "1.5", nullptr},
        {"$either$", "1 OR 1", nullptr},
        {"len($q$)", "3", nullptr},            // quotes in a value are plain characters
        {"len('$x$')", "3", nullptr},
        {"[$nobody$]", "[]", nullptr},         // an undefined name expands to nothing
        {"\\$x$", "$x$", nullptr},             // an escaped dollar opens no reference
        {"$x", "$x", nullptr},                 // a reference never closed stays as written
    });
    check_condition_rows({
        {"$neg$ = -5", true, nullptr},
        {"New $city$ = New York", true, nullptr},
        {"$first name$ = Ann", true, nullptr},
        {"$either$ = 1", false, nullptr},      // the value never changes the structure
        {"$q$ = \"a'b\"", true, nullptr},
        {"$nobody$ = 5", false, nullptr},
        {"$nobody$ = ''", true, nullptr},
        {"$X$ = 5", true, nullptr},            // names ignore letter case
    });
}

TEST_F(ExpressionTest, StringFunctionCallsInsideOperands) {
    set_variable("f", "2*21");
    set_variable("t", "abcdef");
    check_text_rows({
        {"$left(12345, 2) + 1", "13", nullptr},
        {"$left($right(\"abcdef\", 4), 2)", "cd", nullptr},
        {"$mid($t$, len(\"abc\"), 2)", "cd", nullptr},
        {"len($right('abcdef', 2))", "2", nullptr},
        {"$eval($f$)", "42", nullptr},
        {"$eval(\"1 + 1 )\")", "2", nullptr},      // eval ignores what follows
        {"$eval(\"2 * (3\")", "2 * (3", nullptr},  // a failed second evaluation is silent
        {"[$left(\"abc\", 1)]", "[a]", nullptr},
        {"$left(\"abc\", 1", "[String function missing right paren ')']", nullptr},
    });
    check_condition_rows({
        {"$left(\"abcdef\", 3) = abc", true, nullptr},
        {"$url(\"a b\") = 'a+b'", true, nullptr},
        {"$left(\"abc\", -1) = ''", true, "Undefined string function: $left( )"},
    });
}

// ---------------------------------------------------------------------------
// Functions

TEST_F(ExpressionTest, MathematicalFunctions) {
    check_text_rows({
        {"sqrt(9)", "3", nullptr},
        {"sqrt(0.25)", "0.5", nullptr},
        {"Sqrt(2 * 8)", "4", nullptr},
        {"sin(0)", "0", nullptr},
        {"cos(0)", "1", nullptr},
        {"tan(0)", "0", nullptr},
        {"log10(1000)", "3", nullptr},
        {"log10(2)", "0.30103", nullptr},
        {"log(1)", "0", nullptr},
        {"exp(1)", "2.718282", nullptr},
        {"EXP(0)", "1", nullptr},
        {"abs(-7)", "7", nullptr},
        {"abs(4)", "4", nullptr},
        {"abs(-0.5)", "0.5", nullptr},
        {"exp(0 + (2 > 1))", "2.718282", nullptr},  // an Integer sum is accepted
        {"sqrt (4)", "2", nullptr},                   // blanks before "(" leave the name
        {"max( 3 , 4 )", "4", nullptr},
        {"len(exp(690))", "300", nullptr},            // "%f" writes every integer digit
    });
    OrResult r = run_eval_or("abs(-7)");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.kind, ValueKind::Integer);
    r = run_eval_or("sqrt(16)");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.kind, ValueKind::Real);
}

TEST_F(ExpressionTest, MaxMinAndMod) {
    check_text_rows({
        {"max(-1, -2)", "-1", nullptr},
        {"max(2, 2.5)", "2.5", nullptr},
        {"min(2.5, 7)", "2.5", nullptr},
        {"min(4, -4)", "-4", nullptr},
        {"max(1 + 2, 2 * 2)", "4", nullptr},
        {"mod(17, 5)", "2", nullptr},
        {"mod(10, 5)", "0", nullptr},
        {"mod(-7, -3)", "-1", nullptr},
        {"mod(7, -3)", "1", nullptr},
        {"mod(-7.5, 2)", "-1.5", nullptr},
    });
    OrResult r = run_eval_or("max(3, 3.0)");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.kind, ValueKind::Real);  // a Real argument makes the result Real
    r = run_eval_or("min(3, 7)");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.kind, ValueKind::Integer);
}

TEST_F(ExpressionTest, NestedFunctionCalls) {
    check_text_rows({
        {"max(min(3, 9), sqrt(16))", "4", nullptr},
        {"abs(mod(-7, 3))", "1", nullptr},
        {"sqrt(abs(-16))", "4", nullptr},
        {"sqrt(max(4, 9) * 4)", "6", nullptr},
        {"len(pos('abcabc', 'ca'))", "1", nullptr},
        {"max(len('abc'), len('de'))", "3", nullptr},
        {"mod(len('hello'), 3)", "2", nullptr},
        {"pos(len('abcdefghij'), 0)", "2", nullptr},  // "10" contains "0" at 2
        {"abs(abs(abs(abs(abs(abs(abs(abs(abs(abs(-3))))))))))", "3", nullptr},
    });
}

TEST_F(ExpressionTest, TextFunctions) {
    check_text_rows({
        {"len(12.50)", "5", nullptr},
        {"len(-5)", "2", nullptr},
        {"len(10 / 4)", "3", nullptr},
        {"len('')", "0", nullptr},
        {"len(New York)", "8", nullptr},
        {"len(1 = 1)", "1", nullptr},
        {"pos('hello', 'l')", "3", nullptr},
        {"pos('', 'a')", "0", nullptr},
        {"pos('', '')", "1", nullptr},
        {"pos('abc', 'abcd')", "0", nullptr},
        {"pos(12345, 34)", "3", nullptr},
        {"POS('xyz', 'z')", "3", nullptr},
        {"pos('Abc', 'a')", "0", nullptr},
        {"char('hello', 'xyz')", "0", nullptr},
        {"char('hello', 'ol')", "3", nullptr},
        {"char('', 'a')", "0", nullptr},
        {"isnumber(12)", "1", nullptr},
        {"isnumber(-3)", "1", nullptr},
        {"isnumber('+3')", "1", nullptr},
        {"isnumber('.5')", "1", nullptr},
        {"isnumber('5.')", "1", nullptr},
        {"isnumber('1.2.3')", "1", nullptr},
        {"isnumber('-')", "1", nullptr},
        {"isnumber('1e5')", "0", nullptr},
        {"isnumber('1 000')", "0", nullptr},
        {"isnumber('5-')", "0", nullptr},
        {"isnumber('.')", "0", nullptr},
        {"isnumber('.x')", "0", nullptr},
        {"isnumber('')", "0", nullptr},
        {"isalpha('abc def')", "1", nullptr},
        {"isalpha('')", "0", nullptr},
        {"isalpha('a\tb')", "0", nullptr},   // a tab is not a blank
        {"isalpha('ab1')", "0", nullptr},
        {"isalphanum('Room 101')", "1", nullptr},
        {"isalphanum('R2-D2')", "0", nullptr},
        {"isalphanum('')", "0", nullptr},
    });
}

TEST_F(ExpressionTest, FunctionMessages) {
    check_text_rows({
        {"sqrt(xyz)", "", "Non-numeric argument for sqrt(xyz)"},
        {"SQRT('9')", "", "Non-numeric argument for SQRT(9)"},
        {"abs((2 > 1))", "", "Non-numeric argument for abs(1)"},
        {"exp((2 > 1) * 3)", "", "Non-numeric argument for exp(3)"},
        {"min(5, 'x')", "", "Non-numeric argument for min(5)"},
        {"max('a', 1)", "", "Non-numeric argument for max(a)"},
        {"Mod(8)", "", "Missing second argument for Mod(8)"},
        {"MAX(3, 4", "", "Missing right parenthesis for MAX(3)"},
        {"cos(2 > 1)", "", "Missing right parenthesis for cos(2)"},
        {"log(5", "", "Missing right parenthesis for log(5)"},
        {"Pos('abc')", "", "Missing second argument for pos(abc)"},
        {"CHAR('abc', 'b'", "", "Missing right parenthesis for char(abc)"},
        {"Len('abc'", "", "Missing right parenthesis for len(abc)"},
        {"Rand(3", "", "Missing right parenthesis for rand( )"},
        {"bogus(1)", "", "Undefined function for bogus( )"},
        {"abcdefghijklmnopqrstuvwxyz(1)", "", "Undefined function for abcdefghijklmnopqrstuvw( )"},
        {"sqrt(1 + abc)", "", "Non-numeric expression: 1 + abc"},
        {"max(nosuch(1), 2)", "", "Undefined function for nosuch( )"},
        {"sqrt()", "", "Non-numeric argument for sqrt()"},
        {"max(, 1)", "", "Non-numeric argument for max()"},
    });
}

TEST_F(ExpressionTest, ModOfIntegersByZeroFails) {
    check_text_rows({
        {"mod(7, 0)", "", "Division by zero for mod(7)"},
        {"MOD(-9, 0)", "", "Division by zero for MOD(-9)"},
        {"mod(05, 0)", "", "Division by zero for mod(05)"},
        {"mod(7, 3 - 3)", "", "Division by zero for mod(7)"},
    });
    check_condition_rows({
        {"mod(7, 0) = 0", false, "Division by zero for mod(7)"},
    });
    // With a Real argument the remainder is not a number, not a failure.
    for (const char* expression : {"mod(7.5, 0)", "mod(7, 0.0)"}) {
        SCOPED_TRACE(expression);
        OrResult r = run_eval_or(expression);
        ASSERT_EQ(r.ok, 1);
        EXPECT_EQ(r.value.kind, ValueKind::Real);
        EXPECT_TRUE(std::isnan(r.value.real));
        EXPECT_EQ(r.error, "");
    }
}

TEST_F(ExpressionTest, NonFiniteResultsAreNotFailures) {
    for (const char* expression : {"sqrt(-1)", "log(-1)", "log10(-5)", "sqrt(-1) + 1"}) {
        SCOPED_TRACE(expression);
        OrResult r = run_eval_or(expression);
        ASSERT_EQ(r.ok, 1);
        EXPECT_EQ(r.value.kind, ValueKind::Real);
        EXPECT_TRUE(std::isnan(r.value.real));
        EXPECT_EQ(r.error, "");
        reset_scratch();
        testing_support::TextResult t = eval_text(expression);
        EXPECT_EQ(t.output, "");
        EXPECT_NE(t.result.find("nan"), std::string::npos) << t.result;
        reset_scratch();
    }
    for (const char* expression : {"log(0)", "exp(1000)", "exp(1000) * 2"}) {
        SCOPED_TRACE(expression);
        OrResult r = run_eval_or(expression);
        ASSERT_EQ(r.ok, 1);
        EXPECT_TRUE(std::isinf(r.value.real));
        reset_scratch();
        testing_support::TextResult t = eval_text(expression);
        EXPECT_EQ(t.output, "");
        EXPECT_NE(t.result.find("inf"), std::string::npos) << t.result;
        reset_scratch();
    }
    check_condition_rows({
        {"log(0) < 0", true, nullptr},
        {"sqrt(-4)", true, nullptr},  // not a number is not zero
    });
}

// Real operands compare by their real fields: a value that is not a number
// is neither equal to, nor less than, nor greater than anything.
TEST_F(ExpressionTest, NotANumberComparesUnequalToEverything) {
    check_condition_rows({
        {"sqrt(-4) = sqrt(-4)", false, nullptr},
        {"sqrt(-4) = 0", false, nullptr},
        {"sqrt(-4) <> 0", true, nullptr},
        {"sqrt(-4) != 1.5", true, nullptr},
        {"log(-1) >= 0", false, nullptr},
        {"log(-1) <= 0", false, nullptr},
        {"mod(7.5, 0) = 0", false, nullptr},
    });
}

// The generator: state * 214013 + 2531011 modulo 2^32, bits 16 to 30 of the
// new state per draw, seeded with the time in seconds at the first call.
TEST_F(ExpressionTest, RandIsTheLinearCongruentialGeneratorSeededWithTheTime) {
    const char* calls[] = {"rand()", "rand(6)", "rand(-6)", "rand(0)", "rand('abc')", "rand(2.9)",
                           "rand()"};
    const std::int64_t moduli[] = {0, 6, 6, 0, 0, 2, 0};
    std::time_t before = std::time(nullptr);
    std::vector<std::int32_t> drawn;
    for (const char* call : calls) {
        OrResult r = run_eval_or(call);
        ASSERT_EQ(r.ok, 1) << call;
        EXPECT_EQ(r.value.kind, ValueKind::Integer) << call;
        drawn.push_back(r.value.integer);
        reset_scratch();
    }
    std::time_t after = std::time(nullptr);

    bool matched = false;
    for (std::time_t t = before; t <= after && !matched; ++t) {
        std::uint32_t state = static_cast<std::uint32_t>(t);
        bool all = true;
        for (std::size_t i = 0; i < drawn.size(); ++i) {
            state = state * 214013u + 2531011u;
            std::int32_t draw = std::int32_t((state >> 16) & 0x7FFF);
            if (moduli[i] != 0) draw = std::int32_t(draw % moduli[i]);
            if (draw != drawn[i]) all = false;
        }
        matched = all;
    }
    EXPECT_TRUE(matched) << "the draws do not follow the generator seeded with the time";
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        EXPECT_GE(drawn[i], 0);
        EXPECT_LT(drawn[i], moduli[i] ? moduli[i] : 32768);
    }
}

// ---------------------------------------------------------------------------
// 32-bit wrap-around (the sanitizer build must stay quiet)

TEST_F(ExpressionTest, IntegerArithmeticWrapsAroundAt32Bits) {
    check_text_rows({
        {"999999999 * 3", "-1294967299", nullptr},
        {"999999999 + 999999999 + 999999999", "-1294967299", nullptr},
        {"-999999999 * 2 - 999999999", "1294967299", nullptr},
        {"65536 * 65536", "0", nullptr},
        {"46341 * 46341", "-2147479015", nullptr},
        {"999999999 * 999999999", "808348673", nullptr},
        {"(-999999999 * 2 - 147483650) - 1", "2147483647", nullptr},
        {"-(-999999999 * 2 - 147483650)", "-2147483648", nullptr},
        {"abs(-999999999 * 2 - 147483650)", "-2147483648", nullptr},
        {"mod(-999999999 * 2 - 147483650, -1)", "0", nullptr},
        {"(-999999999 * 2 - 147483650) / -1", "2147483648", nullptr},
    });
}

// ---------------------------------------------------------------------------
// Limits: work buffers and recursion

TEST_F(ExpressionTest, OperandsLargerThanTheScratchAreaAreCut) {
    const std::string long_a(20000, 'a');
    for (const std::string& expression : {"'" + long_a + "'", long_a, "\"" + long_a + "\" "}) {
        testing_support::TextResult r = eval_text(expression);
        EXPECT_EQ(r.output, "");
        EXPECT_FALSE(r.result.empty());
        EXPECT_LT(r.result.size(), kScratchSize);
        EXPECT_EQ(r.result.find_first_not_of('a'), std::string::npos);
        EXPECT_EQ(r.text_after, expression);
        reset_scratch();
    }
    set_variable("big", std::string(20000, 'b'));
    OrResult r = run_eval_or("len($big$)");
    ASSERT_EQ(r.ok, 1);
    EXPECT_GT(r.value.integer, 0);
    EXPECT_LT(r.value.integer, std::int32_t(kScratchSize));
    reset_scratch();
    r = run_eval_or("$big$$big$$big$ = x");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.integer, 0);
    reset_scratch();
    r = run_eval_or("'" + long_a + "' = '" + long_a + "'");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.kind, ValueKind::Logical);
    reset_scratch();
    // The second text cannot be longer than the room the first leaves; any
    // non-empty piece of a's (or an empty one) is found at position 1.
    const std::string ten_thousand(10000, 'a');
    r = run_eval_or("pos('" + ten_thousand + "', '" + ten_thousand + "')");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.integer, 1);
    reset_scratch();
    // A string function called when the area is nearly full.
    r = run_eval_or("'" + std::string(16000, 'a') + "' = $left(\"hello\", 2)");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.integer, 0);
    reset_scratch();
    // A formatted number that does not fit the room left.
    r = run_eval_or("'" + std::string(16300, 'a') + "' < exp(690)");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.value.integer, 0);
}

// A value cut to the work area is still that value: a function that takes
// it as its first argument sees the cut text, not a damaged one.
TEST_F(ExpressionTest, ACutValueIsStillThatValue) {
    set_variable("big", std::string(20000, 'b'));
    check_text_rows({
        {"$left($big$, 3)", "bbb", nullptr},
        {"$right($big$, 2)", "bb", nullptr},
        {"len($left($big$, 5))", "5", nullptr},
        {"$mid($big$, 2, 4)", "bbbb", nullptr},
    });
}

TEST_F(ExpressionTest, MessagesLongerThanErrorTextAreCut) {
    struct Row {
        std::string expression;
        std::string full_message;
    };
    const std::string x(1000, 'x');
    for (const Row& row : {
             Row{"'" + x + "' + 1", "Non-numeric expression: " + x + " + 1"},
             Row{"1 )" + x, "Expected end of expression at )" + x},
             Row{"-'" + x + "'", "Non-numeric negation: -" + x},
             Row{"sqrt('" + x + "')", "Non-numeric argument for sqrt(" + x + ")"},
             Row{"len('" + x + "'", "Missing right parenthesis for len(" + x + ")"},
         }) {
        SCOPED_TRACE(row.full_message.substr(0, 40));
        testing_support::TextResult r = eval_text(row.expression);
        EXPECT_EQ(r.result, "");
        EXPECT_EQ(r.output, reported(row.full_message.substr(0, 511)));
        EXPECT_EQ(error_text().size(), 511u);
        reset_scratch();
    }
}

TEST_F(ExpressionTest, ModerateNestingIsEvaluated) {
    std::string parens = std::string(20, '(') + "7" + std::string(20, ')');
    check_text_rows({{parens.c_str(), "7", nullptr}});
    std::string sum = "1";
    for (int i = 0; i < 49; ++i) sum += " + 1";
    check_text_rows({{sum.c_str(), "50", nullptr}});
    std::string calls = "-3";
    for (int i = 0; i < 12; ++i) calls = "abs(" + calls + ")";
    check_text_rows({{calls.c_str(), "3", nullptr}});
}

TEST_F(ExpressionTest, DeepNestingStopsWithAMessage) {
    const int n = 100000;
    std::string abs_chain;
    for (int i = 0; i < n; ++i) abs_chain += "abs(";
    abs_chain += "1" + std::string(n, ')');
    std::string len_chain;
    for (int i = 0; i < n; ++i) len_chain += "len(";
    len_chain += "1" + std::string(n, ')');
    std::string neg_chain;
    for (int i = 0; i < n; ++i) neg_chain += "-(";
    neg_chain += "1" + std::string(n, ')');
    for (const std::string& expression : {
             std::string(n, '('),
             std::string(n, '(') + "1" + std::string(n, ')'),
             abs_chain,
             len_chain,
             neg_chain,
         }) {
        SCOPED_TRACE(expression.substr(0, 12));
        testing_support::TextResult r = eval_text(expression);
        EXPECT_EQ(r.result, "");
        EXPECT_EQ(r.output, reported("Expression nested too deeply"));
        reset_scratch();
        testing_support::ConditionResult c = eval_condition(expression);
        EXPECT_FALSE(c.truth);
        EXPECT_EQ(c.output, reported("Expression nested too deeply"));
        reset_scratch();
    }
}

// A long right-grouped chain recurses once per operator: it is either
// computed or stopped with the depth message, never a crash.
TEST_F(ExpressionTest, LongOperatorChainsNeverOverflowTheStack) {
    const int n = 100000;
    struct Chain {
        std::string piece;
        std::string last;
        std::string value;
    };
    for (const Chain& chain : {
             Chain{"1 + ", "1", std::to_string(n + 1)},
             Chain{"1 * ", "1", "1"},
             Chain{"1 = ", "1", "1"},
             Chain{"1 AND ", "1", "1"},
             Chain{"0 OR ", "1", "1"},
         }) {
        std::string expression;
        expression.reserve(chain.piece.size() * n + 1);
        for (int i = 0; i < n; ++i) expression += chain.piece;
        expression += chain.last;
        SCOPED_TRACE(chain.piece);
        testing_support::TextResult r = eval_text(expression);
        if (r.output.empty()) {
            EXPECT_EQ(r.result, chain.value);
        } else {
            EXPECT_EQ(r.output, reported("Expression nested too deeply"));
            EXPECT_EQ(r.result, "");
        }
        reset_scratch();
    }
}

TEST_F(ExpressionTest, EvalOrGivesBackTheScratchArea) {
    set_variable("v", "hello");
    for (const char* expression : {"'quoted' = $v$", "len($v$) + pos('abc', 'c')", "1 + abc",
                                   "$left($v$, 2)", "0 OR 'x'", "sqrt(nope)", "pos('abc')",
                                   "pos('abc', 1 + x)", "char($v$, 'l')"}) {
        SCOPED_TRACE(expression);
        char* before = scratch_top();
        run_eval_or(expression);
        EXPECT_EQ(scratch_top(), before);
    }
}

}  // namespace
}  // namespace vexil
