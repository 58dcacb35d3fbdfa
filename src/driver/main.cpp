// The program's entry: one process performs one run, unless it serves
// FastCGI (started with --fastcgi, or with a listening socket as its
// standard input) or is asked for its usage or version. Everything else,
// the exit code included, is decided by run_program, which tests also call
// directly, several times in one process.
#include <cstdio>
#include <cstring>

#include "driver/driver.hpp"
#include "driver/fastcgi.hpp"

#ifndef VEXIL_VERSION
#define VEXIL_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: vexil -i TEMPLATE [-o OUTPUT] [NAME=VALUE]...\n"
    "       vexil --fastcgi ADDRESS [--workers N] [--max-requests M]\n"
    "       vexil --help | --version\n"
    "\n"
    "Runs an HTML template whose commands sit in HTML comments, fills in\n"
    "values and query results through ODBC, and writes the page.\n"
    "\n"
    "  -i TEMPLATE       the template to run\n"
    "  -o OUTPUT         write the page to OUTPUT instead of standard output\n"
    "  NAME=VALUE        set a variable (a DEFAULT in the template takes\n"
    "                    precedence over it)\n"
    "  --fastcgi ADDRESS serve FastCGI on a Unix socket path or host:port\n"
    "  --workers N       worker processes (default 2)\n"
    "  --max-requests M  replace a worker after M requests\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "Run by a web server as a CGI program (REQUEST_METHOD set), vexil takes\n"
    "its template and values from the request, and the run is locked unless\n"
    "VEXIL_OPEN=1: the site's settings are the environment variables\n"
    "VEXIL_TEMPLATE_ROOT (required), VEXIL_SECRET_FILE, VEXIL_OUTPUT_ROOT,\n"
    "VEXIL_ALLOW_EXEC, VEXIL_MAX_BODY, VEXIL_MAX_OUTPUT, VEXIL_TIME_LIMIT and\n"
    "VEXIL_CHARSET.\n"
    "\n"
    "Exit status: 0 when the run ended, also when the page reports an error\n"
    "in the template; 1 when it could not start (no template named, a\n"
    "refused request), ran out of memory, reached a page limit, or could not\n"
    "write the page or its output file; 2 for a wrong --fastcgi command line.\n"
    "\n"
    "See vexil(1) and the guide in /usr/share/doc/vexil.\n";

bool is_option(int argc, char** argv, const char* name) {
    return argc == 2 && std::strcmp(argv[1], name) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (is_option(argc, argv, "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (is_option(argc, argv, "--version")) {
        std::fputs("vexil " VEXIL_VERSION "\n", stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--fastcgi") == 0) return vexil::run_fastcgi_master(argc, argv);
    if (vexil::stdin_is_listening_socket()) return vexil::serve_fastcgi(0, 0);
    return vexil::run_program(argc, argv);
}
