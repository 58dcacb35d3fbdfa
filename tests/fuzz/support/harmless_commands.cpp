// EXEC and OUTPUT for the template fuzz target: the two commands that reach
// outside the page must do nothing there, whatever template the fuzzer
// writes or INCLUDEs. This file defines the two functions that
// template/aux_commands.cpp defines in the program, so the linker takes
// these and never pulls that object file out of the library; were anything
// else of it needed, the link would fail on the duplicate definitions
// rather than silently run the real commands. The target checks at start
// that neither command leaves a trace.
//
// Everything before the outside effect still runs: the command line is
// expanded with its quoting (in the command handler), the output name is
// expanded as OUTPUT expands it.
#include <cstring>

#include "base/scratch.hpp"
#include "expr/substitute.hpp"
#include "template/aux_commands.hpp"

namespace vexil {

Status run_exec_command(char* command_line, OutputChannel& output) {
    (void)output;
    (void)std::strlen(command_line);
    return Status::failure("EXEC does nothing in the fuzz target");
}

Status switch_output(char* text, OutputChannel& output) {
    (void)output;
    if (text[0] == '\0') return Status::ok();
    WorkArea work = scratch_work_area();
    substitute_variables(text, work.start, work.size, kOptionsFileName);
    (void)std::strlen(work.start);
    return Status::ok();  // the page goes on where it was going
}

}  // namespace vexil
