// String functions ($url, $hex, $eval, $asc, $format, $left, $right, $mid):
// results, the order of the argument checks that decides the message, and
// results cut to the destination without writing past it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "expression_support.hpp"
#include "variables/string_functions.hpp"

namespace vexil {
namespace {

using testing_support::reported;
using testing_support::Writable;

class StringFunctionTest : public testing_support::ExpressionFixture {};

struct CallResult {
    std::string result;
    std::string output;
};

constexpr std::size_t kGuard = 32;
constexpr char kGuardByte = '#';

// Calls the function with a destination of `size` bytes followed by guard
// bytes that must stay untouched; the scratch top must be back where it was.
CallResult call(const char* name, const std::string& arguments, std::size_t size = 1024) {
    Writable args(arguments);
    std::vector<char> dest(size + kGuard, kGuardByte);
    char* top_before = scratch_top();
    ::testing::internal::CaptureStdout();
    call_string_function(name, WorkArea{dest.data(), size}, args.data());
    CallResult r;
    r.output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(scratch_top(), top_before) << name << "(" << arguments << ")";
    for (std::size_t i = size; i < dest.size(); ++i) {
        EXPECT_EQ(dest[i], kGuardByte) << "written past the destination at " << i;
    }
    auto end = std::find(dest.begin(), dest.begin() + std::ptrdiff_t(size), '\0');
    EXPECT_NE(end, dest.begin() + std::ptrdiff_t(size)) << "destination not terminated";
    r.result.assign(dest.begin(), end);
    return r;
}

struct Row {
    const char* name;
    const char* arguments;
    const char* result;
    const char* message;  // nullptr: nothing reported
};

void check_rows(std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + "(" + row.arguments + ")");
        CallResult r = call(row.name, row.arguments);
        EXPECT_EQ(r.result, row.result);
        EXPECT_EQ(r.output, row.message ? reported(row.message) : std::string());
    }
}

TEST_F(StringFunctionTest, UrlEncodesEveryByteButLettersDigitsAndBlanks) {
    check_rows({
        {"url", "\"Tom & Jerry's\"", "Tom+%26+Jerry%27s", nullptr},
        {"url", "\"a-b~_.\"", "a%2Db%7E%5F%2E", nullptr},
        {"url", "\"100%\"", "100%25", nullptr},
        {"url", "\"caf\xC3\xA9\"", "caf%C3%A9", nullptr},  // bytes above 127 too
        {"url", "12.5", "12%2E5", nullptr},                  // a number by its spelling
        {"url", "\"\"", "", nullptr},
        {"URL", "'x y', 9", "x+y", nullptr},                 // later arguments are ignored
    });
}

TEST_F(StringFunctionTest, HexWritesTwoUpperCaseDigitsPerByte) {
    check_rows({
        {"hex", "\" ~\"", "207E", nullptr},
        {"hex", "255", "323535", nullptr},
        {"hex", "\"\xFF\x01z\"", "FF017A", nullptr},
        {"hex", "\"\"", "", nullptr},
    });
}

TEST_F(StringFunctionTest, EvalEvaluatesTextOnceMore) {
    set_variable("f", "6 * 7");
    check_rows({
        {"eval", "\"6 * 7\"", "42", nullptr},
        {"eval", "$f$", "42", nullptr},
        {"eval", "\"10 / 4\"", "2.5", nullptr},
        {"eval", "\"x y\"", "x y", nullptr},
        {"eval", "\"'q'\"", "q", nullptr},
        {"eval", "\"05\"", "05", nullptr},
        {"eval", "05", "05", nullptr},                   // not text: its own text
        {"eval", "1 + 1", "2", nullptr},
        {"eval", "\"3 + 4 ) junk\"", "7", nullptr},      // the rest is ignored
        {"eval", "\"2 * (3\"", "2 * (3", nullptr},       // a failure is not reported
        {"eval", "\"1 + abc\"", "1 + abc", nullptr},
    });
}

TEST_F(StringFunctionTest, AscTakesTheLowEightBits) {
    check_rows({
        {"asc", "97, 5", "a", nullptr},
        {"asc", "321", "A", nullptr},
        {"asc", "-191", "A", nullptr},
        {"asc", "66.99", "B", nullptr},
        {"asc", "(1 = 1)", "\x01", nullptr},
        {"asc", "0", "", nullptr},
        {"asc", "256", "", nullptr},
        {"asc", "\"A\"", "", "Non-numeric argument for string function: $asc( )"},
    });
}

TEST_F(StringFunctionTest, FormatLaysTheValueIntoThePicture) {
    check_rows({
        {"format", "\"000\", 7", "007", nullptr},
        {"format", "\"0.00\", 3.14159", "3.14", nullptr},
        {"format", "\"#,##0.00\", 2 * 3", "6.00", nullptr},
        {"format", "\"#,##0.00\", 98765.4", "8,765.40", nullptr},  // high digits dropped
        {"format", "\"##-##-##\", \"TUV\"", "TU-V", nullptr},
        {"format", "\"000\"", "", "Undefined string function: $format( )"},
    });
}

TEST_F(StringFunctionTest, LeftRightAndMid) {
    check_rows({
        {"left", "\"hello\", 4", "hell", nullptr},
        {"left", "\"hi\", 10", "hi", nullptr},
        {"left", "name, 2", "na", nullptr},
        {"LEFT", "\"abc\", 1", "a", nullptr},
        {"left", "\"abc\", 1.9", "a", nullptr},
        {"left", "\"abc\", 2 = 2", "a", nullptr},       // a Logical counts 1
        {"left", "12345, 3", "123", nullptr},
        {"left", "\"a,b\", 1", "a", nullptr},
        {"left", "'a,b', 2", "a,", nullptr},
        {"left", "\"abc\", 2, 3", "ab", nullptr},       // a third argument is ignored
        {"right", "\"hello\", 3", "llo", nullptr},
        {"right", "\"hi\", 5", "hi", nullptr},
        {"right", "\"abc\", 0", "", nullptr},
        {"mid", "\"hello\", 2", "ello", nullptr},
        {"mid", "\"hello\", 2 ", "ello", nullptr},
        {"mid", "\"hello\", 5", "o", nullptr},
        {"mid", "\"hello\", 6", "", nullptr},
        {"mid", "\"hello\", 2, 2", "el", nullptr},
        {"mid", "\"hello\", 4, 99", "lo", nullptr},
        {"mid", "\"hello\", 9, 2", "", nullptr},
        {"mid", "\"hello\", 1, 0", "", nullptr},
        {"Mid", "\"hello\", 1 + 1, 1 + 1", "el", nullptr},
    });
}

TEST_F(StringFunctionTest, MidBeforeTheFirstCharacter) {
    check_rows({
        {"mid", "\"hello\", 0", "", nullptr},
        {"mid", "\"hello\", -3", "", nullptr},
        {"mid", "\"hello\", 0, 2", "", "Undefined string function: $mid( )"},
        {"mid", "\"hello\", -1, 9", "", "Undefined string function: $mid( )"},
    });
}

TEST_F(StringFunctionTest, TheOrderOfTheChecksDecidesTheMessage) {
    check_rows({
        {"left", "\"abc\", -1", "", "Undefined string function: $left( )"},
        {"right", "\"abc\", -1", "", "Undefined string function: $right( )"},
        {"LEFT", "\"abc\", -1", "", "Undefined string function: $LEFT( )"},
        {"left", "\"abc\"", "", "Undefined string function: $left( )"},
        {"left", "\"abc\", \"x\"", "", "Non-numeric argument for string function: $left( )"},
        {"right", "\"abc\", \"2\"", "", "Non-numeric argument for string function: $right( )"},
        {"foo", "\"x\"", "", "Undefined string function: $foo( )"},
        {"foo", "\"x\", \"y\"", "", "Non-numeric argument for string function: $foo( )"},
        {"foo", "\"x\", 2", "", "Undefined string function: $foo( )"},
        {"mid", "\"abc\", 1, \"x\"", "", "Non-numeric argument for string function: $mid( )"},
        {"mid", "\"abc\", 1, -1", "", "Undefined string function: $mid( )"},
    });
}

TEST_F(StringFunctionTest, ArgumentErrorsAreReportedOnce) {
    check_rows({
        {"left", "abc + 1, 2", "", "Non-numeric expression: abc + 1"},
        {"left", "1 / 0, 1", "", "Non-numeric expression: 1 / 0"},
        {"left", "\"abc\", 1 +", "", "Non-numeric expression: 1 + "},
        {"mid", "\"abc\", 2, 1 + x", "", "Non-numeric expression: 1 + x"},
        {"url", "1 +", "", "Non-numeric expression: 1 + "},
        {"hex", "nosuch(1)", "", "Undefined function for nosuch( )"},
    });
}

// In template text the result is built at the scratch top, where the first
// argument's text is placed too: a call that fails, or that writes no
// result, must still leave the empty text there.
TEST_F(StringFunctionTest, CallsWithoutAResultShowNothingInTheScratchArea) {
    struct Call {
        const char* name;
        const char* arguments;
    };
    for (const Call& c : {
             Call{"mid", "\"hello\", 0"},
             Call{"mid", "\"hello\", -2"},
             Call{"mid", "\"hello\", 0, 2"},
             Call{"left", "abc + 1, 2"},
             Call{"left", "\"abc\", -1"},
             Call{"left", "\"abc\", \"x\""},
             Call{"left", "xyz"},
             Call{"asc", "\"A\""},
             Call{"foo", "\"x\""},
         }) {
        SCOPED_TRACE(std::string(c.name) + "(" + c.arguments + ")");
        Writable args(c.arguments);
        WorkArea work = scratch_work_area();
        char* top_before = scratch_top();
        ::testing::internal::CaptureStdout();
        call_string_function(c.name, work, args.data());
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(scratch_top(), top_before);
        EXPECT_STREQ(work.start, "");
    }
}

TEST_F(StringFunctionTest, LongResultsAreCutToTheDestination) {
    const std::string many_a(10000, 'a');
    // hex doubles the text, url triples it: both outgrow a small destination
    // and the room left in the scratch area.
    for (std::size_t size : {std::size_t(16), std::size_t(1024), std::size_t(20000)}) {
        SCOPED_TRACE(size);
        CallResult r = call("hex", "\"" + many_a + "\"", size);
        EXPECT_EQ(r.output, "");
        EXPECT_FALSE(r.result.empty());
        EXPECT_LT(r.result.size(), size);
        for (std::size_t i = 0; i < r.result.size(); ++i) {
            ASSERT_EQ(r.result[i], i % 2 == 0 ? '6' : '1') << i;
        }
        r = call("url", "\"" + std::string(8000, '&') + "\"", size);
        EXPECT_EQ(r.output, "");
        EXPECT_FALSE(r.result.empty());
        EXPECT_LT(r.result.size(), size);
        for (std::size_t i = 0; i < r.result.size(); ++i) {
            ASSERT_EQ(r.result[i], "%26"[i % 3]) << i;
        }
        r = call("left", "\"" + many_a + "\", 9999", size);
        EXPECT_EQ(r.output, "");
        EXPECT_LT(r.result.size(), size);
        EXPECT_EQ(r.result.find_first_not_of('a'), std::string::npos);
    }
}

TEST_F(StringFunctionTest, LongNamesAreCutInTheMessage) {
    const std::string name(600, 'n');
    CallResult r = call(name.c_str(), "\"x\"");
    std::string full = "Undefined string function: $" + name + "( )";
    EXPECT_EQ(r.output, reported(full.substr(0, 511)));
    EXPECT_EQ(r.result, "");
}

}  // namespace
}  // namespace vexil
