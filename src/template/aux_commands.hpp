// Auxiliary commands: running an external command (EXEC) and switching the
// output file (OUTPUT).
#pragma once

#include "base/output.hpp"

namespace vexil {

// Runs the expanded command line through /bin/sh after flushing the output;
// the line is cut at the first "$T" (else "$t"). The command writes to the
// process's standard output; its exit status is ignored.
void run_exec_command(char* command_line, OutputChannel& output);

// OUTPUT: an empty text finishes the current output file and returns to
// standard output; otherwise the first word of the expanded text names the
// new output file. A file that cannot be opened is reported and false is
// returned: the run cannot go on.
bool switch_output(char* text, OutputChannel& output);

}  // namespace vexil
