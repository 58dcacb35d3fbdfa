// The program's entry: one process performs one run.
#include "driver/driver.hpp"

int main(int argc, char** argv) { return vexil::run_program(argc, argv); }
