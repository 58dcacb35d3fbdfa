// Pure pieces of the template layer: the temporary name of an output file
// and the IF stack past its last level.
#include <string>
#include <tuple>
#include <vector>

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


// The lines a template file gives, read one character at a time: at most
// limit - 1 characters a line, a carriage return before a line feed taken
// as part of the line end, any other carriage return kept.
std::vector<std::string> lines_by_character(const std::string& bytes, std::size_t limit) {
    std::vector<std::string> lines;
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::string line;
        while (line.size() < limit - 1 && i < bytes.size()) {
            char c = bytes[i++];
            if (c == '\r' && i < bytes.size() && bytes[i] == '\n') c = bytes[i++];
            line += c;
            if (c == '\n') break;
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(ReadNextLine, LinesAcrossBlocksAsReadByCharacter) {
    // Line ends and carriage returns on both sides of each block boundary,
    // a line longer than the limit, a lone carriage return at the end.
    std::string bytes;
    for (std::size_t boundary = kReadBlockSize; boundary <= 3 * kReadBlockSize; boundary += kReadBlockSize) {
        bytes += std::string(boundary - 1 - bytes.size() - 3, 'a') + "x\ry\r\nb\r\r";
        bytes += "c\n\r\n";
    }
    bytes += std::string(5000, 'z') + "\r\n\rend\r";
    for (std::size_t limit : {std::size_t(2047), std::size_t(2048), std::size_t(300)}) {
        std::FILE* file = fmemopen(bytes.data(), bytes.size(), "r");
        ASSERT_NE(file, nullptr);
        TemplateSource source;
        source.file = file;
        std::vector<std::string> lines;
        while (read_next_line(source, limit)) lines.emplace_back(source.text);
        std::fclose(file);
        EXPECT_EQ(lines, lines_by_character(bytes, limit)) << limit;
        EXPECT_EQ(source.location.line, int(lines.size()));
    }
}

}  // namespace
}  // namespace vexil
