// CGI form decoding: GET and POST data, the decoder's messages, escapes and
// the field table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cgi/form_data.hpp"
#include "cgi/tracked_memory.hpp"

namespace vexil {
namespace {

class FormDataTest : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }

    static void clear() {
        for (const char* name : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_LENGTH", "CONTENT_TYPE"})
            unsetenv(name);
        free_tracked();
        reset_form_state();
    }
    static int get(const char* query) {
        setenv("REQUEST_METHOD", "GET", 1);
        setenv("QUERY_STRING", query, 1);
        return read_form_data();
    }
    // Runs a POST with `body` on standard input.
    static int post(const std::string& body, const char* length,
                    const char* type = "application/x-www-form-urlencoded") {
        std::string path = ::testing::TempDir() + "vexil_post_body";
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(body.data(), 1, body.size(), f);
        std::fclose(f);
        EXPECT_NE(std::freopen(path.c_str(), "rb", stdin), nullptr);
        setenv("REQUEST_METHOD", "Post", 1);
        if (length) setenv("CONTENT_LENGTH", length, 1);
        if (type) setenv("CONTENT_TYPE", type, 1);
        return read_form_data();
    }
    static std::string error() { return form_state().form_error; }
};

TEST_F(FormDataTest, GetSplitsAndDecodes) {
    ASSERT_EQ(get("name=John+Smith&city=New%20York"), 1);
    EXPECT_STREQ(form_value("name"), "John Smith");
    EXPECT_STREQ(form_value("CITY"), "New York");
    EXPECT_STREQ(form_value("missing"), "");
    EXPECT_EQ(form_state().cgi_input, stdin);
    EXPECT_EQ(read_form_data(), 1);  // a second call reads nothing again
}

TEST_F(FormDataTest, PlusAndEncodedSeparatorsStayData) {
    ASSERT_EQ(get("x=%2B%26%3D&q=1+1&r=1%2B1"), 1);
    EXPECT_STREQ(form_value("x"), "+&=");
    EXPECT_STREQ(form_value("q"), "1 1");
    EXPECT_STREQ(form_value("r"), "1+1");
}

TEST_F(FormDataTest, RepeatedEmptyAndBareNames) {
    ASSERT_EQ(get("a=1&a=2&e=&b&&z=9"), 1);
    EXPECT_STREQ(form_value("a"), "1");
    const char** all = form_values_all("a", "-");
    ASSERT_NE(all[0], nullptr);
    EXPECT_STREQ(all[0], "1");
    EXPECT_STREQ(all[1], "2");
    EXPECT_EQ(all[2], nullptr);
    EXPECT_EQ(form_values_all("A", "-")[0], nullptr);  // exact names only

    EXPECT_STREQ(form_value_or("e", "dflt"), "dflt");
    FormField* e = find_form_field("E");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->value, "");
    EXPECT_EQ(e->capacity, 1u);

    FormField* b = find_form_field("b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->value, nullptr);
    EXPECT_EQ(b->capacity, 0u);

    FormField* empty = find_form_field("");  // the pair between "&&"
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->value, nullptr);
    EXPECT_STREQ(form_value("z"), "9");
}

TEST_F(FormDataTest, TruncatedEscapesAndNulBytes) {
    ASSERT_EQ(get("a=50%&b=x%4&c=ab%00cd&d=%4a%4A"), 1);
    EXPECT_STREQ(form_value("a"), "50%");
    EXPECT_STREQ(form_value("b"), "x%4");
    EXPECT_STREQ(form_value("c"), "ab");  // %00 ends the value
    EXPECT_EQ(find_form_field("c")->capacity, 8u);  // the raw length plus 1
    EXPECT_STREQ(form_value("d"), "JJ");
}

TEST_F(FormDataTest, TableGrowsPast200Pairs) {
    std::string query;
    for (int i = 0; i < 201; ++i) query += (i ? "&f" : "f") + std::to_string(i) + "=" + std::to_string(i);
    ASSERT_EQ(get(query.c_str()), 1);
    EXPECT_EQ(form_state().capacity, 400u);
    EXPECT_STREQ(form_value("f0"), "0");
    EXPECT_STREQ(form_value("f199"), "199");
    EXPECT_STREQ(form_value("f200"), "200");
    EXPECT_EQ(form_state().fields[201].name, nullptr);
}

TEST_F(FormDataTest, Exactly200PairsFitWithoutGrowth) {
    std::string query;
    for (int i = 0; i < 200; ++i) query += (i ? "&f" : "f") + std::to_string(i) + "=v";
    ASSERT_EQ(get(query.c_str()), 1);
    EXPECT_EQ(form_state().capacity, 200u);
    EXPECT_STREQ(form_value("f199"), "v");
}

TEST_F(FormDataTest, GetFailures) {
    EXPECT_EQ(read_form_data(), 0);
    EXPECT_EQ(error(), "Missing environment variable REQUEST_METHOD");
    clear();
    setenv("REQUEST_METHOD", "get", 1);
    EXPECT_EQ(read_form_data(), 0);
    EXPECT_EQ(error(), "Missing environment variable QUERY_STRING");
    clear();
    EXPECT_EQ(get(""), 0);
    EXPECT_EQ(error(), "Missing environment variable QUERY_STRING");
    EXPECT_EQ(form_value_or("x", "d"), std::string("d"));  // no table: defaults
    EXPECT_EQ(find_form_field("x"), nullptr);
    clear();
    setenv("REQUEST_METHOD", "PUT", 1);
    EXPECT_EQ(read_form_data(), 0);
    EXPECT_EQ(error(), "Unrecognized REQUEST_METHOD = PUT");
}

TEST_F(FormDataTest, PostReadsExactlyContentLength) {
    ASSERT_EQ(post("a=1&b=two+words&rest", "15"), 1);
    EXPECT_STREQ(form_value("a"), "1");
    EXPECT_STREQ(form_value("b"), "two words");
    EXPECT_EQ(find_form_field("rest"), nullptr);  // beyond CONTENT_LENGTH
}

TEST_F(FormDataTest, PostFailures) {
    EXPECT_EQ(post("a=1", "10"), 0);
    EXPECT_EQ(error(), "Unexpected EOF reading POST method input");
    clear();
    EXPECT_EQ(post("a=1", "0"), 0);
    EXPECT_EQ(error(), "Missing environment variable CONTENT_LENGTH");
    clear();
    EXPECT_EQ(post("a=1", nullptr), 0);
    EXPECT_EQ(error(), "Missing environment variable CONTENT_LENGTH");
    clear();
    EXPECT_EQ(post("a=1", "3", nullptr), 0);
    EXPECT_EQ(error(), "Missing environment variable CONTENT_TYPE");
    clear();
    EXPECT_EQ(post("a=1", "3", "application/x-www-form-urlencoded; charset=UTF-8"), 0);
    EXPECT_EQ(error(), "Unsupported CONTENT_TYPE = application/x-www-form-urlencoded; charset=UTF-8");
    clear();
    EXPECT_EQ(post("a=1", "3", "APPLICATION/X-WWW-FORM-URLENCODED"), 1);
}

TEST(HexPairValue, DigitsAndLettersOfEitherCase) {
    EXPECT_EQ(hex_pair_value("41"), 'A');
    EXPECT_EQ(hex_pair_value("2b"), '+');
    EXPECT_EQ(hex_pair_value("2B"), '+');
    EXPECT_EQ(hex_pair_value("20"), ' ');
    EXPECT_EQ(hex_pair_value("ff"), 0xFF);
    EXPECT_EQ(hex_pair_value("00"), 0);
    // Not hexadecimal: computed by the same rule, modulo 256, never a crash.
    EXPECT_EQ(hex_pair_value("G0"), (16 * ('G' - 55)) % 256);
    EXPECT_EQ(hex_pair_value("zz"), (16 * ('Z' - 55) + ('Z' - 55)) % 256);
}

TEST(UrlUnescape, DecodesInPlace) {
    char text[] = "a%20b%2";
    url_unescape(text);
    EXPECT_STREQ(text, "a b%2");
    char lone[] = "%";
    url_unescape(lone);
    EXPECT_STREQ(lone, "%");
}

}  // namespace
}  // namespace vexil
