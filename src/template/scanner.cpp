// Template scanner and command dispatch: the interpreter's only loop.
//
// A TemplateScan walks the current text (a line of a file, or an in-memory
// template) with a scan position and a mark: text between the mark and the
// scan position has been scanned but not written yet. At a reference or a
// command the pending text is written first; a command's own text is never
// written. References are recognised by the reference scanner
// (expr/reference.hpp); commands by the dispatch table below, whose handlers
// live in commands.cpp. The command readers (read_command_text,
// read_next_line) are shared with those handlers.
#include "template/scanner.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "base/policy.hpp"
#include "base/scratch.hpp"
#include "expr/expr_state.hpp"
#include "expr/reference.hpp"
#include "template/commands.hpp"
#include "template/conditions.hpp"
#include "expr/substitute.hpp"

namespace vexil {

namespace {

// Read limits: the main loop reads at most 2046 characters a line, the
// command readers at most 2047.
constexpr std::size_t kScanReadLimit = 2047;
constexpr std::size_t kReaderReadLimit = 2048;

// What opens a command (directly followed by a letter) and what ends it.
constexpr std::string_view kCommandOpen = "<!--";
constexpr std::string_view kCommandClose = "-->";

char* find_command_close(char* text) { return std::strstr(text, kCommandClose.data()); }

char* end_of_text(char* p) { return p + std::strlen(p); }

// A command keyword, the commands permission it needs and its handler.
struct Dispatch {
    std::string_view keyword;  // compared as a prefix, a trailing blank included
    unsigned permission;       // 0: always allowed
    CommandHandler handler;
};

// The keywords in the order they are compared. A prefix comparison: "IF"
// matches every word that begins with IF; keywords with a blank need it.
const Dispatch kDispatchTable[] = {
    {"IF", 0, handle_if},
    {"ELSE", 0, handle_else},
    {"ENDIF", 0, handle_endif},
    {"SET ", kCmdSet, handle_set},
    {"DATABASE ", kCmdDatabase, handle_database},
    {"SQL ", kCmdSql, handle_sql},
    {"QBE ", kCmdQbe, handle_qbe},
    {"EACHROW", kCmdEachrow, handle_eachrow},
    {"TABLE", kCmdTable, handle_table},
    {"UPDATEFORM ", kCmdUpdateform, handle_updateform},
    {"DEFAULT ", kCmdDefault, handle_default},
    {"TRANSLATE ", kCmdTranslate, handle_translate},
    {"FORMAT ", kCmdFormat, handle_format},
    {"EXEC ", kCmdExec, handle_exec},
    {"INCLUDE ", kCmdInclude, handle_include},
    {"REDIRECT ", kCmdRedirect, handle_redirect},
    {"OPTIONLIST ", kCmdOptionlist, handle_optionlist},
    {"OUTPUT", kCmdOutput, handle_output},
    {"EXIT", kCmdExit, handle_exit},
};

// The table entry whose keyword the (upper-cased) text starts with, or nullptr.
const Dispatch* find_command(const char* keyword) {
    for (const Dispatch& entry : kDispatchTable) {
        if (starts_with_keyword(keyword, entry.keyword)) return &entry;
    }
    return nullptr;
}

// Expands the reference text that starts at `reference` (NUL-terminated by
// the caller) with the scratch area as work area, and writes the result.
// In a locked run a value from outside is escaped too, "$" included (raw()
// gives none): it is text, never markup, script or a reference.
void write_reference(char* reference, int options, OutputChannel& output) {
    PageValue value = expand_page_reference(reference, options & ~kSubstHtmlEscape, scratch_work_area());
    bool locked = is_locked_run();
    bool escape = (options & kSubstHtmlEscape) != 0 || value.outside;
    if (!escape) {
        write_text(value.text, output);
        return;
    }
    std::string escaped;
    if (locked && value.outside) {
        append_page_escaped(escaped, value.text);
    } else {
        append_html_escaped(escaped, value.text, locked);
    }
    write_text(escaped, output);
}

}  // namespace

FileHandle open_template_file(const char* name) {
    FileHandle file(std::fopen(name, "r"));
    if (!file) error_text().format("Error opening the input file: %s %s\n", std::strerror(errno), name);
    return file;
}

namespace {
// Refills the source's block from its file; false at the end of the file.
bool refill_block(TemplateSource& source) {
    if (!source.block) source.block = std::make_unique_for_overwrite<char[]>(kReadBlockSize);
    source.block_position = 0;
    source.block_end = std::fread(source.block.get(), 1, kReadBlockSize, source.file);
    return source.block_end > 0;
}
}  // namespace

bool read_next_line(TemplateSource& source, std::size_t limit) {
    if (source.file == nullptr) return false;
    char* buffer = source.line_buffer.data();
    std::size_t max = limit - 1 < kLineBufferSize - 1 ? limit - 1 : kLineBufferSize - 1;
    std::size_t n = 0;
    bool line_ended = false;
    while (n < max && !line_ended) {
        if (source.block_position == source.block_end && !refill_block(source)) break;
        const char* from = source.block.get() + source.block_position;
        std::size_t available = source.block_end - source.block_position;
        std::size_t take = available < max - n ? available : max - n;
        // Plain bytes up to the first line feed or carriage return.
        const char* stop = static_cast<const char*>(std::memchr(from, '\n', take));
        std::size_t plain = stop != nullptr ? std::size_t(stop - from) : take;
        if (const void* cr = std::memchr(from, '\r', plain); cr != nullptr) {
            stop = static_cast<const char*>(cr);
            plain = std::size_t(stop - from);
        }
        std::memcpy(buffer + n, from, plain);
        n += plain;
        source.block_position += plain;
        if (stop == nullptr) continue;
        ++source.block_position;
        if (*stop == '\n') {
            buffer[n++] = '\n';
            line_ended = true;
            continue;
        }
        // A carriage return before a line feed is part of the line end.
        if (source.block_position == source.block_end) refill_block(source);
        if (source.block_position < source.block_end && source.block[source.block_position] == '\n') {
            ++source.block_position;
            buffer[n++] = '\n';
            line_ended = true;
        } else {
            buffer[n++] = '\r';
        }
    }
    if (n == 0) return false;  // end of file: the current text stays as it is
    buffer[n] = '\0';
    ++source.location.line;
    source.text = buffer;
    source.position = buffer;
    return true;
}

bool read_command_text(TemplateSource& source, char* keyword, char* buffer, std::size_t size) {
    BoundedWriter text(buffer, size);

    char* p = keyword;
    while (is_ascii_letter(*p) || is_ascii_digit(*p)) ++p;
    while (*p == ' ' || *p == '\t') ++p;

    bool found = true;
    char* close = find_command_close(p);
    while (close == nullptr) {
        char* end = end_of_text(p);
        text.append(p, std::size_t(end - p));
        if (read_next_line(source, kReaderReadLimit)) {
            p = source.position;
            close = find_command_close(p);
            continue;
        }
        report_error("Missing --> to mark end of command");
        // The text read so far is the whole argument text; nothing is left
        // to append.
        found = false;
        p = end;
        close = end;
    }
    source.position = found ? close + kCommandClose.size() : close;

    char* last = close;
    while (last > p && (last[-1] == ' ' || last[-1] == '\t')) --last;
    text.append(p, std::size_t(last - p));
    for (std::size_t i = 0; i < text.length(); ++i) {
        if (buffer[i] == '\n' || buffer[i] == '\t') buffer[i] = ' ';
    }
    return found;
}

namespace {

// One scan of a template source: the loop of process_template, one step per
// kind of place the scan can stop at (end of text, "$", "<!--").
class TemplateScan {
public:
    TemplateScan(TemplateSource& source, OutputChannel& output, CommandPermissions permissions,
                 int options)
        : source_(source), output_(output), permissions_(permissions), options_(options),
          p_(source.position), mark_(p_) {}

    RunStatus run() {
        while (status_ == kRunGoesOn) {
            if (*p_ == '\0') {
                at_end_of_text();
            } else if (*p_ == '$') {
                at_dollar();
            } else if (*p_ == '<' && p_[1] == '!' && starts_with_keyword(p_, kCommandOpen) &&
                       is_ascii_letter(p_[kCommandOpen.size()])) {
                at_comment();
            } else {
                // Plain text: on to the next place the scan may stop at.
                ++p_;
                p_ += std::strcspn(p_, "$<");
            }
        }
        return status_;
    }

private:
    // Writes what is pending and reads the next line, or ends the run.
    void at_end_of_text() {
        if (level_enabled()) write_range(mark_, p_, output_);
        if (read_next_line(source_, kScanReadLimit)) {
            p_ = mark_ = source_.position;
        } else {
            status_ = kRunEnd;
        }
    }

    // An escaped dollar loses its backslash; a reference is written expanded.
    void at_dollar() {
        if (!level_enabled()) {
            ++p_;
            return;
        }
        if (is_escaped_dollar(mark_, p_)) {
            write_range(mark_, p_ - 1, output_);
            mark_ = p_++;
            return;
        }
        ReferenceScan found = scan_reference(p_);
        if (found.kind == ReferenceScan::kNone) {
            ++p_;
            return;
        }
        write_range(mark_, p_, output_);
        char* close = p_ + found.close;
        if (found.kind == ReferenceScan::kUnclosedFunction) {
            // The rest of the text is taken as the argument list.
            report_error("String function missing right paren ')'");
            write_reference(p_ + 1, options_, output_);
            p_ = mark_ = close;
            return;
        }
        char closing = *close;
        *close = '\0';
        write_reference(p_ + 1, options_, output_);
        *close = closing;
        p_ = mark_ = close + 1;
    }

    // "<!--" and a letter: a command when its keyword is known and permitted
    // here, otherwise ordinary text (or nothing, at a disabled level).
    void at_comment() {
        bool enabled = level_enabled();
        if (enabled) {
            write_range(mark_, p_, output_);
            mark_ = p_;
        }
        char* keyword = p_ + kCommandOpen.size();
        for (char* k = keyword; is_ascii_letter(*k); ++k) *k = ascii_upper(*k);
        const Dispatch* match = find_command(keyword);

        if (match == nullptr || match->permission != 0) {
            if (!enabled) {
                // Nothing is written or run at a disabled level: skip the
                // comment when it ends on this line.
                char* close = find_command_close(keyword);
                p_ = mark_ = close ? close + kCommandClose.size() : keyword;
                return;
            }
            if (match == nullptr || !permissions_.allows(Command(match->permission))) {
                p_ = keyword;  // not a command here: the comment is ordinary text
                return;
            }
        }
        source_.position = keyword;
        ScanContext context{source_, output_, permissions_, options_, keyword};
        status_ = match->handler(context);
        p_ = mark_ = source_.position;
    }

    TemplateSource& source_;
    OutputChannel& output_;
    CommandPermissions permissions_;
    int options_;
    char* p_;     // scan position
    char* mark_;  // start of the text scanned but not written yet
    RunStatus status_ = kRunGoesOn;
};

}  // namespace

RunStatus process_template(TemplateSource& source, OutputChannel& output,
                           CommandPermissions permissions, int options) {
    const SourceLocation* saved_location = report_location(&source.location);
    int saved_depth = if_state().depth;
    int saved_overflow = if_overflow();

    RunStatus status = TemplateScan(source, output, permissions, options).run();

    if (status == kRunEnd) close_levels_above(saved_depth, saved_overflow);
    report_location(saved_location);
    // The outermost template hands the collected text on before the caller
    // writes anything of its own.
    if (saved_location == nullptr) flush_output();
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

RunStatus run_resolved_template(const char* path, std::string_view shown, OutputChannel& output) {
    TemplateSource source;
    source.line_buffer[0] = '\0';
    source.text = source.position = source.line_buffer.data();
    source.location.name.assign(shown);
    int& open_files = scanner_state().open_files;
    if (open_files >= kMaxIncludeDepth) {
        report_error("Too many nested INCLUDE files");
        return kRunEnd;
    }
    FileHandle file = open_template_file(path);
    if (!file) {
        // The report names the template as shown, never another path.
        error_text().format("Error opening the input file: %s %s\n", std::strerror(errno),
                            source.location.name.c_str());
        report_error(error_text().view());
        return kRunEnd;
    }
    source.file = file.get();
    ++open_files;
    RunStatus status = process_template(source, output, kAllCommands, kOptionsTemplate);
    --open_files;
    return status;
}

RunStatus run_template_file(const char* name, OutputChannel& output) {
    // The name is expanded into a buffer one byte larger than the name
    // field, so a name that does not fit can be told from one that just fits.
    std::array<char, kNameSize + 1> expanded{};
    {
        std::array<char, 8192> work{};
        copy_bounded(work.data(), work.size(), name);
        substitute_variables(work.data(), expanded.data(), expanded.size(), kOptionsFileName);
    }
    TextBuffer<kNameSize> shown(expanded.data());
    if (std::strlen(expanded.data()) > TextBuffer<kNameSize>::kCapacity) {
        error_text().format("Error opening the input file: %s %s\n", std::strerror(ENAMETOOLONG),
                            shown.c_str());
        report_error(error_text().view());
        return kRunEnd;
    }
    if (!is_locked_run()) return run_resolved_template(expanded.data(), shown.view(), output);
    // A locked run reads templates only from the site's template folder.
    std::string path, relative;
    if (!resolve_inside(run_policy().template_root, shown.view(), path, relative)) {
        error_text().format("Error opening the input file: %s %s\n", std::strerror(ENOENT), shown.c_str());
        report_error(error_text().view());
        return kRunEnd;
    }
    return run_resolved_template(path.c_str(), relative, output);
}

}  // namespace vexil
