// Auxiliary commands: EXEC and OUTPUT, the two commands that reach outside
// the page. EXEC runs a shell command whose output joins the page on
// standard output; OUTPUT moves the rest of the page to another file. Both
// report failures as Status values to the command handlers.
#include "template/aux_commands.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "base/output_files.hpp"
#include "base/policy.hpp"
#include "base/scratch.hpp"
#include "expr/substitute.hpp"

namespace vexil {

namespace {
// Whether `path` names the file open as `stream` (the same file reached by
// another spelling of its name included).
bool is_same_file(const char* path, std::FILE* stream) {
    struct stat a, b;
    if (stream == nullptr || ::stat(path, &a) != 0 || ::fstat(fileno(stream), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
}  // namespace

Status run_exec_command(char* command_line, OutputChannel& output) {
    char* cut = std::strstr(command_line, "$T");
    if (cut == nullptr) cut = std::strstr(command_line, "$t");
    if (cut != nullptr) *cut = '\0';
    // The command writes to standard output directly: in a CGI run the
    // header must already be out, and everything written so far must reach
    // the stream before the command's own output.
    send_content_header();
    if (output.stream != nullptr) std::fflush(output.stream);
    std::fflush(standard_output());
    errno = 0;
    if (std::system(command_line) == -1) {
        return Status::failure("EXEC could not start the shell: %s",
                               std::strerror(errno != 0 ? errno : ECHILD));
    }
    // The command ran. Its exit status is its own business: whatever it
    // wrote is already part of the page, and a template has no way to act on
    // the status, so a non-zero exit (or a signal) neither stops the run nor
    // adds a report to a page that may already be half written.
    return Status::ok();
}

Status switch_output(char* text, OutputChannel& output) {
    if (text[0] == '\0') {
        finish_output(output);
        return Status::ok();
    }
    WorkArea work = scratch_work_area();
    substitute_variables(text, work.start, work.size, kOptionsFileName);
    if (char* blank = std::strchr(work.start, ' '); blank != nullptr) *blank = '\0';
    TextBuffer<kNameSize + 1> name(work.start);
    if (is_locked_run()) {
        // A locked run writes only inside the site's output folder.
        const std::string& root = run_policy().output_root;
        if (root.empty()) {
            return Status::failure("OUTPUT is not allowed in a web run of this site (VEXIL_OUTPUT_ROOT is "
                                   "not set).");
        }
        std::string path;
        if (!resolve_new_file_inside(root, name.view(), path)) {
            return Status::failure("OUTPUT file is outside the site's output folder: %s", name.c_str());
        }
        name.assign(path);
    }

    const OutputFileState& current = output_file_state();
    TextBuffer<kNameSize> temp;
    bool fits = temporary_name(name.c_str(), temp) && name.size() <= TextBuffer<kNameSize>::kCapacity;
    // A new file whose temporary file is the one being written (the same
    // output named again, or another name with the same stem): finish the
    // current file first, so that opening the new one cannot truncate it.
    if (fits && !output.is_standard() &&
        (temp.view() == current.temp_name.view() || is_same_file(temp.c_str(), output.stream))) {
        finish_output(output);
    }

    if (!fits) return output_open_failure(ENAMETOOLONG, temp.c_str());
    OpenedOutput opened;
    if (Status opening = open_output_file(name.c_str(), opened); !opening.is_ok()) return opening;
    finish_output(output);
    install_output(opened, name.c_str(), output);
    return Status::ok();
}

}  // namespace vexil
