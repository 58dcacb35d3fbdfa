// Output channel and error reporting: the one way text leaves the program.
//
// Template text goes through write_range/write_text, which apply the
// blank-line rule and send the CGI header before the first byte that reaches
// standard output. Error reports always go to standard output, never into an
// output file; fatal_error ends the process.
#pragma once

#include <cstdio>
#include <string_view>

namespace vexil {

// The current output: standard output or the open temporary output file.
// main holds the current channel and hands it by reference through the
// interpreter; the OUTPUT command replaces its stream.
struct OutputChannel {
    std::FILE* stream = nullptr;
    bool is_standard() const;
};

struct OutputState {
    bool header_sent = false;      // the CGI header has been written
    char last_output_char = '\n';  // last byte written by write_range/write_text
};

OutputState& output_state();

// The process's standard output stream (recorded at start-up).
std::FILE* standard_output();

// True in a CGI run (the form decoder recorded its input stream).
bool is_cgi_run();

// Writes text with the blank-line rule: a lone newline right after a
// newline is dropped. Sends the CGI header first when the target is
// standard output.
void write_text(std::string_view text, OutputChannel& output);
inline void write_range(const char* start, const char* end, OutputChannel& output) {
    if (end > start) write_text(std::string_view(start, std::size_t(end - start)), output);
}

// Writes an HTML fragment built by a command (table, form, option list)
// directly, without the blank-line rule; on standard output in a CGI run the
// header goes first, so nothing ever precedes it.
void write_fragment(std::string_view text, OutputChannel& output);

// Writes "Content-type: text/html" and an empty line once, in a CGI run only.
void send_content_header();
// Writes "Content-type: <type>" and an empty line to standard output.
void write_content_type(const char* type);

// Reports a template error on standard output, naming the current template
// file and line when a template is running. The run goes on.
void report_error(std::string_view message);

// Writes the termination page and ends the process with exit code 1.
[[noreturn]] void fatal_error(std::string_view message);

}  // namespace vexil
