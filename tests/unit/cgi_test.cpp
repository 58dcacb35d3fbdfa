// The CGI layer's pieces: tracked memory, bounded text buffers, the
// case-blind comparisons, and form decoding (empty and repeated fields,
// the field table, the decoder's messages and the body limit).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "base/text.hpp"
#include "support.hpp"

namespace vexil {
namespace {

using TrackedAlloc = test::Fresh;

TEST_F(TrackedAlloc, ReallocKeepsContentsAndSlotAndLeavesUnrecordedBlocksAlone) {
    tracked_alloc(4);
    char* block = static_cast<char*>(tracked_alloc(10));
    std::memcpy(block, "012345678", 10);
    char* grown = static_cast<char*>(tracked_realloc(block, 100));
    EXPECT_STREQ(grown, "012345678");
    EXPECT_EQ(tracked_memory().table[1], grown);
    char outside[8] = "abc";
    void* fresh = tracked_realloc(outside, 16);
    EXPECT_NE(fresh, static_cast<void*>(outside));
    EXPECT_STREQ(outside, "abc");
    EXPECT_EQ(tracked_memory().count, 3);
    EXPECT_EQ(tracked_memory().table[2], fresh);
}

TEST(TextBuffer, CutsAtCapacityAndStaysTerminated) {
    TextBuffer<8> b;
    EXPECT_TRUE(b.append("abc"));
    EXPECT_FALSE(b.append("defghij"));  // only 4 more fit
    EXPECT_EQ(b.view(), "abcdefg");
    EXPECT_FALSE(b.push_back('x'));
    EXPECT_EQ(b.c_str()[7], '\0');
    b.assign("0123456789");
    EXPECT_EQ(b.view(), "0123456");
    b.format("%s-%d", "abc", 12345);
    EXPECT_EQ(b.view(), "abc-123");
    b.assign_number(-2147483648LL);  // eight characters: cut like any text
    EXPECT_EQ(b.view(), "-214748");
    b.assign_number(0);
    EXPECT_EQ(b.view(), "0");
    char dest[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(copy_bounded(dest, sizeof dest, "abcdef"), 3u);
    EXPECT_STREQ(dest, "abc");
    EXPECT_EQ(copy_bounded(dest, 1, "abc"), 0u);
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(copy_bounded(dest + 1, 0, "abc"), 0u);  // no room at all: nothing written
    EXPECT_EQ(dest[1], 'b');
}

TEST(TextCompare, EqualsAndStartsWithNocase) {
    struct { const char* a; const char* b; bool equal; } equal_rows[] = {
        {"", "", true}, {"Row_1", "ROW_1", true}, {"row", "row ", false},
        {"[", "{", false},        // not letters: no case folding
        {"\xE9", "\xC9", false},  // bytes above 127 compare exactly
    };
    for (const auto& r : equal_rows) EXPECT_EQ(equals_nocase(r.a, r.b), r.equal) << r.a << "|" << r.b;
    struct { const char* text; const char* keyword; std::size_t n; bool match; } rows[] = {
        {"Or 1", "OR ", 3, true}, {"or", "OR ", 3, false},  {"orange", "OR ", 3, false},
        {"or\tx", "OR ", 3, false}, {"", "IF", 2, false},     {"IFNEW", "IF", 2, true},
        {"end", "ENDROW", 6, false},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(starts_with_nocase(r.text, r.keyword, r.n), r.match) << r.text;
        EXPECT_EQ(starts_with_nocase(std::string_view(r.text), r.keyword, r.n), r.match) << r.text;
    }
}

TEST(HexPairValue, DigitsAndLettersOfEitherCase) {
    struct { const char* pair; int value; } rows[] = {
        {"41", 'A'}, {"2b", '+'}, {"2B", '+'}, {"fF", 0xFF},
        {"G0", (16 * ('G' - 55)) % 256},  // not hexadecimal: the same rule, never a crash
        {"zz", (16 * ('Z' - 55) + ('Z' - 55)) % 256},
    };
    for (const auto& r : rows) EXPECT_EQ(hex_pair_value(r.pair), r.value) << r.pair;
    char text[] = "a%20b%2";
    url_decode(text, text, sizeof text);  // in place
    EXPECT_STREQ(text, "a b%2");
}

class FormTest : public test::WebRequest {
protected:
    static void set(const char* name, const char* value) {
        if (value) setenv(name, value, 1);
    }
    // A GET request, or with a length a POST whose body is `data` on stdin;
    // `limit` (if not 0) is the body limit.
    int request(const char* method, const char* data, const char* length = nullptr,
                const char* type = "application/x-www-form-urlencoded", std::size_t limit = 0) {
        clear();
        if (limit) run_policy().max_body = limit;
        set("REQUEST_METHOD", method);
        if (!length) {
            set("QUERY_STRING", data);
        } else {
            // One file per process: ctest runs tests side by side.
            std::string path = ::testing::TempDir() + "vexil_post_body." + std::to_string(getpid());
            FILE* f = std::fopen(path.c_str(), "wb");
            std::fputs(data, f);
            std::fclose(f);
            EXPECT_NE(std::freopen(path.c_str(), "rb", stdin), nullptr);
            if (*length) set("CONTENT_LENGTH", length);
            set("CONTENT_TYPE", type);
        }
        Status read = read_form_data();
        error = read.message();
        return read.is_ok() ? 1 : 0;
    }
    std::string error;  // the last request's failure message
};

TEST_F(FormTest, EmptyBareAndRepeatedFields) {
    ASSERT_EQ(request("GET", "a=1&a=2&e=&b&&c=ab%00cd"), 1);
    const char** all = form_values_all("a", "-");
    ASSERT_NE(all[0], nullptr);
    EXPECT_STREQ(all[0], "1");
    EXPECT_STREQ(all[1], "2");
    EXPECT_EQ(all[2], nullptr);
    EXPECT_EQ(form_values_all("A", "-")[0], nullptr);  // exact names only
    EXPECT_STREQ(form_value_or("e", "dflt"), "dflt");
    ASSERT_NE(find_form_field("E"), nullptr);
    EXPECT_EQ(find_form_field("E")->capacity, 1u);
    EXPECT_EQ(find_form_field("c")->capacity, 8u);  // the raw length plus 1
    for (const char* bare : {"b", ""}) {  // "b" and the pair between "&&"
        ASSERT_NE(find_form_field(bare), nullptr) << bare;
        EXPECT_EQ(find_form_field(bare)->value, nullptr);
        EXPECT_EQ(find_form_field(bare)->capacity, 0u);
    }
}

TEST_F(FormTest, TableGrowsPast200Pairs) {
    for (int pairs : {200, 201}) {
        std::string query;
        for (int i = 0; i < pairs; ++i) query += (i ? "&f" : "f") + std::to_string(i) + "=" + std::to_string(i);
        ASSERT_EQ(request("GET", query.c_str()), 1);
        EXPECT_EQ(form_state().capacity, pairs == 200 ? 200u : 400u);
        EXPECT_STREQ(form_value("f0"), "0");
        EXPECT_STREQ(form_value("f" + std::to_string(pairs - 1)), std::to_string(pairs - 1).c_str());
        EXPECT_EQ(form_state().fields[pairs].name, nullptr);
    }
}

TEST_F(FormTest, PostReadsExactlyContentLength) {
    ASSERT_EQ(request("Post", "a=1&b=two+words&rest", "15"), 1);
    EXPECT_STREQ(form_value("b"), "two words");
    EXPECT_EQ(find_form_field("rest"), nullptr);
    EXPECT_EQ(request("POST", "a=1", "3", "APPLICATION/X-WWW-FORM-URLENCODED"), 1);
}

TEST_F(FormTest, Failures) {
    const char* form = "application/x-www-form-urlencoded";
    // A negative length, letters, trailing text and a plus sign: e2e/cgi/content_length_*.
    struct { const char* method; const char* data; const char* length; const char* type; const char* error; } rows[] = {
        {nullptr, nullptr, nullptr, nullptr, "Missing environment variable REQUEST_METHOD"},
        {"get", nullptr, nullptr, nullptr, "Missing environment variable QUERY_STRING"},
        {"GET", "", nullptr, nullptr, "Missing environment variable QUERY_STRING"},
        {"PUT", "a=1", nullptr, nullptr, "Unrecognized REQUEST_METHOD = PUT"},
        {"post", "a=1", "10", form, "Unexpected EOF reading POST method input"},
        {"post", "a=1", "0", form, "Missing environment variable CONTENT_LENGTH"},
        {"post", "a=1", "", form, "Missing environment variable CONTENT_LENGTH"},
        {"post", "a=1", "3", nullptr, "Missing environment variable CONTENT_TYPE"},
        {"post", "a=1", "3 ", form, "Invalid CONTENT_LENGTH"},
        {"post", "a=1", "0x3", form, "Invalid CONTENT_LENGTH"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(request(r.method, r.data, r.length, r.type), 0) << r.error;
        EXPECT_EQ(error, r.error);
        EXPECT_EQ(form_state().length_invalid, error == "Invalid CONTENT_LENGTH") << r.length;
        EXPECT_STREQ(form_value_or("x", "d"), "d");  // no table: defaults
    }
}

// The body limit: a body of the limit is read, one byte more is refused
// without reading it; a length of more digits than an integer holds is over
// any limit rather than wrapping around.
TEST_F(FormTest, BodyLimit) {
    auto limited = [&](const char* data, const char* length, std::size_t limit) {
        return request("POST", data, length, "application/x-www-form-urlencoded", limit) == 1;
    };
    EXPECT_TRUE(limited("a=1", "3", 3)) << error;
    EXPECT_STREQ(form_value("a"), "1");
    EXPECT_FALSE(form_state().body_too_large);

    EXPECT_FALSE(limited("a=12", "4", 3));
    EXPECT_EQ(error, "Request body too large");
    EXPECT_TRUE(form_state().body_too_large);
    EXPECT_EQ(std::fgetc(stdin), 'a') << "the refused body was read";

    EXPECT_FALSE(limited("a=1", "18446744073709551619", std::size_t(-1) - 1));
    EXPECT_TRUE(form_state().body_too_large);
    EXPECT_FALSE(limited("a=1", "1000000000000000", kDefaultMaxBody));
    EXPECT_TRUE(form_state().body_too_large);
}

}  // namespace
}  // namespace vexil
