// String functions: long results cut to the destination without writing
// past it.
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
