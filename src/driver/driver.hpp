// Program driver: one run from start to end. Decides the mode (a web
// request or the command line), takes the template and output names,
// opens the output file, runs the template and finishes the run: the
// redirect answer, the created-file report, or the failure page.
#pragma once

#include <string>

#include "base/output.hpp"
#include "base/run_io.hpp"
#include "base/status.hpp"
#include "base/text.hpp"

namespace vexil {

struct DbConnections;

// The built-in template that serves a web request naming no template.
extern const char* const DEFAULT_TEMPLATE;

// The names a run was started with.
struct DriverState {
    TextBuffer<kNameSize> input_buffer;                // filled by -i
    TextBuffer<kNameSize> output_buffer;               // filled by -o
    const char* input_name = input_buffer.c_str();     // -i, or the form's "input" / the path
    const char* output_name = output_buffer.c_str();   // -o, or the form's "output"
    std::string template_path;   // a locked run's template, resolved inside the template folder
    std::string template_shown;  // its name relative to that folder, for reports
};

DriverState& driver_state();

// Reads -i, -o and name=value arguments. Fails when no input template name
// was given.
Status parse_command_line(int argc, char** argv);

// The whole program: a fresh run, start-up, the template, the end of the
// run. Returns the exit code.
int run_program(int argc, char** argv);

// The same for one request that a persistent worker serves: a fresh run
// whose environment, input and answer are the ones `io` names; always a
// web run, using the worker's database connections. Returns the exit code
// a CGI run would have.
int run_request(const RunIo& io, DbConnections& connections);

}  // namespace vexil
