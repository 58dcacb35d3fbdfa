// Program driver: start-up, mode selection, output files and the end of the
// run (final file names, the redirect answer, the created-file report).
#include "driver/driver.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cgi/form_data.hpp"
#include "cgi/tracked_memory.hpp"
#include "db/odbc_session.hpp"
#include "db/results.hpp"
#include "expr/functions.hpp"
#include "expr/scratch.hpp"
#include "template/conditions.hpp"
#include "template/row_loop.hpp"
#include "variables/mappings.hpp"
#include "variables/startup.hpp"
#include "variables/substitute.hpp"
#include "variables/variable_table.hpp"

namespace vexil {

const char* const DEFAULT_TEMPLATE =
    "$sql_header$<P><!--DATABASE $database$--><!--SQL $sql$--><!--IF $sql_status$=0--><!--IF "
    "$eachrow$--><!--EACHROW-->$eachrow$<!--ENDROW--><!--ELSE--><!--TABLE BORDER CELLPADDING=5 "
    "CELLSPACING=1--><!--ENDIF--><!--ENDIF--><P>$sql_footer$\n";

namespace {
DriverState g_driver;

// Expands a file name into dest (options as given). Returns false when the
// result does not fit a name field.
bool expand_name(const char* name, TextBuffer<kNameSize>& dest, int options) {
    std::string work(name);
    std::array<char, kNameSize + 1> expanded{};
    substitute_variables(work.data(), expanded.data(), expanded.size(), options);
    dest.assign(expanded.data());
    return std::strlen(expanded.data()) <= TextBuffer<kNameSize>::kCapacity;
}

// Takes the value of a -i / -o option: the rest of the argument, or the next
// argument when the rest is empty. Returns the index of the last argument used.
int take_option_value(int argc, char** argv, int i, TextBuffer<kNameSize>& dest) {
    const char* rest = argv[i] + 2;
    if (rest[0] == '\0' && i + 1 < argc) {
        dest.assign(argv[i + 1]);
        return i + 1;
    }
    dest.assign(rest);
    return i;
}
}  // namespace

DriverState& driver_state() { return g_driver; }

void reset_run_state() {
    reset_scratch();
    reset_if_stack();
    reset_scanner_state();
    reset_substitution_state();
    reset_form_state();
    reset_variable_state();
    reset_mappings();
    reset_result_items();
    reset_random_state();
    reset_row_loops();
    g_driver.input_buffer.clear();
    g_driver.output_buffer.clear();
    g_driver.input_name = g_driver.input_buffer.c_str();
    g_driver.output_name = g_driver.output_buffer.c_str();
    g_driver.final_name.clear();
    g_driver.has_final_name = false;
    g_driver.temp_output_name.clear();
    g_driver.output_file.reset();
    error_text().clear();
    output_state().header_sent = false;
}

bool parse_command_line(int argc, char** argv) {
    g_driver.input_name = g_driver.input_buffer.c_str();
    g_driver.output_name = g_driver.output_buffer.c_str();
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (starts_with_nocase(arg, "-i", 2)) {
            i = take_option_value(argc, argv, i, g_driver.input_buffer);
        } else if (starts_with_nocase(arg, "-o", 2)) {
            i = take_option_value(argc, argv, i, g_driver.output_buffer);
        } else if (std::strchr(arg, '=') != nullptr) {
            std::string item(arg);
            apply_default_list(item.data());
        } else {
            std::fprintf(standard_output(), "Unrecogized parameter: %s\n", arg);
        }
    }
    return !g_driver.input_buffer.empty();
}

FileHandle open_template_file(const char* name) {
    FileHandle file(std::fopen(name, "r"));
    if (!file) error_text().format("Error opening the input file: %s %s\n", std::strerror(errno), name);
    return file;
}

bool temporary_name(const char* name, TextBuffer<kNameSize>& temp) {
    std::string text(name);
    if (std::size_t dot = text.rfind('.'); dot != std::string::npos) text.erase(dot);
    text += ".tmp";
    temp.assign(text);
    return text.size() <= TextBuffer<kNameSize>::kCapacity;
}

bool open_output_file(const char* name, OpenedOutput& opened) {
    if (!temporary_name(name, opened.temp_name)) {
        error_text().format("Error opening the output file: %s %s\n", std::strerror(ENAMETOOLONG),
                            opened.temp_name.c_str());
        return false;
    }
    opened.file.reset(std::fopen(opened.temp_name.c_str(), "w"));
    if (!opened.file) {
        error_text().format("Error opening the output file: %s %s\n", std::strerror(errno),
                            opened.temp_name.c_str());
        return false;
    }
    return true;
}

void install_output(OpenedOutput& opened, const char* final_name, OutputChannel& output) {
    g_driver.output_file = std::move(opened.file);
    g_driver.temp_output_name.assign(opened.temp_name.view());
    g_driver.final_name.assign(final_name);
    g_driver.has_final_name = true;
    output.stream = g_driver.output_file.get();
}

void finish_output(OutputChannel& output) {
    if (output.stream == nullptr || output.is_standard()) return;
    g_driver.output_file.reset();
    // An output named like its own temporary file is already in place.
    if (g_driver.final_name.view() != g_driver.temp_output_name.view()) {
        std::remove(g_driver.final_name.c_str());
        std::rename(g_driver.temp_output_name.c_str(), g_driver.final_name.c_str());
    }
    output.stream = standard_output();
}

void abort_run(std::string_view message, OutputChannel* output) {
    report_error(message);
    if (output != nullptr && output->stream != nullptr && !output->is_standard()) {
        g_driver.output_file.reset();
        std::remove(g_driver.temp_output_name.c_str());
        output->stream = standard_output();
    }
    close_database();
    free_tracked();
}

int run_program(int argc, char** argv) {
    reset_run_state();
    OutputChannel output{standard_output()};
    TextBuffer<512>& error = error_text();

    const char* method = std::getenv("REQUEST_METHOD");
    if (method != nullptr && method[0] != '\0') {
        if (!load_cgi_variables()) {
            error.format("Error Getting Form Data\n%s\n", form_state().form_error);
            abort_run(error.view(), nullptr);
            return 1;
        }
    } else if (!parse_command_line(argc, argv)) {
        error.assign("No input file specified on command line.\n");
        abort_run(error.view(), nullptr);
        return 1;
    }
    set_date_time_variables();

    if (g_driver.output_name[0] != '\0') {
        TextBuffer<kNameSize> expanded;
        bool fits = expand_name(g_driver.output_name, expanded, kOptionsPlain);
        if (!fits) {
            error.format("Error opening the output file: %s %s\n", std::strerror(ENAMETOOLONG),
                         expanded.c_str());
        }
        OpenedOutput opened;
        if (!fits || !open_output_file(expanded.c_str(), opened)) {
            abort_run(error.view(), nullptr);
            return 1;
        }
        install_output(opened, expanded.c_str(), output);
    }

    RunStatus status;
    if (g_driver.input_name[0] != '\0') {
        status = run_template_file(g_driver.input_name, output);
    } else {
        std::string text(DEFAULT_TEMPLATE);
        status = run_template_text(text.data(), output, kDefaultTemplateCommands, kOptionsTemplate);
    }

    finish_output(output);
    std::FILE* out = standard_output();
    if (status == kRunRedirect) {
        std::string target(command_buffers().redirect_target.view());
        WorkArea work = scratch_work_area();
        substitute_variables(target.data(), work.start, work.size, kOptionsPlain);
        if (output_state().header_sent) {
            std::fprintf(out, "<P><A HREF=\"%s\">Please click here to continue.</A><P>", work.start);
        } else {
            std::fprintf(out, "Location: %s%c%c", work.start, '\n', '\n');
        }
    } else if (g_driver.has_final_name) {
        if (!is_cgi_run()) {
            std::fprintf(out, "\nFile created: %s\n\n", g_driver.final_name.c_str());
        } else if (!output_state().header_sent) {
            send_content_header();
            std::fprintf(out,
                         "<HTML><HEAD><TITLE>File Created</TITLE> </HEAD><BODY "
                         "BGCOLOR=\"#FFFFFF\"><H3>File Created: %s</H3></BODY></HTML>\n",
                         g_driver.final_name.c_str());
        }
    }
    close_database();
    free_tracked();
    reset_row_loops();
    return 0;
}

}  // namespace vexil
