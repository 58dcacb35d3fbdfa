// Pure pieces of the template layer: the temporary name of an output file
// and the IF stack past its last level.
#include <string>
#include <tuple>

#include "support.hpp"

namespace vexil {
namespace {

using test::captured;
using test::reported;

TEST(TemporaryName, UpToTheLastDotPlusTmp) {
    const std::string fits(kNameSize - 1 - 4, 'n');  // ".tmp" makes it full
    const std::string cut = (fits + "x.tmp").substr(0, kNameSize - 1);
    struct { std::string name, temp; bool ok; } rows[] = {
        {"a.b.c", "a.b.tmp", true}, {"noext", "noext.tmp", true}, {"dir.d/page", "dir.tmp", true},  // even in a folder
        {".html", ".tmp", true}, {"", ".tmp", true},
        {fits, fits + ".tmp", true}, {fits + "x", cut, false}, {fits + "x.html", cut, false},
    };
    for (const auto& r : rows) {
        TextBuffer<kNameSize> temp;
        EXPECT_EQ(temporary_name(r.name.c_str(), temp), r.ok) << r.name;
        EXPECT_EQ(temp.view(), r.temp) << r.name;
    }
}

class IfStack : public test::Fresh {
protected:
    static bool yes(char*) { return true; }
    static bool no(char*) { return false; }
    // 'T'/'F' opens a level whose test holds / fails, 't'/'f' the same as an
    // else-if level, 'S' is ELSE, 'C' is ENDIF.
    static void apply(char op) {
        char none[] = "";
        if (op == 'S') switch_if_level();
        if (op == 'C') close_if_level();
        if (op == 'T' || op == 't') open_if_level(op == 't', yes, none);
        if (op == 'F' || op == 'f') open_if_level(op == 'f', no, none);
    }
    // Each step: the op, then the depth, whether text is written and the levels past the 63rd.
    static void run(std::initializer_list<std::tuple<char, int, bool, int>> steps) {
        for (const auto& [op, depth, enabled, overflow] : steps) {
            captured([op = op] { apply(op); });
            EXPECT_EQ(std::tuple(if_state().depth, level_enabled(), if_overflow()), std::tuple(depth, enabled, overflow))
                << op << " to depth " << depth;
        }
    }
};

TEST_F(IfStack, LevelsLeftOpenPastTheLastAreReportedEach) {
    for (int i = 0; i < kIfLevels - 2; ++i) apply('T');
    run({{'F', 63, false, 0}, {'S', 63, true, 0}, {'T', 63, true, 1}, {'S', 63, true, 1}, {'t', 63, true, 2}});
    std::string five;  // two past the last, three stored above depth 60
    for (int i = 0; i < 5; ++i) five += reported("Missing ENDIF");
    EXPECT_EQ(captured([&] { close_levels_above(60, 0); }), five);
    run({{'T', 61, true, 0}});
}


}  // namespace
}  // namespace vexil
