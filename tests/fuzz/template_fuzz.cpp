// Fuzz target: a whole command-line run of a template, with no database.
//
// Input: the template. It is written to a file in a private folder (the
// working folder of the fuzz run) and run through run_program in this
// process, as `vexil -i page.htm` would run it.
//
// What the run may reach outside the page is shut off:
// - EXEC and OUTPUT are linked from support/harmless_commands.cpp: their
//   text is expanded, but no command runs and no file is written; checked
//   once at start.
// - The ODBC driver manager reads an empty driver list and an empty data
//   source list in the private folder, so DATABASE and SQL find no driver.
// - Standard input and output are /dev/null; relative INCLUDE names are
//   looked up in the private folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "driver/driver.hpp"
#include "support/fuzz_support.hpp"

using namespace vexil;

namespace {
std::string folder;

void write_file(const std::string& path, std::string_view bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

int run_template(std::string_view bytes) {
    write_file("page.htm", bytes);
    char program[] = "vexil";
    char option[] = "-i";
    char name[] = "page.htm";
    char* argv[] = {program, option, name, nullptr};
    return run_program(3, argv);
}

bool exists(const char* path) {
    struct stat info;
    return ::stat(path, &info) == 0;
}

// EXEC and OUTPUT must leave no trace, or the fuzz run could run anything.
void check_commands_are_harmless() {
    run_template("<!--EXEC touch exec_ran-->\n<!--OUTPUT output_written.htm-->text\n");
    if (exists("exec_ran") || exists("output_written.htm") || exists("output_written.tmp")) {
        std::fprintf(stderr, "template_fuzz: EXEC or OUTPUT reached outside the page\n");
        std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_standard_streams();
    char pattern[] = "/tmp/vexil-template-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    folder = pattern;
    if (::chdir(folder.c_str()) != 0) std::abort();
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    write_file(folder + "/odbcinst.ini", "");
    write_file(folder + "/odbc.ini", "");
    setenv("ODBCSYSINI", folder.c_str(), 1);
    setenv("ODBCINI", (folder + "/odbc.ini").c_str(), 1);
    fuzz::clear_request_environment();  // a command-line run
    check_commands_are_harmless();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int code = run_template(fuzz::as_view(data, size));
    if (code != 0 && code != 1) std::abort();
    return 0;
}
