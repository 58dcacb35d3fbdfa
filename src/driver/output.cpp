// Output channel and error reporting.
#include "driver/output.hpp"

#include <cstdlib>

#include "cgi/form_data.hpp"
#include "template/scanner.hpp"

namespace vexil {

namespace {
OutputState g_output;

void put(std::FILE* stream, std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
}
}  // namespace

OutputState& output_state() { return g_output; }

std::FILE* standard_output() { return stdout; }

bool OutputChannel::is_standard() const { return stream == standard_output(); }

bool is_cgi_run() { return form_state().cgi_input != nullptr; }

void write_content_type(const char* type) {
    std::fprintf(standard_output(), "Content-type: %s%c%c", type, '\n', '\n');
}

void send_content_header() {
    if (g_output.header_sent || !is_cgi_run()) return;
    write_content_type("text/html");
    g_output.header_sent = true;
}

void write_text(std::string_view text, OutputChannel& output) {
    if (text.empty() || output.stream == nullptr) return;
    if (text.size() == 1 && text[0] == '\n' && g_output.last_output_char == '\n') return;
    if (output.is_standard()) send_content_header();
    put(output.stream, text);
    g_output.last_output_char = text.back();
}

void write_fragment(std::string_view text, OutputChannel& output) {
    if (text.empty() || output.stream == nullptr) return;
    if (output.is_standard()) send_content_header();
    put(output.stream, text);
}

void report_error(std::string_view message) {
    std::FILE* out = standard_output();
    const TemplateSource* source = current_source();
    int len = int(message.size());
    if (is_cgi_run()) {
        if (!g_output.header_sent) {
            send_content_header();
            put(out, "<HTML><HEAD><TITLE>Vexil Error</TITLE> </HEAD><BODY BGCOLOR=\"#FFFFFF\">");
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

void fatal_error(std::string_view message) {
    std::FILE* out = standard_output();
    std::fprintf(out, "Content-type: text/html%c%c", '\n', '\n');
    std::fprintf(out, "<HTML><H3>Program Terminated</H3>\n%.*s\n</HTML>", int(message.size()),
                 message.data());
    // Nothing is closed or renamed: an output file stays under its
    // temporary name. Buffered streams are flushed so the page is complete.
    std::fflush(nullptr);
    std::_Exit(1);
}

}  // namespace vexil
