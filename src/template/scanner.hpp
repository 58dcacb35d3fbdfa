// Template scanner and command dispatch: the interpreter's single pass over a
// template. It copies text to the current output, expands references, reads
// each command's argument text and hands it to the command's handler.
#pragma once

#include <array>
#include <cstdio>
#include <memory>

#include "base/output.hpp"
#include "base/output_files.hpp"
#include "base/text.hpp"

namespace vexil {

// Why a template run stopped (kRunGoesOn while it goes on).
enum RunStatus {
    kRunGoesOn,    // the scan goes on
    kRunEnd,       // end of the template, or it failed to open
    kRunExit,      // EXIT
    kRunRedirect,  // REDIRECT
    kRunFailed,    // the run cannot go on (reported); the driver ends it with exit code 1
};

// The commands a run may execute (IF, IFNEW, ELSE, ENDIF are always allowed).
enum Command : unsigned {
    kCmdSet = 1u << 0,
    kCmdDatabase = 1u << 1,
    kCmdSql = 1u << 2,
    kCmdQbe = 1u << 3,
    kCmdEachrow = 1u << 4,
    kCmdTable = 1u << 5,
    kCmdUpdateform = 1u << 6,
    kCmdDefault = 1u << 7,
    kCmdTranslate = 1u << 8,
    kCmdFormat = 1u << 9,
    kCmdExec = 1u << 10,
    kCmdInclude = 1u << 11,
    kCmdRedirect = 1u << 12,
    kCmdOptionlist = 1u << 13,
    kCmdOutput = 1u << 14,
    kCmdExit = 1u << 15,
};

struct CommandPermissions {
    unsigned bits = 0;
    bool allows(Command c) const { return (bits & c) != 0; }
};

inline constexpr CommandPermissions kAllCommands{0xFFFFu};
// What the built-in default template may run.
inline constexpr CommandPermissions kDefaultTemplateCommands{
    kCmdDatabase | kCmdEachrow | kCmdInclude | kCmdOutput | kCmdRedirect | kCmdSet | kCmdSql |
    kCmdTable};
// What a row-loop body may run, of what its enclosing run permits.
inline constexpr unsigned kLoopBodyCommands = kCmdExec | kCmdInclude | kCmdOutput | kCmdSet;

inline constexpr std::size_t kLineBufferSize = 2048;
inline constexpr std::size_t kReadBlockSize = 65536;
inline constexpr std::size_t kCommandTextSize = 8192;
// Template files open at once (the named template and nested INCLUDEs).
inline constexpr int kMaxIncludeDepth = 16;

// One template being read: a file, line by line, or an in-memory text.
struct TemplateSource {
    char* position = nullptr;       // next character to scan; where a command reader stops
    char* text = nullptr;           // the line buffer, or the start of the in-memory text
    std::FILE* file = nullptr;      // the open template file; nullptr for in-memory text
    SourceLocation location;        // name and lines read (copied for in-memory text)
    std::array<char, kLineBufferSize> line_buffer;  // current line of a file (set when opened)
    // A file is read in blocks: lines are cut from the block, which is
    // refilled as it runs out (allocated at the first read).
    std::unique_ptr<char[]> block;
    std::size_t block_position = 0;  // next unread byte of the block
    std::size_t block_end = 0;       // bytes in the block
};

// The scanner's per-run state.
struct ScannerState {
    TextBuffer<kCommandTextSize> command;  // argument text: IF, ELSE, SET, TABLE, INCLUDE, ...
    TextBuffer<128> redirect_target;       // REDIRECT, read at the end of the run
    int open_files = 0;                    // template files being run, nested through INCLUDE
};

ScannerState& scanner_state();

// Opens a template file for reading, or formats "Error opening the input
// file: ..." into error_text and returns an empty handle.
FileHandle open_template_file(const char* name);

// Runs the template file at `path` (already expanded and, in a locked run,
// resolved inside the template folder); reports name it as `shown`.
RunStatus run_resolved_template(const char* path, std::string_view shown, OutputChannel& output);

// Runs a template file: expands the name (options 8), opens it and scans it
// with every command permitted. Returns the run's status (1 when it could
// not be opened, after reporting why).
RunStatus run_template_file(const char* name, OutputChannel& output);

// Runs an in-memory template. The text must be writable: keywords are
// upper-cased in place and characters are replaced for a moment while a
// reference is expanded.
RunStatus run_template_text(char* text, OutputChannel& output, CommandPermissions permissions,
                            int options);

RunStatus process_template(TemplateSource& source, OutputChannel& output,
                           CommandPermissions permissions, int options);

// Copies a command's argument text (from after the keyword and the blanks
// that follow it, up to "-->", which may be on a later line) into buffer and
// sets the source's position after the "-->". Newlines and tabs become
// blanks; blanks before the "-->" are dropped. Returns false when no "-->"
// was found up to the end of the template (after reporting it).
bool read_command_text(TemplateSource& source, char* keyword, char* buffer, std::size_t size);
template <std::size_t N>
bool read_command_text(TemplateSource& source, char* keyword, TextBuffer<N>& buffer) {
    bool found = read_command_text(source, keyword, buffer.data(), N);
    buffer.sync_length();
    return found;
}

// Reads the next line of a file source into its line buffer (at most
// limit - 1 characters, a CRLF line end read as "\n"); returns false at the
// end of the file. Counts the line.
bool read_next_line(TemplateSource& source, std::size_t limit);

}  // namespace vexil
