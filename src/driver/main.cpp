// The program's entry: one process performs one run. Everything else,
// the exit code included, is decided by run_program, which tests also call
// directly, several times in one process.
#include "driver/driver.hpp"

int main(int argc, char** argv) { return vexil::run_program(argc, argv); }
