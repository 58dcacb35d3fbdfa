// String functions: results at their edges, the order of the argument
// checks that decides the message, and long results cut to the destination
// without writing past it.
#include "support.hpp"
#include "expr/string_functions.hpp"

namespace vexil {
namespace {

using StringFunction = test::Fresh;

// Calls "name(arguments)" with a guarded destination of `size` bytes; the
// scratch top must be back where it was.
test::Evaluated call(std::string text, std::size_t size = 1024) {
    std::size_t paren = text.find('(');
    std::string name = text.substr(0, paren), args = text.substr(paren + 1, text.size() - paren - 2);
    test::Guarded dest(size);
    char* top = scratch_top();
    test::Evaluated e;
    e.output = test::captured([&] { call_string_function(name.c_str(), WorkArea{dest.data(), size}, args.data()); });
    EXPECT_EQ(scratch_top(), top) << text.substr(0, 40);
    e.result = dest.text();
    return e;
}

test::Evaluated call1k(std::string text) { return call(text); }

TEST_F(StringFunction, Results) {
    test::check(call1k, {
        {"url(\"a-b~_.\")", "a%2Db%7E%5F%2E"}, {"url(\"caf\xC3\xA9\")", "caf%C3%A9"}, {"URL(12.5, 9)", "12%2E5"},
        {"hex(255)", "323535"}, {"hex(\"\xFF\x01z\")", "FF017A"},
        // eval: a text is evaluated once more, anything else is its own text
        {"eval(\"'q'\")", "q"}, {"eval(05)", "05"}, {"eval(\"1 + abc\")", "1 + abc"},
        // asc: the low eight bits of the number
        {"asc(97, 5)", "a"}, {"asc(321)", "A"}, {"asc(-191)", "A"}, {"asc(66.99)", "B"},
        {"asc((1 = 1))", "\x01"}, {"asc(256)", ""},
        // counts are numbers (a Logical counts 1), cut to the text
        {"left(\"hi\", 10)", "hi"}, {"left(name, 2)", "na"}, {"left(\"abc\", 1.9)", "a"},
        {"left(\"abc\", 2 = 2)", "a"}, {"left('a,b', 2)", "a,"}, {"left(\"abc\", 2, 3)", "ab"},
        {"right(\"hi\", 5)", "hi"}, {"right(\"abc\", 0)", ""}, {"mid(\"hello\", 6)", ""},
        {"mid(\"hello\", 4, 99)", "lo"}, {"mid(\"hello\", 9, 2)", ""}, {"mid(\"hello\", 1, 0)", ""},
        {"Mid(\"hello\", 1 + 1, 1 + 1)", "el"}, {"mid(\"hello\", -3)", ""},
    });
}

TEST_F(StringFunction, Messages) {
    test::check(call1k, {
        {"format(\"000\")", "", "Undefined string function: $format( )"},
        {"mid(\"abc\", 1, -1)", "", "Undefined string function: $mid( )"},
        {"mid(\"abc\", 1, \"x\")", "", "Non-numeric argument for string function: $mid( )"},
        {"Right(\"abc\", -1)", "", "Undefined string function: $Right( )"},
        {"left(\"abc\")", "", "Undefined string function: $left( )"},
        // an argument that fails is reported once, by the evaluator
        {"left(1 / 0, 1)", "", "Non-numeric expression: 1 / 0"},
        {"mid(\"abc\", 2, 1 + x)", "", "Non-numeric expression: 1 + x"},
        {"url(1 +)", "", "Non-numeric expression: 1 + "},
        {"hex(nosuch(1))", "", "Undefined function for nosuch( )"},
    });
    const std::string name(600, 'n');  // long names are cut in the message
    EXPECT_EQ(call(name + "(\"x\")").output,
              test::reported(("Undefined string function: $" + name).substr(0, 511).c_str()));
}

TEST_F(StringFunction, LongResultsAreCutToTheDestination) {
    // hex doubles the text, url triples it: both outgrow a small destination
    // and the room left in the scratch area.
    const std::string many_a(10000, 'a');
    for (std::size_t size : {std::size_t(17), std::size_t(20000)}) {
        for (auto [text, pattern] : {std::pair{"hex(\"" + many_a + "\")", "61"},
                                     {"url(\"" + std::string(8000, '&') + "\")", "%26"},
                                     {"left(\"" + many_a + "\", 9999)", "a"}}) {
            test::Evaluated e = call(text, size);
            EXPECT_EQ(e.output, "");
            EXPECT_TRUE(!e.result.empty() && e.result.size() < size) << e.result.size();
            std::string expected;
            while (expected.size() < e.result.size()) expected += pattern;
            EXPECT_EQ(e.result, expected.substr(0, e.result.size())) << pattern << " " << size;
        }
    }
}

TEST(UrlEncode, StopsBeforeAnEscapeThatDoesNotFit) {
    const char* by_size[] = {"", "a", "a+", "a+", "a+", "a+%26", "a+%26b", "a+%26b"};
    for (std::size_t size = 1; size <= 8; ++size) {
        test::Guarded dest(size);
        url_encode("a &b", dest.data(), size);
        EXPECT_EQ(dest.text(), by_size[size - 1]) << size;
    }
}

}  // namespace
}  // namespace vexil
