// Auxiliary commands: running an external command (EXEC) and switching the
// output file (OUTPUT).
#pragma once

#include "base/output.hpp"
#include "base/status.hpp"

namespace vexil {

// Runs the expanded command line through /bin/sh after flushing the output;
// the line ends at the first "$T" (else "$t"). The command writes to the
// process's standard output. Fails only when the shell cannot be started;
// a command that runs and exits non-zero succeeds (see the definition).
Status run_exec_command(char* command_line, OutputChannel& output);

// OUTPUT: an empty text finishes the current output file and returns to
// standard output; otherwise the first word of the expanded text names the
// new output file. Fails when that file cannot be opened (a name too long
// for its field included): the run cannot go on.
Status switch_output(char* text, OutputChannel& output);

}  // namespace vexil
