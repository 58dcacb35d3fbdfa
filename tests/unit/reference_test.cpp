// The reference scanner: which "$" starts a reference, where its name ends,
// variable or function, the ")" that closes the arguments, names in
// expressions ending before AND/OR, and escaped dollars.
#include <gtest/gtest.h>

#include <string>

#include "expr/reference.hpp"

namespace vexil {
namespace {

constexpr ReferenceContext kText = ReferenceContext::kText, kExpr = ReferenceContext::kExpression;
using K = ReferenceScan::Kind;

TEST(ReferenceScanner, RecognisesNameKindAndEnd) {
    // name: between the "$" and the name's end; rest: after the closing "$" or ")", "" when unclosed
    struct { const char* text; ReferenceContext context; K kind; const char *name, *rest; } rows[] = {
        {"$name$ tail", kText, K::kVariable, "name", " tail"}, {"$a b_1$", kText, K::kVariable, "a b_1", ""},
        {"$1x$", kText, K::kNone, "", ""}, {"$ x$", kText, K::kNone, "", ""}, {"$$x$", kText, K::kNone, "", ""},
        {"$left(\"a)\", 2) tail", kText, K::kFunction, "left", " tail"},
        {"$f((1), 2)x", kText, K::kFunction, "f", "x"}, {"$mid (x)", kText, K::kFunction, "mid ", ""},
        {"$f(\"(\"", kText, K::kUnclosedFunction, "f", ""}, {"$f(1, (2)", kText, K::kUnclosedFunction, "f", ""},
        // in an expression a blank before "AND " or "OR " ends the name
        {"$a and b$", kExpr, K::kNone, "", ""}, {"$a OR(1)", kText, K::kFunction, "a OR", ""},
        {"$a or (1)", kExpr, K::kNone, "", ""}, {"$a andy$", kExpr, K::kVariable, "a andy", ""},
        {"$a and$", kExpr, K::kVariable, "a and", ""}, {"$x$ AND 1", kExpr, K::kVariable, "x", " AND 1"},
    };
    for (const auto& r : rows) {
        std::string text = r.text;
        ReferenceScan scan = scan_reference(text.c_str(), r.context);
        EXPECT_EQ(scan.kind, r.kind) << r.text;
        if (scan.kind == K::kNone) continue;
        EXPECT_EQ(text.substr(1, scan.name_end - 1), r.name) << r.text;
        EXPECT_EQ(text.substr(scan.close + (scan.kind == K::kUnclosedFunction ? 0 : 1)), r.rest) << r.text;
        EXPECT_EQ(text[scan.name_end], scan.kind == K::kVariable ? '$' : '(') << r.text;
    }
}

TEST(ReferenceScanner, EscapedDollarOnlyWithTheBackslashInTheStretch) {
    const char text[] = "a\\$x";
    EXPECT_TRUE(is_escaped_dollar(text, text + 2));
    EXPECT_FALSE(is_escaped_dollar(text + 2, text + 2));  // the backslash was already dealt with
    EXPECT_FALSE(is_escaped_dollar(text, text + 3));
}

}  // namespace
}  // namespace vexil
