// Pure pieces of the template layer: the temporary name of an output file,
// the IF stack (opening, switching and closing levels, levels past the
// 63rd), and the reading of a command's argument text.
#include <cstdio>
#include <string>

#include "support.hpp"

namespace vexil {
namespace {

using test::captured;
using test::reported;

TEST(TemporaryName, UpToTheLastDotPlusTmp) {
    const std::string fits(kNameSize - 1 - 4, 'n');  // ".tmp" makes it full
    struct { std::string name; std::string temp; bool ok; } rows[] = {
        {"out.html", "out.tmp", true},
        {"a.b.c", "a.b.tmp", true},
        {"noext", "noext.tmp", true},
        {"dir.d/page", "dir.tmp", true},  // the last dot, even in a directory name
        {".html", ".tmp", true},
        {"", ".tmp", true},
        {fits, fits + ".tmp", true},
        {fits + "x", (fits + "x.tmp").substr(0, kNameSize - 1), false},
        {fits + "x.html", (fits + "x.tmp").substr(0, kNameSize - 1), false},
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
    // One step: 'T'/'F' opens a level whose test holds / fails, 't'/'f' the
    // same as an else-if level, 'S' is ELSE, 'C' is ENDIF; then the depth,
    // whether text is written and the levels counted past the 63rd.
    struct Step { char op; int depth; bool enabled; int overflow; };
    static void apply(char op) {
        char none[] = "";
        if (op == 'S') switch_if_level();
        if (op == 'C') close_if_level();
        if (op == 'T' || op == 't') open_if_level(op == 't', yes, none);
        if (op == 'F' || op == 'f') open_if_level(op == 'f', no, none);
    }
    static void run(std::initializer_list<Step> steps, int first = 0) {
        int n = first;
        for (const Step& s : steps) {
            captured([&] { apply(s.op); });
            EXPECT_EQ(if_state().depth, s.depth) << "step " << n << " " << s.op;
            EXPECT_EQ(level_enabled(), s.enabled) << "step " << n << " " << s.op;
            EXPECT_EQ(if_overflow(), s.overflow) << "step " << n << " " << s.op;
            ++n;
        }
    }
};

TEST_F(IfStack, OpenSwitchClose) {
    run({
        {'F', 1, false, 0}, {'T', 2, false, 0},  // below a false level nothing is written
        {'S', 2, false, 0},                      // ELSE under a false level stays off
        {'C', 1, false, 0}, {'S', 1, true, 0},
        {'f', 2, false, 0}, {'S', 2, true, 0},   // ELSE IF 0 ... ELSE
        {'t', 3, true, 0},
        {'C', 0, true, 0},                       // one ENDIF closes the chain
        {'C', 0, true, 0},                       // ENDIF without IF: nothing to close
        {'S', 0, true, 0},
    });
}

TEST_F(IfStack, LevelsPastTheLastArePairedWithTheirEndifs) {
    for (int i = 0; i < kIfLevels - 2; ++i) apply('T');
    run({{'F', 63, false, 0}});
    // 140 levels past the 63rd, every other one an else-if of the one before.
    for (int i = 0; i < 140; ++i) {
        EXPECT_EQ(captured([&] { apply(i % 2 ? 't' : 'T'); }), reported("Too many nested IF statements"));
    }
    EXPECT_EQ(if_overflow(), 140);
    run({{'S', 63, false, 140}});  // an ELSE past the last level switches nothing
    for (int i = 0; i < 69; ++i) apply('C');
    run({{'C', 63, false, 0}, {'S', 63, true, 0}, {'C', 62, true, 0}});

    // Levels left open at the end of a template: two past the last, three
    // stored ones above depth 60, one report each.
    captured([&] { apply('T'); apply('t'); apply('T'); });
    std::string five;
    for (int i = 0; i < 5; ++i) five += reported("Missing ENDIF");
    EXPECT_EQ(captured([&] { close_levels_above(60, 0); }), five);
    run({{'T', 61, true, 0}});
    close_all_if_levels();
    EXPECT_EQ(if_state().depth, 0);
}

// A command whose text starts on `first` (as read into the line buffer)
// and goes on with `more` (the rest of the template file).
struct Read {
    std::string text;   // the argument text
    bool found;         // "-->" was found
    std::string rest;   // where the scan goes on
    int line;           // lines read
    std::string report;
};

Read read_command(const std::string& first, const std::string& more, std::size_t size = 64) {
    TemplateSource source;
    std::string rest = more;
    source.file = rest.empty() ? nullptr : fmemopen(rest.data(), rest.size(), "r");
    copy_bounded(source.line_buffer.data(), source.line_buffer.size(), first);
    source.text = source.position = source.line_buffer.data();
    source.location.line = 1;
    std::string buffer(size, '\x7f');
    Read r;
    r.report = captured([&] { r.found = read_command_text(source, source.text, buffer.data(), size); });
    if (source.file != nullptr) std::fclose(source.file);
    r.text = buffer.c_str();
    r.rest = source.position;
    r.line = source.location.line;
    return r;
}

using ReadCommandText = test::Fresh;

TEST_F(ReadCommandText, ArgumentTextUpToTheArrow) {
    struct { const char* first; const char* more; std::size_t size; Read expected; } rows[] = {
        {"IF  a = 1  -->rest\n", "", 64, {"a = 1", true, "rest\n", 1, ""}},
        {"SET a=1,\tb=2\t-->x", "", 64, {"a=1, b=2", true, "x", 1, ""}},
        {"ENDIF-->x", "", 64, {"", true, "x", 1, ""}},
        {"SQL SELECT a\n", "FROM t -->after\nnext\n", 64, {"SELECT a FROM t", true, "after\n", 2, ""}},
        {"SET abcdefghij-->z", "", 8, {"abcdefg", true, "z", 1, ""}},  // cut to the buffer
        // no "-->": the text up to the end, its line end as a blank
        {"EXEC echo\n", "", 64, {"echo ", false, "", 1, reported("Missing --> to mark end of command")}},
    };
    for (const auto& r : rows) {
        Read got = read_command(r.first, r.more, r.size);
        EXPECT_EQ(got.text, r.expected.text) << r.first;
        EXPECT_EQ(got.found, r.expected.found) << r.first;
        EXPECT_EQ(got.rest, r.expected.rest) << r.first;
        EXPECT_EQ(got.line, r.expected.line) << r.first;
        EXPECT_EQ(got.report, r.expected.report) << r.first;
    }
}

}  // namespace
}  // namespace vexil
