// Bounded text buffers and the case-blind comparisons.
#include <gtest/gtest.h>

#include "cgi/text.hpp"

namespace vexil {
namespace {

TEST(TextBuffer, AssignAndAppendCutAtCapacity) {
    TextBuffer<8> b;
    EXPECT_TRUE(b.empty());
    EXPECT_TRUE(b.append("abc"));
    EXPECT_FALSE(b.append("defghij"));  // only 4 more fit
    EXPECT_EQ(b.view(), "abcdefg");
    EXPECT_TRUE(b.full());
    EXPECT_FALSE(b.push_back('x'));
    EXPECT_EQ(b.c_str()[7], '\0');

    b.assign("0123456789");
    EXPECT_EQ(b.view(), "0123456");
    b.truncate(2);
    EXPECT_EQ(b.view(), "01");
    b.truncate(5);  // never lengthens
    EXPECT_EQ(b.view(), "01");
}

TEST(TextBuffer, FormatCutsAndSyncLengthFollowsInPlaceEdits) {
    TextBuffer<10> b;
    b.format("%s-%d", "abcdef", 12345);
    EXPECT_EQ(b.view(), "abcdef-12");
    b.data()[3] = '\0';
    b.sync_length();
    EXPECT_EQ(b.size(), 3u);
}

TEST(CopyBounded, CutsAndTerminates) {
    char dest[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(copy_bounded(dest, sizeof dest, "abcdef"), 3u);
    EXPECT_STREQ(dest, "abc");
    EXPECT_EQ(copy_bounded(dest, 1, "abc"), 0u);
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(copy_bounded(dest, 0, "abc"), 0u);  // no room at all: nothing written
}

TEST(EqualsNocase, ComparesWholeTextsIgnoringLetterCase) {
    EXPECT_TRUE(equals_nocase("", ""));
    EXPECT_TRUE(equals_nocase("Row", "ROW"));
    EXPECT_TRUE(equals_nocase("a_1", "A_1"));
    EXPECT_FALSE(equals_nocase("row", "row "));
    EXPECT_FALSE(equals_nocase("row", "ro"));
    EXPECT_FALSE(equals_nocase("[", "{"));  // not letters: no case folding
    EXPECT_FALSE(equals_nocase("\xE9", "\xC9"));  // bytes above 127 compare exactly
}

TEST(StartsWithNocase, KeywordRules) {
    // "OR " with its blank: matches "or x", not "or" at the end nor "orange".
    EXPECT_TRUE(starts_with_nocase("or x", "OR ", 3));
    EXPECT_TRUE(starts_with_nocase("Or 1", "OR ", 3));
    EXPECT_FALSE(starts_with_nocase("or", "OR ", 3));
    EXPECT_FALSE(starts_with_nocase("orange", "OR ", 3));
    EXPECT_FALSE(starts_with_nocase("or\tx", "OR ", 3));
    EXPECT_FALSE(starts_with_nocase("", "IF", 2));
    EXPECT_TRUE(starts_with_nocase("ifnew x", "IFNEW", 5));
    EXPECT_TRUE(starts_with_nocase("IFNEW", "IF", 2));
    // The string_view form gives the same answers.
    EXPECT_TRUE(starts_with_nocase(std::string_view("endrow-->"), "ENDROW", 6));
    EXPECT_FALSE(starts_with_nocase(std::string_view("end"), "ENDROW", 6));
    EXPECT_FALSE(starts_with_nocase(std::string_view(""), "X", 1));
}

}  // namespace
}  // namespace vexil
