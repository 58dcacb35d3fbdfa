// The program's entry: one process performs one run, unless it serves
// FastCGI (started with --fastcgi, or with a listening socket as its
// standard input). Everything else, the exit code included, is decided by
// run_program, which tests also call directly, several times in one
// process.
#include <cstring>

#include "driver/driver.hpp"
#include "driver/fastcgi.hpp"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--fastcgi") == 0) return vexil::run_fastcgi_master(argc, argv);
    if (vexil::stdin_is_listening_socket()) return vexil::serve_fastcgi(0, 0);
    return vexil::run_program(argc, argv);
}
