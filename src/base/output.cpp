// Output channel and error reports.
//
// Everything the program writes passes through here: template text and
// command fragments to the current channel, reports and the termination
// page to standard output. In a web run the header goes out before the
// first byte on standard output, whoever writes it.
#include "base/output.hpp"

#include <cstring>
#include <string>

#include "base/policy.hpp"
#include "base/run_io.hpp"

namespace vexil {

namespace {
constexpr std::size_t kPendingSize = 65536;

// A run writes its answer from one thread: the stream's lock is not taken
// for each block. An error still sets the stream's error flag, which the
// run checks when it finishes the stream.
void put_now(std::FILE* stream, std::string_view text) {
    if (!text.empty()) fwrite_unlocked(text.data(), 1, text.size(), stream);
}

// Collects text for `stream`; a block that is full, or text for another
// stream, sends what was collected on first.
void put(OutputState& state, std::FILE* stream, std::string_view text) {
    if (state.pending_stream != stream || state.pending_length + text.size() > kPendingSize) {
        flush_output();
        state.pending_stream = stream;
    }
    if (text.size() >= kPendingSize) {
        put_now(stream, text);
        return;
    }
    if (!state.pending) state.pending = std::make_unique_for_overwrite<char[]>(kPendingSize);
    std::memcpy(state.pending.get() + state.pending_length, text.data(), text.size());
    state.pending_length += text.size();
}
}  // namespace

void flush_output() {
    OutputState& state = output_state();
    if (state.pending_length == 0) return;
    put_now(state.pending_stream, std::string_view(state.pending.get(), state.pending_length));
    state.pending_length = 0;
}

std::FILE* standard_output() {
    std::FILE* output = run_io().output;
    return output != nullptr ? output : stdout;
}

bool OutputChannel::is_standard() const { return stream == standard_output(); }

const SourceLocation* report_location(const SourceLocation* location) {
    const SourceLocation* previous = output_state().location;
    output_state().location = location;
    return previous;
}

void write_content_type(const char* type) {
    flush_output();
    std::fprintf(standard_output(), "Content-type: %s%c%c", type, '\n', '\n');
}

void send_content_header() {
    OutputState& state = output_state();
    if (state.header_sent || !state.web_run) return;
    flush_output();
    const RunPolicy& policy = run_policy();
    if (policy.locked) {
        std::fprintf(standard_output(), "Content-Type: text/html; charset=%s\n\n", policy.charset.c_str());
    } else {
        write_content_type("text/html");
    }
    state.header_sent = true;
}

void write_refusal(const char* status, std::string_view page) {
    OutputState& state = output_state();
    flush_output();
    std::fprintf(standard_output(), "Status: %s\nContent-Type: text/html; charset=%s\n\n", status,
                 run_policy().charset.c_str());
    state.header_sent = true;
    put_now(standard_output(), page);
}

void write_text(std::string_view text, OutputChannel& output) {
    if (text.empty() || output.stream == nullptr) return;
    OutputState& state = output_state();
    if (text.size() == 1 && text[0] == '\n' && state.last_output_char == '\n') return;
    if (state.web_run && !state.header_sent && output.is_standard()) send_content_header();
    count_output(text.size());
    put(state, output.stream, text);
    state.last_output_char = text.back();
}

void write_fragment(std::string_view text, OutputChannel& output) {
    if (text.empty() || output.stream == nullptr) return;
    OutputState& state = output_state();
    if (state.web_run && !state.header_sent && output.is_standard()) send_content_header();
    count_output(text.size());
    put(state, output.stream, text);
}

void report_error(std::string_view message, bool markup) {
    flush_output();
    std::FILE* out = standard_output();
    OutputState& state = output_state();
    const SourceLocation* source = state.location;
    // In a locked run a message may echo a value from outside (a file name,
    // a driver's text): it is shown as text, never as markup.
    std::string escaped;
    if (state.web_run && run_policy().locked && !markup) {
        append_html_escaped(escaped, message, true);
        message = escaped;
    }
    int len = int(message.size());
    if (state.web_run) {
        if (!state.header_sent) {
            send_content_header();
            put_now(out, "<HTML><HEAD><TITLE>Vexil Error</TITLE> </HEAD><BODY BGCOLOR=\"#FFFFFF\">");
        }
        if (source != nullptr) {
            std::fprintf(out, "<P><B>Vexil Error:</B> %.*s<BR>[Error in file %s line %d]<P>\n", len,
                         message.data(), source->name.c_str(), source->line);
        } else {
            std::fprintf(out, "<P><B>Vexil Error:</B> %.*s<P>\n", len, message.data());
        }
    } else if (source != nullptr) {
        std::fprintf(out, "Vexil Error: %.*s \n[Error in file %s line %d]\n\n", len, message.data(),
                     source->name.c_str(), source->line);
    } else {
        std::fprintf(out, "Vexil Error: %.*s\n\n", len, message.data());
    }
}

void fatal_error(const char* message) { throw RunAborted(message); }

void write_termination_page(std::string_view message) {
    flush_output();
    std::FILE* out = standard_output();
    if (run_policy().locked) {
        // A locked run's answer has one header, with its charset.
        send_content_header();
    } else {
        std::fprintf(out, "Content-type: text/html%c%c", '\n', '\n');
    }
    std::fprintf(out, "<HTML><H3>Program Terminated</H3>\n%.*s\n</HTML>", int(message.size()),
                 message.data());
}

}  // namespace vexil
