// Template scanner and command dispatch: the interpreter's single pass over a
// template. It copies text to the current output, expands references, reads
// each command's argument text and hands it to the command's handler.
#pragma once

#include <array>
#include <cstdio>
#include <memory>

#include "cgi/text.hpp"
#include "driver/output.hpp"

namespace vexil {

// Why a template run stopped (0 while it goes on).
using RunStatus = int;
inline constexpr RunStatus kRunGoesOn = 0;
inline constexpr RunStatus kRunEnd = 1;        // end of the template, or it failed to open
inline constexpr RunStatus kRunExit = 32;      // EXIT
inline constexpr RunStatus kRunRedirect = 1024;  // REDIRECT

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
inline constexpr std::size_t kNameSize = 128;
// Template files open at once (the named template and nested INCLUDEs).
inline constexpr int kMaxIncludeDepth = 16;

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// One template being read: a file, line by line, or an in-memory text.
struct TemplateSource {
    char* position = nullptr;       // next character to scan; where a command reader stops
    char* text = nullptr;           // the line buffer, or the start of the in-memory text
    std::FILE* file = nullptr;      // the open template file; nullptr for in-memory text
    int line = 0;                   // lines read so far (copied for in-memory text)
    TextBuffer<kNameSize> name;     // file name after substitution, or "(none)"
    std::array<char, kLineBufferSize> line_buffer;  // current line of a file (set when opened)
};

// The buffers that receive command argument texts.
struct CommandBuffers {
    TextBuffer<8192> command;     // IF, ELSE, SET, TABLE, DEFAULT, INCLUDE, OUTPUT, ...
    TextBuffer<8192> sql;         // SQL, and statements built by QBE/UPDATEFORM/OPTIONLIST
    TextBuffer<256> connection;   // DATABASE
    TextBuffer<128> redirect_target;  // REDIRECT, read at the end of the run
};

CommandBuffers& command_buffers();
void reset_scanner_state();

// The template being scanned (innermost), or nullptr outside any run.
const TemplateSource* current_source();

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
