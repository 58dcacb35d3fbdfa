// Template scanner and command dispatch.
//
// process_template is the interpreter's only loop. It walks the current text
// (a line of a file, or an in-memory template) with a scan position and a
// mark: text between the mark and the scan position has been scanned but not
// written yet. At a reference or a command the pending text is written first;
// a command's own text is never written.
#include "template/scanner.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include "base/scratch.hpp"
#include "expr/skip_operand.hpp"
#include "template/commands.hpp"
#include "template/conditions.hpp"
#include "expr/substitute.hpp"

namespace vexil {

namespace {

// Read limits: the main loop reads at most 2046 characters a line, the
// command readers at most 2047.
constexpr std::size_t kScanReadLimit = 2047;
constexpr std::size_t kReaderReadLimit = 2048;

bool is_name_char(char c) { return is_ascii_letter(c) || is_ascii_digit(c) || c == '_' || c == ' '; }

char* end_of_text(char* p) { return p + std::strlen(p); }

// Everything a command handler needs to know about the scan.
struct Dispatch {
    const char* text;        // keyword as compared
    std::size_t length;      // characters compared (a trailing blank included)
    unsigned permission;     // 0: always allowed
    CommandHandler handler;
};

// The keywords in the order they are compared. A prefix comparison: "IF"
// matches every word that begins with IF; keywords with a blank need it.
const Dispatch kDispatchTable[] = {
    {"IF", 2, 0, handle_if},
    {"ELSE", 4, 0, handle_else},
    {"ENDIF", 5, 0, handle_endif},
    {"SET ", 4, kCmdSet, handle_set},
    {"DATABASE ", 9, kCmdDatabase, handle_database},
    {"SQL ", 4, kCmdSql, handle_sql},
    {"QBE ", 4, kCmdQbe, handle_qbe},
    {"EACHROW", 7, kCmdEachrow, handle_eachrow},
    {"TABLE", 5, kCmdTable, handle_table},
    {"UPDATEFORM ", 11, kCmdUpdateform, handle_updateform},
    {"DEFAULT ", 8, kCmdDefault, handle_default},
    {"TRANSLATE ", 10, kCmdTranslate, handle_translate},
    {"FORMAT ", 7, kCmdFormat, handle_format},
    {"EXEC ", 5, kCmdExec, handle_exec},
    {"INCLUDE ", 8, kCmdInclude, handle_include},
    {"REDIRECT ", 9, kCmdRedirect, handle_redirect},
    {"OPTIONLIST ", 11, kCmdOptionlist, handle_optionlist},
    {"OUTPUT", 6, kCmdOutput, handle_output},
    {"EXIT", 4, kCmdExit, handle_exit},
};

// Finds the end of a function reference's argument list: the ")" that closes
// it, or nullptr when the text ends first. `open` points at the "(".
char* find_closing_paren(char* open) {
    char* p = open;
    for (;;) {
        ++p;  // past the "(" or the "," that ended the previous argument
        skip_operand(p);
        if (*p == ')') return p;
        if (*p == '\0') return nullptr;
    }
}

// Expands the reference text that starts at `reference` (NUL-terminated by
// the caller) with the scratch area as work area, and writes the result.
void write_reference(char* reference, int options, OutputChannel& output) {
    const char* value = expand_reference(reference, options & ~kSubstHtmlEscape, scratch_work_area());
    if ((options & kSubstHtmlEscape) == 0) {
        write_text(value, output);
        return;
    }
    std::string escaped;
    append_html_escaped(escaped, value);
    write_text(escaped, output);
}

}  // namespace

FileHandle open_template_file(const char* name) {
    FileHandle file(std::fopen(name, "r"));
    if (!file) error_text().format("Error opening the input file: %s %s\n", std::strerror(errno), name);
    return file;
}

bool read_next_line(TemplateSource& source, std::size_t limit) {
    if (source.file == nullptr) return false;
    char* buffer = source.line_buffer.data();
    std::size_t max = limit - 1 < kLineBufferSize - 1 ? limit - 1 : kLineBufferSize - 1;
    std::size_t n = 0;
    while (n < max) {
        int c = std::getc(source.file);
        if (c == EOF) break;
        if (c == '\r') {
            // A carriage return before a line feed is part of the line end.
            int next = std::getc(source.file);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                std::ungetc(next, source.file);
            }
        }
        buffer[n++] = char(c);
        if (c == '\n') break;
    }
    if (n == 0) return false;  // end of file: the current text stays as it is
    buffer[n] = '\0';
    ++source.location.line;
    source.text = buffer;
    source.position = buffer;
    return true;
}

bool read_command_text(TemplateSource& source, char* keyword, char* buffer, std::size_t size) {
    std::size_t length = 0;
    auto append = [&](const char* from, std::size_t n) {
        std::size_t room = size - 1 - length;
        if (n > room) n = room;
        std::memcpy(buffer + length, from, n);
        length += n;
    };
    buffer[0] = '\0';

    char* p = keyword;
    while (is_ascii_letter(*p) || is_ascii_digit(*p)) ++p;
    while (*p == ' ' || *p == '\t') ++p;

    bool found = true;
    char* close = std::strstr(p, "-->");
    while (close == nullptr) {
        char* end = end_of_text(p);
        append(p, std::size_t(end - p));
        if (read_next_line(source, kReaderReadLimit)) {
            p = source.position;
            close = std::strstr(p, "-->");
            continue;
        }
        report_error("Missing --> to mark end of command");
        // The text read so far is the whole argument text; nothing is left
        // to append.
        found = false;
        p = end;
        close = end;
    }
    source.position = found ? close + 3 : close;

    char* last = close;
    while (last > p && (last[-1] == ' ' || last[-1] == '\t')) --last;
    append(p, std::size_t(last - p));
    buffer[length] = '\0';
    for (std::size_t i = 0; i < length; ++i) {
        if (buffer[i] == '\n' || buffer[i] == '\t') buffer[i] = ' ';
    }
    return found;
}

RunStatus process_template(TemplateSource& source, OutputChannel& output,
                           CommandPermissions permissions, int options) {
    const SourceLocation* saved_location = report_location(&source.location);
    int saved_depth = if_state().depth;
    int saved_overflow = if_overflow();

    char* p = source.position;
    char* mark = p;
    RunStatus status = kRunGoesOn;

    while (status == kRunGoesOn) {
        char c = *p;
        if (c == '\0') {
            if (level_enabled()) write_range(mark, p, output);
            if (read_next_line(source, kScanReadLimit)) {
                p = mark = source.position;
            } else {
                status = kRunEnd;
            }
            continue;
        }

        if (c == '$') {
            if (!level_enabled()) {
                ++p;
                continue;
            }
            if (p > mark && p[-1] == '\\') {
                // An escaped dollar: drop the backslash, keep the dollar as text.
                write_range(mark, p - 1, output);
                mark = p;
                ++p;
                continue;
            }
            if (!is_ascii_letter(p[1])) {
                ++p;
                continue;
            }
            char* q = p + 1;
            while (is_name_char(*q)) ++q;
            if (*q != '$' && *q != '(') {
                ++p;
                continue;
            }
            write_range(mark, p, output);
            if (*q == '$') {
                *q = '\0';
                write_reference(p + 1, options, output);
                *q = '$';
                p = mark = q + 1;
                continue;
            }
            char* close = find_closing_paren(q);
            if (close == nullptr) {
                report_error("String function missing right paren ')'");
                write_reference(p + 1, options, output);
                p = mark = end_of_text(q);
                continue;
            }
            *close = '\0';
            write_reference(p + 1, options, output);
            *close = ')';
            p = mark = close + 1;
            continue;
        }

        if (c != '<') {
            ++p;
            continue;
        }
        if (!(p[1] == '!' && p[2] == '-' && p[3] == '-' && is_ascii_letter(p[4]))) {
            ++p;
            continue;
        }

        bool enabled = level_enabled();
        if (enabled) {
            write_range(mark, p, output);
            mark = p;
        }
        char* keyword = p + 4;
        for (char* k = keyword; is_ascii_letter(*k); ++k) *k = ascii_upper(*k);

        const Dispatch* match = nullptr;
        for (const Dispatch& entry : kDispatchTable) {
            if (std::strncmp(keyword, entry.text, entry.length) == 0) {
                match = &entry;
                break;
            }
        }

        if (match == nullptr || match->permission != 0) {
            if (!enabled) {
                // Nothing is written or run at a disabled level: skip the
                // comment when it ends on this line.
                char* close = std::strstr(keyword, "-->");
                p = mark = close ? close + 3 : keyword;
                continue;
            }
            if (match == nullptr || !permissions.allows(Command(match->permission))) {
                // Not a command here: the comment is ordinary text.
                p = keyword;
                continue;
            }
        }

        source.position = keyword;
        ScanContext context{source, output, permissions, options, keyword};
        status = match->handler(context);
        p = mark = source.position;
    }

    if (status == kRunEnd) close_levels_above(saved_depth, saved_overflow);
    report_location(saved_location);
    return status;
}

RunStatus run_template_text(char* text, OutputChannel& output, CommandPermissions permissions,
                            int options) {
    TemplateSource source;
    source.text = source.position = text;
    if (const SourceLocation* current = output_state().location; current != nullptr) {
        source.location = *current;
    } else {
        source.location.name.assign("(none)");
        source.location.line = 1;
    }
    return process_template(source, output, permissions, options);
}

RunStatus run_template_file(const char* name, OutputChannel& output) {
    TemplateSource source;
    source.line_buffer[0] = '\0';
    source.text = source.position = source.line_buffer.data();

    // The name is expanded into a buffer one byte larger than the name
    // field, so a name that does not fit can be told from one that just fits.
    std::array<char, kNameSize + 1> expanded{};
    {
        std::array<char, 8192> work{};
        copy_bounded(work.data(), work.size(), name);
        substitute_variables(work.data(), expanded.data(), expanded.size(), kOptionsFileName);
    }
    source.location.name.assign(expanded.data());

    TextBuffer<512>& error = error_text();
    if (std::strlen(expanded.data()) > TextBuffer<kNameSize>::kCapacity) {
        error.format("Error opening the input file: %s %s\n", std::strerror(ENAMETOOLONG),
                     source.location.name.c_str());
        report_error(error.view());
        return kRunEnd;
    }
    int& open_files = scanner_state().open_files;
    if (open_files >= kMaxIncludeDepth) {
        report_error("Too many nested INCLUDE files");
        return kRunEnd;
    }
    FileHandle file = open_template_file(source.location.name.c_str());
    if (!file) {
        report_error(error.view());
        return kRunEnd;
    }
    source.file = file.get();
    ++open_files;
    RunStatus status = process_template(source, output, kAllCommands, kOptionsTemplate);
    --open_files;
    return status;
}

}  // namespace vexil
