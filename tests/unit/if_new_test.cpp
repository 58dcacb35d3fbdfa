// IFNEW: a name is new when its value differs from the one seen at the last
// test of that name; a change empties what was remembered for the names
// tested after it; 16 names are remembered, the 17th takes the first slot;
// remembered values are cut to 255 characters.
#include <gtest/gtest.h>

#include <string>

#include "expression_support.hpp"

namespace vexil {
namespace {

using testing_support::Writable;

class IfNewTest : public testing_support::ExpressionFixture {
protected:
    static bool is_new(const std::string& name) {
        Writable w(name);
        return test_if_new(w.data());
    }
};

TEST_F(IfNewTest, NewOnlyWhenTheValueChanges) {
    set_variable("g", "A");
    EXPECT_TRUE(is_new("g"));
    EXPECT_FALSE(is_new("g"));
    EXPECT_FALSE(is_new("G"));  // the same name in another case
    set_variable("g", "B");
    EXPECT_TRUE(is_new("g"));
    EXPECT_FALSE(is_new("g"));
    set_variable("g", "b");     // values compare with their case
    EXPECT_TRUE(is_new("g"));
    set_variable("g", "");      // defined but empty: the one-blank mark
    EXPECT_TRUE(is_new("g"));
    EXPECT_FALSE(is_new("g"));
}

TEST_F(IfNewTest, AnUndefinedNameIsNewOnlyTheFirstTime) {
    EXPECT_TRUE(is_new("nobody"));
    EXPECT_FALSE(is_new("nobody"));
}

TEST_F(IfNewTest, AChangeMakesTheLaterNamesNewAgain) {
    set_variable("a", "1");
    set_variable("b", "1");
    set_variable("c", "1");
    EXPECT_TRUE(is_new("a"));
    EXPECT_TRUE(is_new("b"));
    EXPECT_TRUE(is_new("c"));
    EXPECT_FALSE(is_new("a"));
    EXPECT_FALSE(is_new("b"));
    EXPECT_FALSE(is_new("c"));

    set_variable("a", "2");
    EXPECT_TRUE(is_new("a"));
    EXPECT_TRUE(is_new("b"));  // unchanged, but its remembered value was emptied
    EXPECT_TRUE(is_new("c"));

    set_variable("b", "2");
    EXPECT_FALSE(is_new("a"));  // names before the changed one keep their values
    EXPECT_TRUE(is_new("b"));
    EXPECT_TRUE(is_new("c"));
    EXPECT_FALSE(is_new("c"));
}

TEST_F(IfNewTest, AnEmptiedNameWithNoValueIsNotNew) {
    set_variable("outer", "1");
    EXPECT_TRUE(is_new("outer"));
    EXPECT_TRUE(is_new("inner"));  // undefined: first test
    set_variable("outer", "2");
    EXPECT_TRUE(is_new("outer"));
    EXPECT_FALSE(is_new("inner"));  // emptied, and its value is the empty text
}

TEST_F(IfNewTest, RemembersAtMost255Characters) {
    const std::string exact(255, 'e');
    set_variable("w", exact);
    EXPECT_TRUE(is_new("w"));
    EXPECT_FALSE(is_new("w"));

    const std::string longer = std::string(255, 'v') + std::string(45, 'z');
    set_variable("v", longer);
    EXPECT_TRUE(is_new("v"));
    set_variable("v", longer.substr(0, 255));  // equals what was remembered
    EXPECT_FALSE(is_new("v"));
}

TEST_F(IfNewTest, TheSeventeenthNameTakesTheFirstSlot) {
    for (int i = 0; i <= 16; ++i) set_variable("n" + std::to_string(i), "x");
    for (int i = 0; i < 16; ++i) EXPECT_TRUE(is_new("n" + std::to_string(i))) << i;
    for (int i = 0; i < 16; ++i) EXPECT_FALSE(is_new("n" + std::to_string(i))) << i;

    EXPECT_TRUE(is_new("n16"));   // replaces n0
    EXPECT_FALSE(is_new("n16"));
    for (int i = 1; i < 16; ++i) EXPECT_FALSE(is_new("n" + std::to_string(i))) << i;
    EXPECT_TRUE(is_new("n0"));    // forgotten: new again, back in the first slot
    EXPECT_TRUE(is_new("n16"));   // and n16 is forgotten in turn
    for (int i = 1; i < 16; ++i) EXPECT_FALSE(is_new("n" + std::to_string(i))) << i;
}

}  // namespace
}  // namespace vexil
