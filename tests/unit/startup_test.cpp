// Start-up helpers: URL decoding of cookies (url_decode_copy) and the ten
// date and time built-ins, written from an injected local time.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cgi/tracked_memory.hpp"
#include "db/results.hpp"
#include "variables/startup.hpp"
#include "variables/variable_table.hpp"

namespace vexil {
namespace {

std::string decode(const char* source, std::size_t size = 256) {
    std::vector<char> dest(size + 8, '#');
    url_decode_copy(source, dest.data(), size);
    for (std::size_t i = size; i < dest.size(); ++i) {
        EXPECT_EQ(dest[i], '#') << "written past the destination for '" << source << "'";
    }
    return std::string(dest.data());
}

TEST(UrlDecodeTest, EscapesAndPlus) {
    struct Case {
        const char* source;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"plain", "plain"},
        {"a+b", "a b"},
        {"++", "  "},
        {"%41%42", "AB"},
        {"%4a%4A", "JJ"},
        {"J%20Doe", "J Doe"},
        {"a%3Db%26c", "a=b&c"},
        {"%2B", "+"},           // a decoded "+" stays a plus
        {"%25", "%"},
        {"%2541", "%41"},       // decoded once only
        {"%%41", "%A"},         // the first "%" has no hex digits after it
        {"%zz", "%zz"},
        {"%g1", "%g1"},
        {"%1g", "%1g"},
        {"%4", "%4"},           // cut off at the end
        {"%", "%"},
        {"100%", "100%"},
        {"%e9t%C3%A9", "\xe9t\xc3\xa9"},
    };
    for (const Case& c : cases) EXPECT_EQ(decode(c.source), c.expected) << "source " << c.source;
}

TEST(UrlDecodeTest, EncodedNulIsAByte) {
    char dest[8];
    std::memset(dest, 'x', sizeof dest);
    url_decode_copy("a%00b", dest, sizeof dest);
    EXPECT_EQ(std::memcmp(dest, "a\0b\0", 4), 0);
}

TEST(UrlDecodeTest, DestinationSizeIsRespected) {
    EXPECT_EQ(decode("abcdef", 4), "abc");
    EXPECT_EQ(decode("%41%42%43%44", 3), "AB");
    EXPECT_EQ(decode("a+b+c", 2), "a");
    EXPECT_EQ(decode("abc", 1), "");
    const std::string long_text(10000, 'z');
    EXPECT_EQ(decode(long_text.c_str(), 8192), std::string(8191, 'z'));
}

class DateTimeTest : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear() {
        free_tracked();
        reset_result_items();
        reset_variable_state();
    }
    static std::tm at(int year, int month, int day, int weekday, int hour, int minute) {
        std::tm t{};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_wday = weekday;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = 42;
        t.tm_isdst = -1;
        return t;
    }
};

TEST_F(DateTimeTest, TwelveHourClock) {
    struct Case {
        int hour, minute;
        const char* time;
        const char* time24;
    };
    const std::vector<Case> cases = {
        {0, 30, "00:30am", "00:30"},  // after midnight the hour shows as 00
        {0, 0, "00:00am", "00:00"},
        {9, 5, "09:05am", "09:05"},
        {11, 59, "11:59am", "11:59"},
        {12, 0, "12:00pm", "12:00"},
        {12, 15, "12:15pm", "12:15"},  // noon keeps 12 and takes pm
        {13, 7, "01:07pm", "13:07"},
        {23, 59, "11:59pm", "23:59"},
    };
    for (const Case& c : cases) {
        set_date_time_variables_at(at(2005, 9, 9, 5, c.hour, c.minute));
        EXPECT_EQ(date_time_buffers().time.view(), c.time) << c.hour << ":" << c.minute;
        EXPECT_EQ(date_time_buffers().time24.view(), c.time24) << c.hour << ":" << c.minute;
    }
}

TEST_F(DateTimeTest, NinthOfSeptember2005) {
    set_date_time_variables_at(at(2005, 9, 9, 5, 12, 15));
    const DateTimeBuffers& b = date_time_buffers();
    EXPECT_EQ(b.today.view(), "September 9, 2005");
    EXPECT_EQ(b.date_short.view(), "09-09-2005");
    EXPECT_EQ(b.date_ymd.view(), "20050909");
    EXPECT_EQ(b.year.view(), "2005");
    EXPECT_EQ(b.monthname.view(), "September");
    EXPECT_EQ(b.month.view(), "9");
    EXPECT_EQ(b.day.view(), "9");
    EXPECT_EQ(b.weekday.view(), "Friday");
    EXPECT_EQ(b.time.view(), "12:15pm");
    EXPECT_EQ(b.time24.view(), "12:15");
}

TEST_F(DateTimeTest, FifthOfJanuary1998) {
    set_date_time_variables_at(at(1998, 1, 5, 1, 13, 7));
    const DateTimeBuffers& b = date_time_buffers();
    EXPECT_EQ(b.today.view(), "January 5, 1998");
    EXPECT_EQ(b.time.view(), "01:07pm");
    EXPECT_EQ(b.time24.view(), "13:07");
    EXPECT_EQ(b.date_short.view(), "01-05-1998");
    EXPECT_EQ(b.date_ymd.view(), "19980105");
    EXPECT_EQ(b.year.view(), "1998");
    EXPECT_EQ(b.monthname.view(), "January");
    EXPECT_EQ(b.month.view(), "1");
    EXPECT_EQ(b.day.view(), "5");
    EXPECT_EQ(b.weekday.view(), "Monday");
}

TEST_F(DateTimeTest, MonthAndDayNamesFromTheirNumbers) {
    const char* months[] = {"January", "February", "March",     "April",   "May",      "June",
                            "July",    "August",   "September", "October", "November", "December"};
    const char* days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                          "Thursday", "Friday", "Saturday"};
    for (int m = 1; m <= 12; ++m) {
        set_date_time_variables_at(at(2010, m, 28, (m - 1) % 7, 8, 0));
        EXPECT_EQ(date_time_buffers().monthname.view(), months[m - 1]);
        EXPECT_EQ(date_time_buffers().month.view(), std::to_string(m));
        EXPECT_EQ(date_time_buffers().weekday.view(), days[(m - 1) % 7]);
        EXPECT_EQ(date_time_buffers().today.view(), std::string(months[m - 1]) + " 28, 2010");
    }
    set_date_time_variables_at(at(1999, 12, 31, 5, 23, 59));
    EXPECT_EQ(date_time_buffers().date_short.view(), "12-31-1999");
    EXPECT_EQ(date_time_buffers().date_ymd.view(), "19991231");
    EXPECT_EQ(date_time_buffers().today.view(), "December 31, 1999");
}

TEST_F(DateTimeTest, BuiltinsShowTheBuffers) {
    set_date_time_variables_at(at(2005, 9, 9, 5, 0, 30));
    EXPECT_STREQ(get_variable("today"), "September 9, 2005");
    EXPECT_STREQ(get_variable("TIME"), "00:30am");
    EXPECT_STREQ(get_variable("time24"), "00:30");
    EXPECT_STREQ(get_variable("date_short"), "09-09-2005");
    EXPECT_STREQ(get_variable("date_ymd"), "20050909");
    EXPECT_STREQ(get_variable("year"), "2005");
    EXPECT_STREQ(get_variable("monthname"), "September");
    EXPECT_STREQ(get_variable("month"), "9");
    EXPECT_STREQ(get_variable("day"), "9");
    EXPECT_STREQ(get_variable("weekday"), "Friday");
}

}  // namespace
}  // namespace vexil
