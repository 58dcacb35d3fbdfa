// Program driver: the run-wide state of one run (input and output names,
// the current output file), opening templates and output files, finishing
// the output and aborting a run that cannot go on.
#pragma once

#include "cgi/text.hpp"
#include "driver/output.hpp"
#include "template/scanner.hpp"

namespace vexil {

// The built-in template that serves a CGI request naming no template.
extern const char* const DEFAULT_TEMPLATE;

struct DriverState {
    TextBuffer<kNameSize> input_buffer;   // filled by -i
    TextBuffer<kNameSize> output_buffer;  // filled by -o
    const char* input_name = "";          // the -i buffer, or the form's "input" / CGI path
    const char* output_name = "";         // the -o buffer, or the form's "output"
    TextBuffer<kNameSize> final_name;     // the current output file's final name
    bool has_final_name = false;          // an output file was opened in this run
    TextBuffer<kNameSize> temp_output_name;  // the file being written
    FileHandle output_file;               // the open temporary output file
};

DriverState& driver_state();

// Sets every piece of run state to its start value.
void reset_run_state();

// Reads -i, -o and name=value arguments. Returns true when an input template
// name was given.
bool parse_command_line(int argc, char** argv);

// Opens a template file for reading, or formats "Error opening the input
// file: ..." into error_text and returns an empty handle.
FileHandle open_template_file(const char* name);

// An output file opened but not yet made the current output.
struct OpenedOutput {
    FileHandle file;
    TextBuffer<kNameSize> temp_name;
};

// The temporary name of an output: the name up to its last "." (directories
// included) with ".tmp" appended. False when it does not fit a name field.
bool temporary_name(const char* name, TextBuffer<kNameSize>& temp);

// Opens the temporary file for the output `name`. On failure formats "Error
// opening the output file: ..." into error_text and returns false.
bool open_output_file(const char* name, OpenedOutput& opened);

// Makes an opened file the current output, with `final_name` as the name it
// gets when it is finished.
void install_output(OpenedOutput& opened, const char* final_name, OutputChannel& output);

// When the current output is a file: closes it, deletes any file with its
// final name and renames the temporary file to it. The current output
// becomes standard output.
void finish_output(OutputChannel& output);

// Reports message, deletes the temporary output file (if one is open),
// closes the database and releases tracked memory. The caller ends the run.
void abort_run(std::string_view message, OutputChannel* output);

// The whole program: start-up, one template run, end of the run. Returns the
// exit code.
int run_program(int argc, char** argv);

}  // namespace vexil
