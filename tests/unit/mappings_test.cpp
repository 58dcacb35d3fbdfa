// format_picture (number and text pictures) and the TRANSLATE and FORMAT
// definitions with their limits.
#include "support.hpp"

namespace vexil {
namespace {

using Picture = test::Fresh;

TEST_F(Picture, LaysTheValueIntoThePicture) {
    struct { const char* picture; const char* value; const char* expected; } rows[] = {
        // unfilled # and the comma left of them are not shown; high digits dropped
        {"#,##0.00", "1234567.891", "4,567.89"}, {"#,##0.00", "-5", "5.00"},
        // sign: "-" for negatives only, "+" always; currency right before the leftmost digit
        {"+0.0", "3", "+3.0"}, {"+0.0", "-3", "-3.0"}, {"-0.00", "+2.5", "2.50"}, {"-0.0", "1.5-", "-1.5"},
        {"-##0.00", "-.5", "-0.50"}, {"-$#,##0", "-1500", "-$1,500"}, {"+$0.00", "2", "+$2.00"},
        {"$0", "123", "$3"}, {"-\xA3" "0", "-7", "-\xA3" "7"},
        // leading zeros stay; the run of zeros stops at any other character
        {"000", "7", "007"}, {"0,000", "5", "005"}, {"#0#", "5", "05"}, {"00:00", "930", "09:30"},
        {"(###) ###-####", "5551234567", "555) 123-4567"}, {"000", "1 2", "102"},
        // fraction: cut, never rounded; a # without a digit ends the result
        {"0.##", "7", "7."}, {"0.0", "2.99", "2.9"}, {"0.#0", "1.5", "1.50"}, {".00", "5", ".00"},
        {"0.00", "1. 5", "1.00"}, {"0.00 kg", "2", "2.00"}, {"#,##0.00", "", ""}, {"", "abc", ""},
        // a letter makes the value text; the result ends where the value runs out
        {"##-##-##", "TUVWXYZ", "TU-VW-XY"}, {"###-###", "AB12CD34", "AB1-2CD"}, {"$##", "ab", "$ab"},
        {"(#)", "x", "(x"}, {"0#0", "ab", "0a0"},
    };
    for (const auto& r : rows) {
        std::string picture = r.picture;
        EXPECT_STREQ(format_picture(picture.c_str(), r.value), r.expected) << r.picture << " | " << r.value;
        EXPECT_EQ(picture, r.picture) << "the caller's picture must stay intact";
    }
}

TEST_F(Picture, CutTo48CharactersAndNeverPastTheResult) {
    // The point is the 48th character: the fraction positions behind it are cut.
    EXPECT_EQ(format_picture((std::string(47, '0') + ".00").c_str(), "1.5"), std::string(46, '0') + "1.");
    EXPECT_STREQ(format_picture("#,##0.00", std::string(500, '9').c_str()), "9,999.00");
    EXPECT_STREQ(format_picture("##-##", std::string(500, 'x').c_str()), "xx-xx");
    EXPECT_EQ(format_picture(std::string(48, '#').c_str(), std::string(60, 'y').c_str()), std::string(48, 'y'));
}

class Mappings : public test::Fresh {
protected:
    static void translate(std::string text) { define_translation(text.data()); }
    static std::string picture(const char* name) {
        const char* p = find_format_picture(name);
        return p ? p : "<none>";
    }
};

TEST_F(Mappings, TranslatePairsAndAtMost32TablesOf99Pairs) {
    for (const char* text : {"s $x$=dollar, \"a,b\"=comma, 'k'='it''s', 1=one", "  \tlead 1=one", "t 1=A", "t ",
                             "u 1=A", "$u 1=C"})
        translate(text);
    struct { const char* name; const char* value; const char* expected; } rows[] = {
        {"s", "x", "dollar"}, {"s", "a,b", "comma"}, {"s", "k", "its"}, {"s", "1 ", "1 "},
        {"lead", "1", "one"}, {"t", "1", "1"}, {"u", "1", "A"},
    };
    for (const auto& r : rows) EXPECT_STREQ(translate_value(r.name, r.value), r.expected) << r.name << "=" << r.value;
    reset();
    for (int i = 0; i < 33; ++i) translate("t" + std::to_string(i) + " a=b" + std::to_string(i));
    EXPECT_STREQ(translate_value("t31", "a"), "b31");
    EXPECT_STREQ(translate_value("t32", "a"), "a");
    reset();
    std::string text = "big ";
    for (int i = 1; i <= 101; ++i) text += "v" + std::to_string(i) + "=w" + std::to_string(i) + ",";
    translate(text);
    EXPECT_STREQ(translate_value("big", "v99"), "w99");
    EXPECT_STREQ(translate_value("big", "v100"), "v100");
}

TEST_F(Mappings, AtMost50FormatPictures) {
    std::string text;
    for (int i = 0; i < 52; ++i) text += "f" + std::to_string(i) + "=0.0" + std::string(i % 3, '0') + ", ";
    define_format_list(text.data());
    EXPECT_EQ(picture("F0"), "0.0");
    EXPECT_EQ(picture("f49"), "0.00");
    EXPECT_EQ(picture("f50"), "<none>");
    define_format_list(text.assign("late=0").data());  // the collection is full
    EXPECT_EQ(picture("late"), "<none>");
}

}  // namespace
}  // namespace vexil
