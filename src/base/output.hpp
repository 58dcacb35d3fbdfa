// Output channel and error reports: the one way text leaves the program.
//
// Template text goes through write_range/write_text, which apply the
// blank-line rule and, in a web run, send the header before the first byte
// that reaches standard output. Error reports always go to standard output,
// never into an output file. This file sits at the bottom of the program:
// whoever runs a template tells it where the scan stands (report_location),
// and the driver tells it whether the run answers a web request.
#pragma once

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "base/text.hpp"

namespace vexil {

// Characters a file name may have (template, INCLUDE and output names).
inline constexpr std::size_t kNameSize = 128;

// Where a report says the error happened: a template file and its line.
struct SourceLocation {
    TextBuffer<kNameSize> name;  // file name after substitution, or "(none)"
    int line = 0;                // lines read so far
};

// The current output: standard output or the open temporary output file.
// The driver holds the current channel and hands it by reference through
// the interpreter; the OUTPUT command replaces its stream.
struct OutputChannel {
    std::FILE* stream = nullptr;
    bool is_standard() const;
};

// The output channel's per-run state.
struct OutputState {
    bool web_run = false;                     // the run answers a web request (CGI)
    bool header_sent = false;                 // the web header has been written
    char last_output_char = '\n';             // last byte written by write_text
    const SourceLocation* location = nullptr; // the template being scanned, if any
    TextBuffer<512> error_text;               // the pending error message
    // Template text and fragments collect here and go to `pending_stream`
    // in large blocks: whatever else writes to a stream first sends them
    // on (flush_output), so bytes keep their order.
    std::unique_ptr<char[]> pending;
    std::size_t pending_length = 0;
    std::FILE* pending_stream = nullptr;
};

OutputState& output_state();

// The run's answer: the request's stream, or the process's standard output.
std::FILE* standard_output();

// True in a web run.
inline bool is_cgi_run() { return output_state().web_run; }

// The pending error message: set by a failing step, reported by its caller.
inline TextBuffer<512>& error_text() { return output_state().error_text; }

// Makes `location` the place that reports name (nullptr: outside any
// template) and returns the one it replaces, for the caller to put back.
const SourceLocation* report_location(const SourceLocation* location);

// Writes text with the blank-line rule: a lone newline right after a
// newline is dropped. Sends the web header first when the target is
// standard output.
void write_text(std::string_view text, OutputChannel& output);
inline void write_range(const char* start, const char* end, OutputChannel& output) {
    if (end > start) write_text(std::string_view(start, std::size_t(end - start)), output);
}

// Sends the collected template text on to its stream. Done before anything
// else writes to a stream, and when the outermost template ends.
void flush_output();

// Writes an HTML fragment built by a command (table, form, option list)
// directly, without the blank-line rule; on standard output in a web run the
// header goes first, so nothing ever precedes it.
void write_fragment(std::string_view text, OutputChannel& output);

// Writes the header ("Content-type: text/html", in a locked run with the
// charset) and an empty line once, in a web run only.
void send_content_header();
// Answers a web request with a status line ("404 Not Found"), the header and
// a short page, before anything else was written.
void write_refusal(const char* status, std::string_view page);
// Writes "Content-type: <type>" and an empty line to standard output.
void write_content_type(const char* type);

// Reports a template error on standard output, naming the current template
// file and line when a template is running. The run goes on. In a locked run
// the message is shown as text, since it may echo a value from outside,
// unless it is `markup`: the program's own HTML.
void report_error(std::string_view message, bool markup = false);

// Thrown by fatal_error and caught only by the driver, which writes the
// termination page and ends the run: the one way a run stops from deep
// inside (running out of memory).
class RunAborted : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown when a locked run reaches one of its limits (output size, number
// of references); the driver reports the message in the page and ends the
// run.
class RunStopped : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ends the run at once with the termination page (written by the driver).
[[noreturn]] void fatal_error(const char* message);

// Writes the termination page for message on standard output.
void write_termination_page(std::string_view message);

}  // namespace vexil
