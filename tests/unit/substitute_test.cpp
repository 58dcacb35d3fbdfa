// substitute_variables and expand_reference: the reference syntax, the
// option bits (undefined names, empty values, FORMAT, quote doubling),
// values that hold references, self-reference, the nesting limit, the
// 256-character reference buffer and cutting at the destination's size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cgi/form_data.hpp"
#include "cgi/tracked_memory.hpp"
#include "db/results.hpp"
#include "expr/scratch.hpp"
#include "variables/mappings.hpp"
#include "variables/substitute.hpp"
#include "variables/variable_table.hpp"

namespace vexil {
namespace {

class SubstituteTest : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear() {
        free_tracked();
        reset_form_state();
        reset_result_items();
        reset_mappings();
        reset_substitution_state();
        reset_scratch();
        reset_variable_state();
    }

    // The text with every reference replaced, in a destination of `size`
    // bytes followed by guard bytes that must stay untouched.
    static std::string subst(const std::string& text, int options, std::size_t size = 4096) {
        std::string source = text;
        std::vector<char> dest(size + 64, '\x7f');
        substitute_variables(source.data(), dest.data(), size, options);
        for (std::size_t i = size; i < dest.size(); ++i) {
            if (dest[i] != '\x7f') {
                ADD_FAILURE() << "byte " << i << " written past a destination of " << size
                              << " bytes for '" << text.substr(0, 60) << "'";
                break;
            }
        }
        std::size_t length = 0;
        while (length < size && dest[length] != '\0') ++length;
        EXPECT_LT(length, size) << "destination not terminated";
        return std::string(dest.data(), length);
    }
    static void set(const char* name, const char* value) { set_variable(name, value); }
    static void translate(std::string text) { define_translation(text.data()); }
    static void format(std::string text) { define_format_list(text.data()); }
    // v1 = "$v2$", ..., v(n-1) = "$vn$", vn = "end"
    static void chain(const std::string& prefix, int n) {
        for (int i = 1; i < n; ++i)
            set_variable(prefix + std::to_string(i), "$" + prefix + std::to_string(i + 1) + "$");
        set_variable(prefix + std::to_string(n), "end");
    }
};

TEST_F(SubstituteTest, ReferenceSyntax) {
    set("x", "X");
    set("first name", "Ann");
    set("a", "A");
    struct Case {
        const char* text;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"plain text", "plain text"},
        {"$x$", "X"},
        {"<$X$>", "<X>"},                         // names ignore letter case
        {"Price: \\$5", "Price: $5"},             // escaped dollar
        {"\\$x$", "$x$"},                         // an escaped dollar starts no reference
        {"a\\$x$ $x$", "a$x$ X"},
        {"costs $5", "costs $5"},                 // a digit after "$"
        {"$ x$", "$ x$"},                         // a blank after "$"
        {"$$x$", "$X"},                           // first "$" is text
        {"$first name$", "Ann"},                  // blanks belong to the name
        {"$a-b$", "$a-b$"},                       // "-" ends the name run: text
        {"$x", "$x"},                             // no closing dollar
        {"$x$$x$", "XX"},
        {"$x$x$", "Xx$"},
        {"50$ and $x$", "50$ and X"},
        {"$a $b$", "$a $b$"},                     // the name 'a ' is undefined
    };
    for (const Case& c : cases) EXPECT_EQ(subst(c.text, kOptionsTemplate), c.expected) << c.text;
}

TEST_F(SubstituteTest, UndefinedNamesByOption) {
    EXPECT_EQ(subst("[$nobody$]", kOptionsPlain), "[$nobody$]");
    EXPECT_EQ(subst("[$nobody$]", kOptionsTemplate), "[$nobody$]");
    EXPECT_EQ(subst("[$nobody$]", kOptionsLoopBody), "[$nobody$]");
    EXPECT_EQ(subst("[$nobody$]", kOptionsFileName), "[]");
    EXPECT_EQ(subst("[$nobody$]", kOptionsSql), "[]");
    EXPECT_EQ(subst("$a $b$", kOptionsFileName), "b$");
    // A function reference with an empty argument text is undefined too.
    EXPECT_EQ(subst("[$left()]", kOptionsPlain), "[$left($]");
    EXPECT_EQ(subst("[$left()]", kOptionsFileName), "[]");
}

TEST_F(SubstituteTest, MissingRightParenInsideText) {
    EXPECT_EQ(subst("x $left(\"abc\", 1 y", kOptionsPlain),
              "x $String function missing right paren ')'$");
    EXPECT_EQ(subst("x $left(\"abc\", 1 y", kOptionsFileName), "x ");
}

TEST_F(SubstituteTest, EmptyValueByOption) {
    set("e", "");
    EXPECT_EQ(subst("a$e$b", kOptionsPlain), "a b");
    EXPECT_EQ(subst("a$e$b", kOptionsTemplate), "a b");
    EXPECT_EQ(subst("a$e$b", kOptionsFileName), "a b");
    EXPECT_EQ(subst("a$e$b", kOptionsLoopBody), "a&nbsp;b");
    EXPECT_EQ(subst("a$e$b", kOptionsSql), "ab");
    EXPECT_EQ(subst("a$e$b", kSubstEmptyNothing | kSubstEmptyNbsp), "ab");  // 16 wins over 2
}

TEST_F(SubstituteTest, FormatOnlyUnderItsOption) {
    set("p", "5");
    format("p=0.00");
    EXPECT_EQ(subst("$p$", kOptionsTemplate), "5.00");
    EXPECT_EQ(subst("$p$", kOptionsLoopBody), "5.00");
    EXPECT_EQ(subst("$p$", kOptionsPlain), "5");
    EXPECT_EQ(subst("$p$", kOptionsFileName), "5");
    EXPECT_EQ(subst("$p$", kOptionsSql), "5");
}

TEST_F(SubstituteTest, FormatOfAnEmptyValue) {
    set("e", "");
    format("e=0.00");
    // Without an empty-value option the mark is a numeric value.
    EXPECT_EQ(subst("[$e$]", kOptionsTemplate), "[0.00]");
    // "&nbsp;" and the empty text that replace it are final.
    EXPECT_EQ(subst("[$e$]", kOptionsLoopBody), "[&nbsp;]");
    EXPECT_EQ(subst("[$e$]", kSubstFormat | kSubstEmptyNothing), "[]");
    format("e=##-##");
    EXPECT_EQ(subst("[$e$]", kOptionsLoopBody), "[&nbsp;]");
}

TEST_F(SubstituteTest, TranslateUnderEveryOption) {
    set("status", "1");
    translate("status 1=Closed, 2=\"\"");
    EXPECT_EQ(subst("WHERE status=$status$", kOptionsSql), "WHERE status=Closed");
    EXPECT_EQ(subst("$status$", kOptionsPlain), "Closed");
    EXPECT_EQ(subst("$status$", kOptionsFileName), "Closed");
    EXPECT_EQ(subst("$STATUS$", kOptionsTemplate), "Closed");
    set("status", "2");  // mapped to the empty text: the mark
    EXPECT_EQ(subst("[$status$]", kOptionsTemplate), "[ ]");
    EXPECT_EQ(subst("[$status$]", kOptionsLoopBody), "[&nbsp;]");
    EXPECT_EQ(subst("[$status$]", kOptionsSql), "[]");
    set("status", "3");
    EXPECT_EQ(subst("$status$", kOptionsTemplate), "3");
}

TEST_F(SubstituteTest, TranslateThenFormat) {
    set("code", "a");
    translate("code a=1234.5");
    format("code=\"#,##0.00\"");
    EXPECT_EQ(subst("$code$", kOptionsTemplate), "1,234.50");
    EXPECT_EQ(subst("$code$", kOptionsPlain), "1234.5");
}

TEST_F(SubstituteTest, ValuesHoldingReferencesUseThePlaceOfUse) {
    set("greeting", "Hello $user$");
    EXPECT_EQ(subst("$greeting$!", kOptionsTemplate), "Hello $user$!");
    EXPECT_EQ(subst("$greeting$!", kOptionsFileName), "Hello !");
    set("user", "Ann");
    EXPECT_EQ(subst("$greeting$!", kOptionsTemplate), "Hello Ann!");
    set("user", "");
    EXPECT_EQ(subst("$greeting$!", kOptionsTemplate), "Hello  !");
    EXPECT_EQ(subst("$greeting$!", kOptionsLoopBody), "Hello &nbsp;!");
    EXPECT_EQ(subst("$greeting$!", kOptionsSql), "Hello !");
}

TEST_F(SubstituteTest, NoFormatOnAValueHoldingReferences) {
    set("n", "5");
    set("g", "$n$");
    format("g=0.00");
    EXPECT_EQ(subst("$g$", kOptionsTemplate), "5");
    format("n=0.00");
    EXPECT_EQ(subst("$g$", kOptionsTemplate), "5.00");  // the nested reference has its own
    EXPECT_EQ(subst("$g$", kOptionsPlain), "5");
}

TEST_F(SubstituteTest, TranslatedValueHoldingAReferenceIsExpanded) {
    set("s", "1");
    set("label", "Done");
    translate("s 1=\"[$label$]\"");
    EXPECT_EQ(subst("$s$", kOptionsTemplate), "[Done]");
}

TEST_F(SubstituteTest, SelfReferenceShownLiterally) {
    set("loop", "x $loop$");
    EXPECT_EQ(subst("$loop$", kOptionsTemplate), "x $loop$");
    EXPECT_EQ(subst("$loop$", kOptionsFileName), "x $loop$");
    format("loop=##");
    EXPECT_EQ(subst("$loop$", kOptionsTemplate), "x $loop$");  // no FORMAT either
    // The comparison is exact: $A$ does not find "a" in the value, so one
    // level is expanded before the self-reference stops it.
    set("a", "<$a$>");
    EXPECT_EQ(subst("$a$", kOptionsTemplate), "<$a$>");
    EXPECT_EQ(subst("$A$", kOptionsTemplate), "<<$a$>>");
}

TEST_F(SubstituteTest, SelfReferenceTestLooksAtTheFirstOccurrenceOnly) {
    // The first "a" in the value is inside "$ab$", not delimited by dollars
    // on both sides, so the value is expanded and recurses. Level k of "a"
    // runs at depth k and its two references at depth k + 1: at level 16
    // both go past the limit, each is reported and gives nothing.
    set("a", "[$ab$|$a$]");
    ::testing::internal::CaptureStdout();
    std::string result = subst("$a$", kOptionsTemplate);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Vexil Error: Too many nested variables\n\n"
              "Vexil Error: Too many nested variables\n\n");
    std::string expected;
    for (int i = 0; i < 15; ++i) expected += "[$ab$|";
    expected += "[|]" + std::string(15, ']');
    EXPECT_EQ(result, expected);
}

TEST_F(SubstituteTest, SixteenNestedLevelsAreAllowed) {
    chain("v", 16);
    ::testing::internal::CaptureStdout();
    std::string result = subst("[$v1$]", kOptionsTemplate);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(result, "[end]");
}

TEST_F(SubstituteTest, SeventeenthLevelIsReported) {
    chain("w", 17);
    ::testing::internal::CaptureStdout();
    std::string result = subst("[$w1$]", kOptionsTemplate);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Vexil Error: Too many nested variables\n\n");
    EXPECT_EQ(result, "[]");
    // The depth is back to 0: the 16-level chain from w2 works.
    ::testing::internal::CaptureStdout();
    result = subst("[$w2$]", kOptionsTemplate);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(result, "[end]");
}

TEST_F(SubstituteTest, CycleReportedOnceAndDepthRestored) {
    set("a", "$b$");
    set("b", "$a$");
    chain("v", 16);
    ::testing::internal::CaptureStdout();
    std::string first = subst("x $a$ y", kOptionsTemplate);
    std::string second = subst("[$v1$]", kOptionsTemplate);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Vexil Error: Too many nested variables\n\n");
    EXPECT_EQ(first, "x  y");
    EXPECT_EQ(second, "[end]");
}

TEST_F(SubstituteTest, SqlQuotesDoubledAfterAQuote) {
    set("x", "O'Brien");
    EXPECT_EQ(subst("WHERE n='$x$'", kOptionsSql), "WHERE n='O''Brien'");
    EXPECT_EQ(subst("WHERE n=' $x$'", kOptionsSql), "WHERE n=' O'Brien'");
    EXPECT_EQ(subst("WHERE n=\"$x$\"", kOptionsSql), "WHERE n=\"O'Brien\"");
    EXPECT_EQ(subst("$x$", kOptionsSql), "O'Brien");            // output still empty
    EXPECT_EQ(subst("'$x$'", kOptionsSql), "'O''Brien'");
    EXPECT_EQ(subst("n='$x$'", kOptionsFileName), "n='O'Brien'");  // bit 1 not set
    set("q", "''");
    EXPECT_EQ(subst("'$q$'", kOptionsSql), "''''''");
}

TEST_F(SubstituteTest, SqlQuotesWithNestedValues) {
    set("y", "O'B");
    // Inside the value, the nested reference follows a quote of its own output.
    set("x", "'$y$'");
    EXPECT_EQ(subst("$x$", kOptionsSql), "'O''B'");
    // The expanded value is built in the destination, then doubled there.
    set("z", "$y$'s");
    EXPECT_EQ(subst("n='$z$'", kOptionsSql), "n='O''B''s'");
}

TEST_F(SubstituteTest, ReferenceTextCutTo256Characters) {
    const std::string name256(256, 'n');
    const std::string name300 = name256 + std::string(44, 'm');
    set_variable(name256, "hit");
    EXPECT_EQ(subst("[$" + name300 + "$]", kOptionsPlain), "[hit]");
    EXPECT_EQ(subst("[$" + name256 + "$]", kOptionsPlain), "[hit]");

    const std::string other300(300, 'q');
    EXPECT_EQ(subst("[$" + other300 + "$]", kOptionsPlain), "[$" + std::string(256, 'q') + "$]");
}

TEST_F(SubstituteTest, CutAtTheDestinationSize) {
    set("long", std::string(100, 'L').c_str());
    EXPECT_EQ(subst("ab$long$cd", kOptionsTemplate, 16), "ab" + std::string(13, 'L'));
    EXPECT_EQ(subst("$nobody$ tail", kOptionsPlain, 5), "$nob");
    EXPECT_EQ(subst("0123456789", kOptionsPlain, 4), "012");
    EXPECT_EQ(subst("x$long$", kOptionsPlain, 1), "");
}

TEST_F(SubstituteTest, QuoteDoublingCutAtTheDestinationSize) {
    set("x", "O'Brien");
    // Full result: n='O''Brien'
    EXPECT_EQ(subst("n='$x$'", kOptionsSql, 8), "n='O''B");
    EXPECT_EQ(subst("n='$x$'", kOptionsSql, 6), "n='O'");
    EXPECT_EQ(subst("n='$x$'", kOptionsSql, 4), "n='");
    set_variable("z", "$x$" + std::string(22, '\''));
    std::string full = subst("'$z$'", kOptionsSql);
    EXPECT_EQ(full, "'O''Brien" + std::string(44, '\'') + "'");
    for (std::size_t size = 1; size < full.size(); ++size) {
        std::string cut = subst("'$z$'", kOptionsSql, size);
        EXPECT_EQ(cut, full.substr(0, size - 1)) << "size " << size;
    }
}

TEST_F(SubstituteTest, ChainPastEveryBufferIsCut) {
    // Each level multiplies the length by 8: "a" stands for 8*8*8*64 = 32768
    // characters, more than any buffer of the program.
    set("d", std::string(64, 'x').c_str());
    set("c", "$d$$d$$d$$d$$d$$d$$d$$d$");
    set("b", "$c$$c$$c$$c$$c$$c$$c$$c$");
    set("a", "$b$$b$$b$$b$$b$$b$$b$$b$");
    EXPECT_EQ(subst("[$a$]", kOptionsTemplate, 40000), "[" + std::string(32768, 'x') + "]");
    for (std::size_t size : {2u, 100u, 129u, 257u, 8192u, 16384u}) {
        std::string cut = subst("[$a$]", kOptionsTemplate, size);
        EXPECT_EQ(cut, "[" + std::string(size - 2, 'x')) << "size " << size;
    }
}

TEST_F(SubstituteTest, ExpandReferenceIntoAWorkArea) {
    set("g", "Hi $u$");
    set("u", "Bo");
    char reference[] = "g";
    char work[16];
    const char* result = expand_reference(reference, kOptionsTemplate, WorkArea{work, sizeof work});
    EXPECT_STREQ(result, "Hi Bo");
    char undefined[] = "zz";
    EXPECT_STREQ(expand_reference(undefined, kOptionsPlain, WorkArea{work, sizeof work}), "$zz$");
    EXPECT_STREQ(expand_reference(undefined, kOptionsFileName, WorkArea{work, sizeof work}), "");
    char tiny[4];
    EXPECT_STREQ(expand_reference(undefined, kOptionsPlain, WorkArea{tiny, sizeof tiny}), "$zz");
}

}  // namespace
}  // namespace vexil
