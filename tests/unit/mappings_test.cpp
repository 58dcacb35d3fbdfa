// TRANSLATE and FORMAT definitions: how the argument texts are parsed, which
// definition answers for a name, and the limits (32 tables, 99 pairs, 50
// pictures, 48 characters a picture).
#include <gtest/gtest.h>

#include <string>

#include "cgi/tracked_memory.hpp"
#include "variables/mappings.hpp"
#include "variables/variable_table.hpp"

namespace vexil {
namespace {

class MappingTest : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear() {
        free_tracked();
        reset_mappings();
        reset_variable_state();
    }
    // The definitions take writable texts.
    static void translate(std::string text) { define_translation(text.data()); }
    static void format(std::string text) { define_format_list(text.data()); }
    static std::string picture(const char* name) {
        const char* p = find_format_picture(name);
        return p ? p : "<none>";
    }
};

TEST_F(MappingTest, TranslateMapsExactValues) {
    translate("status 0=Open, 1=\"On hold\", 2=Closed");
    EXPECT_STREQ(translate_value("status", "0"), "Open");
    EXPECT_STREQ(translate_value("status", "1"), "On hold");
    EXPECT_STREQ(translate_value("STATUS", "2"), "Closed");  // the name ignores case
    EXPECT_STREQ(translate_value("status", "3"), "3");       // no pair: unchanged
    EXPECT_STREQ(translate_value("status", "1 "), "1 ");     // whole text compared
    EXPECT_STREQ(translate_value("other", "1"), "1");        // no table for the name

    translate("yn y=Yes");
    EXPECT_STREQ(translate_value("yn", "y"), "Yes");
    EXPECT_STREQ(translate_value("yn", "Y"), "Y");  // the value keeps its letter case
}

TEST_F(MappingTest, TranslatePairTexts) {
    translate("s 0=\"\", \" \"=none, $x$=dollar, \"a,b\"=comma, 'k'='it''s'");
    EXPECT_STREQ(translate_value("s", "0"), kEmptyMark);  // an empty to-text gives the mark
    EXPECT_STREQ(translate_value("s", " "), "none");      // a quoted blank matches the mark
    EXPECT_STREQ(translate_value("s", "x"), "dollar");    // "$" dropped from a from-text
    EXPECT_STREQ(translate_value("s", "a,b"), "comma");
    EXPECT_STREQ(translate_value("s", "k"), "its");
}

TEST_F(MappingTest, TranslateNameForms) {
    translate("\"my var\" a=b");
    EXPECT_STREQ(translate_value("my var", "a"), "b");
    translate("$code$ x=y");
    EXPECT_STREQ(translate_value("code", "x"), "y");
    translate("  \tlead 1=one");  // blanks and tabs before the name are skipped
    EXPECT_STREQ(translate_value("lead", "1"), "one");
}

TEST_F(MappingTest, TranslateWithoutClosingDelimiterDefinesNothing) {
    translate("status 1=A");
    translate("status");  // no blank after the name
    EXPECT_STREQ(translate_value("status", "1"), "A");
    translate("\"status 1=B");  // no closing quote
    EXPECT_STREQ(translate_value("status", "1"), "A");
    translate("$status 1=C");  // no closing dollar
    EXPECT_STREQ(translate_value("status", "1"), "A");
}

TEST_F(MappingTest, NewestTableReplacesOlderOnes) {
    translate("s 1=A, 2=B");
    translate("S 1=C");
    EXPECT_STREQ(translate_value("s", "1"), "C");
    EXPECT_STREQ(translate_value("s", "2"), "2");  // the older table is not consulted

    translate("t 1=A");
    translate("t ");  // a table without pairs still counts
    EXPECT_STREQ(translate_value("t", "1"), "1");
}

TEST_F(MappingTest, AtMost32Tables) {
    for (int i = 0; i < 33; ++i) translate("t" + std::to_string(i) + " a=b" + std::to_string(i));
    EXPECT_STREQ(translate_value("t0", "a"), "b0");
    EXPECT_STREQ(translate_value("t31", "a"), "b31");
    EXPECT_STREQ(translate_value("t32", "a"), "a");  // the 33rd is ignored
}

TEST_F(MappingTest, AtMost99PairsATable) {
    std::string text = "big ";
    for (int i = 1; i <= 101; ++i) text += "v" + std::to_string(i) + "=w" + std::to_string(i) + ",";
    translate(text);
    EXPECT_STREQ(translate_value("big", "v1"), "w1");
    EXPECT_STREQ(translate_value("big", "v99"), "w99");
    EXPECT_STREQ(translate_value("big", "v100"), "v100");
    EXPECT_STREQ(translate_value("big", "v101"), "v101");
}

TEST_F(MappingTest, FormatListItems) {
    format("price=\"$#,##0.00\", qty=\"#,##0\", code=##-##");
    EXPECT_EQ(picture("price"), "$#,##0.00");
    EXPECT_EQ(picture("PRICE"), "$#,##0.00");
    EXPECT_EQ(picture("qty"), "#,##0");
    EXPECT_EQ(picture("code"), "##-##");
    EXPECT_EQ(picture("other"), "<none>");
    EXPECT_STREQ(apply_format("price", "5"), "$5.00");
    EXPECT_STREQ(apply_format("other", "5"), "5");
}

TEST_F(MappingTest, UnquotedCommaSplitsThePicture) {
    format("qty=#,##0");
    EXPECT_EQ(picture("qty"), "#");
    EXPECT_EQ(picture("##0"), "<none>");  // an entry with an empty picture is never applied
    EXPECT_STREQ(apply_format("qty", "1234"), "4");
}

TEST_F(MappingTest, NewestFormatWinsAndEmptyPictureSwitchesOff) {
    format("price=0.0");
    format("price=0.000");
    EXPECT_EQ(picture("price"), "0.000");
    format("price=\"\"");
    EXPECT_EQ(picture("price"), "<none>");
    EXPECT_STREQ(apply_format("price", "5"), "5");
}

TEST_F(MappingTest, PictureStoredCutTo48Characters) {
    const std::string long_picture(60, '#');
    format("w=" + long_picture);
    EXPECT_EQ(picture("w"), std::string(48, '#'));
}

TEST_F(MappingTest, AtMost50Pictures) {
    std::string text;
    for (int i = 0; i < 52; ++i) text += "f" + std::to_string(i) + "=0.0" + std::string(i % 3, '0') + ", ";
    format(text);
    EXPECT_EQ(picture("f0"), "0.0");
    EXPECT_EQ(picture("f49"), "0.00");
    EXPECT_EQ(picture("f50"), "<none>");
    EXPECT_EQ(picture("f51"), "<none>");
    format("late=0");  // the collection is full
    EXPECT_EQ(picture("late"), "<none>");
}

TEST_F(MappingTest, ResetEmptiesBothCollections) {
    translate("s 1=A");
    format("p=0.0");
    reset_mappings();
    EXPECT_STREQ(translate_value("s", "1"), "1");
    EXPECT_EQ(picture("p"), "<none>");
}

}  // namespace
}  // namespace vexil
