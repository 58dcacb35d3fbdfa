// The variable table's values, URL decoding of cookies into a destination
// of a given size, and the date and time built-ins from an injected clock.
#include <ctime>
#include <utility>

#include "support.hpp"
#include "values/clock.hpp"

namespace vexil {
namespace {

using Variables = test::Fresh;
using DateTime = test::Fresh;
TEST_F(Variables, ValuesAreCopiedAndRegrown) {
    result_items().status_text.assign("0");  // a built-in shows its producer's buffer
    EXPECT_STREQ(get_variable("sql_status"), "0");
    set_variable("SQL_STATUS", "");  // until it is set; the buffer itself is left alone
    EXPECT_STREQ(result_items().status_text.c_str(), "0");
    set_variable("x", "");
    EXPECT_STREQ(get_variable("x"), kEmptyMark);
    const std::string long_value(300, 'L');
    set_variable("X", long_value);
    EXPECT_EQ(get_variable("x"), long_value);
    std::string caller = "s";
    set_variable("x", caller);
    caller[0] = 'X';
    EXPECT_STREQ(get_variable("x"), "s");
    EXPECT_EQ(variable_table().count, kBuiltinVariables + 1);  // one entry for x
}

TEST(UrlDecode, EscapesPlusAndTheDestinationSize) {
    struct { const char* source; std::size_t size; const char* expected; } rows[] = {
        {"", 256, ""},       {"a+b%3Db%26c", 256, "a b=b&c"}, {"%4a%4A", 256, "JJ"},
        {"%2B", 256, "+"},   {"%2541", 256, "%41"},  // decoded once only
        {"%%41", 256, "%A"}, {"%g1", 256, "%g1"},    {"%1g", 256, "%1g"},
        {"%4", 256, "%4"},   {"%", 256, "%"},        {"%e9t%C3%A9", 256, "\xe9t\xc3\xa9"},
        {"abcdef", 4, "abc"}, {"%41%42%43%44", 3, "AB"}, {"abc", 1, ""},
    };
    for (const auto& r : rows) {
        test::Guarded dest(r.size);
        url_decode(r.source, dest.data(), r.size);
        EXPECT_EQ(dest.text(), r.expected) << r.source;
    }
    test::Guarded big(8192);
    url_decode(std::string(10000, 'z'), big.data(), 8192);
    EXPECT_EQ(big.text(), std::string(8191, 'z'));
    char nul[8];
    url_decode("a%00b", nul, sizeof nul);  // an encoded NUL is a byte
    EXPECT_EQ(std::string(nul, 4), std::string("a\0b\0", 4));
}

std::tm at(int year, int month, int day, int weekday, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day, t.tm_wday = weekday;
    t.tm_hour = hour, t.tm_min = minute, t.tm_isdst = -1;
    return t;
}

TEST_F(DateTime, Builtins) {
    set_date_time_variables_at(at(2005, 9, 9, 5, 0, 30));
    struct { const char* name; const char* value; } builtins[] = {
        {"today", "September 9, 2005"}, {"TIME", "00:30am"},   {"time24", "00:30"},
        {"date_short", "09-09-2005"},   {"date_ymd", "20050909"}, {"year", "2005"},
        {"monthname", "September"},     {"month", "9"},        {"day", "9"},
        {"weekday", "Friday"},
    };
    for (const auto& b : builtins) EXPECT_STREQ(get_variable(b.name), b.value) << b.name;

    struct { int hour, minute; const char* time; const char* time24; } clock[] = {
        {11, 59, "11:59am", "11:59"}, {12, 15, "12:15pm", "12:15"},
        {13, 7, "01:07pm", "13:07"},  {23, 59, "11:59pm", "23:59"},
    };
    for (const auto& c : clock) {
        set_date_time_variables_at(at(2005, 9, 9, 5, c.hour, c.minute));
        EXPECT_EQ(clock_state().time.view(), c.time);
        EXPECT_EQ(clock_state().time24.view(), c.time24);
    }

    // Month before day, both padded; names from their numbers.
    set_date_time_variables_at(at(1998, 1, 5, 1, 13, 7));
    EXPECT_EQ(clock_state().date_short.view(), "01-05-1998");
    EXPECT_EQ(clock_state().date_ymd.view(), "19980105");
    EXPECT_EQ(clock_state().today.view(), "January 5, 1998");
    set_date_time_variables_at(at(2005, 12, 31, 6, 8, 0));  // the last names of both lists
    EXPECT_EQ(clock_state().today.view(), "December 31, 2005");
    EXPECT_EQ(clock_state().weekday.view(), "Saturday");
}

TEST_F(DateTime, ClockReadWhenFirstUsed) {
    // Nothing is read until a date or time variable is looked up; then all
    // ten are written at once from the real clock.
    set_date_time_variables();
    EXPECT_EQ(clock_state().year.view(), "");
    EXPECT_STREQ(get_variable("not_a_clock_name"), "");
    EXPECT_EQ(clock_state().year.view(), "");
    char year[8];
    std::time_t now = std::time(nullptr);
    std::strftime(year, sizeof year, "%Y", std::localtime(&now));
    EXPECT_STREQ(get_variable("YEAR"), year);
    EXPECT_NE(clock_state().weekday.view(), "");

    // A given time is not replaced by a late reading, nor is a value SET
    // before the first look.
    set_date_time_variables();
    set_date_time_variables_at(at(1998, 1, 5, 1, 13, 7));
    EXPECT_STREQ(get_variable("year"), "1998");
    set_date_time_variables();
    set_variable("day", "31");
    EXPECT_STREQ(get_variable("day"), "31");
    EXPECT_STREQ(get_variable("year"), year);
}

}  // namespace
}  // namespace vexil
