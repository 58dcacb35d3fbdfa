// The reference scanner: an escaped dollar counts only with its backslash
// inside the stretch not yet dealt with.
#include <gtest/gtest.h>

#include "expr/reference.hpp"

namespace vexil {
namespace {

TEST(ReferenceScanner, EscapedDollarOnlyWithTheBackslashInTheStretch) {
    const char text[] = "a\\$x";
    EXPECT_TRUE(is_escaped_dollar(text, text + 2));
    EXPECT_FALSE(is_escaped_dollar(text + 2, text + 2));  // the backslash was already dealt with
    EXPECT_FALSE(is_escaped_dollar(text, text + 3));
}

}  // namespace
}  // namespace vexil
