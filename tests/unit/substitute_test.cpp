// substitute_variables and expand_reference: what each option bit does,
// quote doubling, values that hold references, and results cut at the
// destination's size without writing past it.
#include "support.hpp"

namespace vexil {
namespace {

class Subst : public test::Fresh {
protected:
    static std::string subst(const std::string& text, int options, std::size_t size = 4096) {
        std::string source = text;
        test::Guarded dest(size);
        substitute_variables(source.data(), dest.data(), size, options);
        return dest.text();
    }
};

constexpr int T = kOptionsTemplate, L = kOptionsLoopBody, F = kOptionsFileName, S = kOptionsSql,
              P = kOptionsPlain;

TEST_F(Subst, ReferencesUnderEachOption) {
    for (auto [name, value] : std::initializer_list<std::pair<const char*, const char*>>{
             {"x", "X"}, {"e", ""}, {"ef", ""}, {"p", "5"}, {"st2", "2"}, {"code", "a"}, {"hi", "Hi $u$"},
             {"u", ""}, {"q", "O'Brien"}, {"qq", "''"}, {"y", "O'B"}, {"qn", "'$y$'"}, {"qz", "$y$'s"},
             {"s", "1"}, {"label", "Done"}})
        set_variable(name, value);
    set_variable("long", std::string(100, 'L'));
    for (std::string text : {"st2 2=\"\"", "code a=1234.5", "s 1=\"[$label$]\""}) define_translation(text.data());
    std::string formats = "p=0.00, ef=0.00, code=\"#,##0.00\"";
    define_format_list(formats.data());
    struct { const char* text; int options; const char* expected; std::size_t size = 4096; } rows[] = {
        {"$x$x$", T, "Xx$"},
        // undefined names: kept as written unless bit 8 drops them
        {"$a $b$", F, "b$"},
        {"[$left()]", F, "[]"},
        {"x $left(\"abc\", 1 y", P, "x $String function missing right paren ')'$"},
        {"x $left(\"abc\", 1 y", F, "x "},
        // empty values: "&nbsp;" with bit 2, nothing with bit 16 (which wins)
        {"a$e$b", L, "a&nbsp;b"}, {"a$e$b", S, "ab"}, {"a$e$b", kSubstEmptyNothing | kSubstEmptyNbsp, "ab"},
        // FORMAT only with bit 4, after TRANSLATE; "&nbsp;" and "" are final
        {"$p$", S, "5"}, {"[$ef$]", kSubstFormat | kSubstEmptyNothing, "[]"}, {"[$st2$]", L, "[&nbsp;]"},
        {"[$st2$]", S, "[]"}, {"$code$", T, "1,234.50"}, {"$code$", P, "1234.5"},
        {"$hi$!", S, "Hi !"}, {"$s$", T, "[Done]"},  // a label or value may hold references
        // bit 1 doubles quotes in a value right after "'", also inside nested values
        {"n='$q$'", S, "n='O''Brien'"}, {"n=' $q$'", S, "n=' O'Brien'"}, {"n=\"$q$\"", S, "n=\"O'Brien\""},
        {"$q$", S, "O'Brien"}, {"n='$q$'", F, "n='O'Brien'"}, {"'$qq$'", S, "''''''"}, {"$qn$", S, "'O''B'"},
        {"n='$qz$'", S, "n='O''B''s'"},
        // cut at the destination's size, never inside a doubled quote
        {"ab$long$cd", T, "abLLLLLLLLLLLLL", 16}, {"$nobody$ tail", P, "$nob", 5}, {"x$long$", P, "", 1},
        {"n='$q$'", S, "n='O''B", 8}, {"n='$q$'", S, "n='O'", 6}, {"n='$q$'", S, "n='", 4},
    };
    for (const auto& r : rows) EXPECT_EQ(subst(r.text, r.options, r.size), r.expected) << r.text << " / " << r.options;
}

TEST_F(Subst, SelfReferenceTestLooksAtTheFirstOccurrenceOnly) {
    // The first "a" in the value is inside "$ab$", so the value is expanded
    // and recurses; at level 16 the first reference passes the limit and is
    // reported, and the second gives nothing as well.
    set_variable("a", "[$ab$|$a$]");
    std::string result;
    EXPECT_EQ(test::captured([&] { result = subst("$a$", T); }), test::reported("Too many nested variables"));
    std::string expected;
    for (int i = 0; i < 15; ++i) expected += "[$ab$|";
    EXPECT_EQ(result, expected + "[|]" + std::string(15, ']'));
}

TEST_F(Subst, QuoteDoublingAndLongChainsAreCutAtEverySize) {
    set_variable("x", "O'Brien");
    set_variable("z", "$x$" + std::string(22, '\''));
    std::string full = subst("'$z$'", S);
    EXPECT_EQ(full, "'O''Brien" + std::string(44, '\'') + "'");
    for (std::size_t size = 1; size < full.size(); ++size)
        EXPECT_EQ(subst("'$z$'", S, size), full.substr(0, size - 1)) << size;
    // "a" stands for 8*8*8*64 = 32768 characters, more than any buffer.
    set_variable("d", std::string(64, 'x'));
    for (auto [name, part] : {std::pair{"c", "$d$"}, {"b", "$c$"}, {"a", "$b$"}}) {
        std::string value;
        for (int i = 0; i < 8; ++i) value += part;
        set_variable(name, value);
    }
    EXPECT_EQ(subst("[$a$]", T, 40000), "[" + std::string(32768, 'x') + "]");
    for (std::size_t size : {2u, 257u, 16384u})
        EXPECT_EQ(subst("[$a$]", T, size), "[" + std::string(size - 2, 'x')) << size;
}

TEST_F(Subst, ExpandReferenceIntoAWorkArea) {
    set_variable("g", "Hi $u$");
    set_variable("u", "Bo");
    char g[] = "g", zz[] = "zz", work[16], tiny[4];
    EXPECT_STREQ(expand_reference(g, T, WorkArea{work, sizeof work}), "Hi Bo");
    EXPECT_STREQ(expand_reference(zz, F, WorkArea{work, sizeof work}), "");
    EXPECT_STREQ(expand_reference(zz, P, WorkArea{tiny, sizeof tiny}), "$zz");
}

}  // namespace
}  // namespace vexil
