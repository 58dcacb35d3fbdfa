// format_picture: number pictures (sign, currency symbol, digit positions,
// leading zeros, fraction cut, text after the digits) and text pictures.
// Every expected value is worked out by hand from the picture rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cgi/tracked_memory.hpp"
#include "variables/mappings.hpp"

namespace vexil {
namespace {

struct PictureCase {
    const char* picture;
    const char* value;
    const char* expected;
    const char* why;
};

void check_pictures(const std::vector<PictureCase>& cases) {
    for (const PictureCase& c : cases) {
        std::string picture(c.picture);  // the picture is never modified by the call
        const char* got = format_picture(picture.c_str(), c.value);
        ASSERT_NE(got, nullptr) << c.why;
        EXPECT_STREQ(got, c.expected)
            << "picture '" << c.picture << "' value '" << c.value << "': " << c.why;
        EXPECT_EQ(picture, c.picture) << "the caller's picture must stay intact";
    }
}

TEST(PictureTest, GroupedNumbers) {
    check_pictures({
        {"#,##0.00", "1234.5", "1,234.50", "grouping comma kept, fraction padded with 0"},
        {"#,##0.00", "5", "5.00", "unfilled # and the comma left of it are not shown"},
        {"#,##0.00", "12345", "2,345.00", "high-order digits beyond the picture are dropped"},
        {"#,##0.00", "1234567.891", "4,567.89", "dropped high digits and cut fraction together"},
        {"#,##0", "1234.56", "1,234", "no point in the picture: the fraction is not shown"},
        {"#,##0", "1234", "1,234", "exact fit"},
        {"0,000", "1234", "1,234", "zeros filled by digits"},
        {"0,000", "12345", "2,345", "zeros filled, extra digit dropped"},
    });
}

TEST(PictureTest, SignHandling) {
    check_pictures({
        {"#,##0.00", "-5", "5.00", "no sign in the picture: the minus is not shown"},
        {"-#,##0.00", "-1234.5", "-1,234.50", "'-' picture shows a minus for negatives"},
        {"-#,##0.00", "1234.5", "1,234.50", "'-' picture shows nothing for positives"},
        {"-#,##0", "-5", "-5", "the sign goes directly before the leftmost digit"},
        {"+0.0", "3", "+3.0", "'+' picture always shows a sign"},
        {"+0.0", "-3", "-3.0", "'+' picture shows '-' for negatives"},
        {"+0", "+5", "+5", "a leading '+' of the value is passed over"},
        {"-0.00", "+2.5", "2.50", "a '+' value is not negative"},
        {"-0.0", "1.5-", "-1.5", "a '-' anywhere in the value makes it negative"},
        {"-##0.00", "-.5", "-0.50", "no integer digits: the zero position stays"},
    });
}

TEST(PictureTest, CurrencySymbols) {
    check_pictures({
        {"$#,##0.00", "5", "$5.00", "'$' directly before the leftmost digit"},
        {"$#,##0.00", "1234.5", "$1,234.50", "'$' before a grouped number"},
        {"-$#,##0", "-1500", "-$1,500", "sign first, then the symbol, then the digits"},
        {"-$#,##0", "1500", "$1,500", "no sign for a positive value"},
        {"+$0.00", "2", "+$2.00", "'+' sign and currency together"},
        {"$0", "123", "$3", "one digit position: only the lowest digit is kept"},
        {"\xA3#,##0", "1500", "\xA3" "1,500", "the pound sign (byte 0xA3) is a currency symbol"},
        {"-\xA3" "0", "-7", "-\xA3" "7", "pound sign with a sign"},
    });
}

TEST(PictureTest, LeadingZerosStopAtOtherCharacters) {
    check_pictures({
        {"000", "7", "007", "unfilled zeros stay as leading zeros"},
        {"0,000", "5", "005", "the run of zeros stops at the comma"},
        {"##0", "5", "5", "unfilled # positions are not shown"},
        {"#0#", "5", "05", "a zero between #s stays, the # left of it stops the run"},
        {"00:00", "930", "09:30", "other characters between digit positions stay"},
        {"(###) ###-####", "5551234567", "555) 123-4567",
         "all digits used: the character left of the last position is not shown"},
        {"000", "1 2", "102", "a blank in the value uses a position without filling it"},
    });
}

TEST(PictureTest, FractionPart) {
    check_pictures({
        {"0.##", "7", "7.", "a # fraction position without a digit ends the result; the point stays"},
        {"0.00", "3.14159", "3.14", "digits beyond the fraction positions are cut"},
        {"0.0", "2.99", "2.9", "the cut digits are not carried (no rounding)"},
        {"0.00", "3", "3.00", "a value without a point fills 0 positions with 0"},
        {"0.#0", "1.5", "1.50", "# filled, the 0 after it shows 0"},
        {".00", "5", ".00", "no integer positions: the integer digit is dropped"},
        {".##", ".25", ".25", "fraction only"},
        {"0.00", "1. 5", "1.00", "a non-digit does not fill a fraction position"},
    });
}

TEST(PictureTest, TextAroundTheDigits) {
    check_pictures({
        {"#,##0 kg", "1500", "1,500 kg", "without a point, text right of the digits is shown"},
        {"0.00 kg", "2", "2.00", "text after the fraction positions is not shown"},
        {"#0.0%", "12.34", "12.3", "'%' after the fraction ends it as well"},
    });
}

TEST(PictureTest, EmptyAndBlankValues) {
    check_pictures({
        {"#,##0.00", " ", "0.00", "the one-blank empty mark is numeric"},
        {"#,##0.00", "", "", "an empty value gives the empty text"},
        {"##-##", "", "", "an empty value in text mode gives the empty text"},
        {"", "abc", "", "an empty picture in text mode gives the empty text"},
    });
}

TEST(PictureTest, TextMode) {
    check_pictures({
        {"##-##-##", "TUVWXY", "TU-VW-XY", "each # takes the next character"},
        {"##-##-##", "TUV", "TU-V", "the result ends where the value runs out"},
        {"##-##-##", "TUVWXYZ", "TU-VW-XY", "characters beyond the picture are dropped"},
        {"##-##", "ab", "ab", "ends right after the last character, before the '-'"},
        {"###-###", "AB12CD34", "AB1-2CD", "a letter makes the value text, digits included"},
        {"$##", "ab", "$ab", "'$' is an ordinary character in text mode"},
        {"(#)", "x", "(x", "the result ends at the position after the value runs out"},
        {"0#0", "ab", "0a0", "0 is an ordinary character in text mode"},
    });
}

TEST(PictureTest, PictureIsCutTo48Characters) {
    const std::string zeros(60, '0');
    std::string expected(47, '0');
    expected += '7';
    EXPECT_STREQ(format_picture(zeros.c_str(), "7"), expected.c_str());

    const std::string hashes(60, '#');
    std::string letters;
    for (int i = 0; i < 60; ++i) letters += char('a' + i % 26);
    EXPECT_STREQ(format_picture(hashes.c_str(), letters.c_str()), letters.substr(0, 48).c_str());

    // Exactly 48 characters are kept whole.
    const std::string hashes48(48, '#');
    EXPECT_STREQ(format_picture(hashes48.c_str(), letters.c_str()), letters.substr(0, 48).c_str());

    // The point is the 48th character: the fraction positions behind it are cut.
    std::string picture = std::string(47, '0') + ".00";
    std::string cut = std::string(46, '0') + "1.";
    EXPECT_STREQ(format_picture(picture.c_str(), "1.5"), cut.c_str());
}

TEST(PictureTest, ResultBufferIsReusedAndWellFormedAfterLongInput) {
    // A long value must never run past the 48-character result.
    const std::string digits(500, '9');
    EXPECT_STREQ(format_picture("#,##0.00", digits.c_str()), "9,999.00");
    const std::string text(500, 'x');
    EXPECT_STREQ(format_picture("##-##", text.c_str()), "xx-xx");
    EXPECT_STREQ(format_picture("0.00", "1"), "1.00");
}

}  // namespace
}  // namespace vexil
