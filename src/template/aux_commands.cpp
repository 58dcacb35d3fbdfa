// Auxiliary commands: EXEC and OUTPUT, the two commands that reach outside
// the page. EXEC runs a shell command whose output joins the page on
// the answer; OUTPUT moves the rest of the page to another file. Both
// report failures as Status values to the command handlers.
#include "template/aux_commands.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/output_files.hpp"
#include "base/policy.hpp"
#include "base/run_io.hpp"
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

// Starts the shell for command_line with its standard output on a pipe
// and copies what it writes into the answer: a persistent worker's answer
// is a stream of the request, not a file descriptor a command could
// inherit. The command gets the request's environment, nothing on its
// standard input, no other file of the worker's but its standard error,
// and the default handling of the signals the worker holds back.
Status run_exec_piped(char* command_line) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        return Status::failure("EXEC could not start the shell: %s", std::strerror(errno));
    }
    std::vector<std::string> environment = run_child_environment();
    std::vector<char*> envp;
    for (std::string& item : environment) envp.push_back(item.data());
    envp.push_back(nullptr);
    std::string shell = "/bin/sh", option = "-c";
    std::array<char*, 4> argv{shell.data(), option.data(), command_line, nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Nothing else of the worker's: not its listening socket, nor the
    // request's connection, which a command left running would hold open.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int started = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (started != 0) {
        ::close(pipe_fds[0]);
        return Status::failure("EXEC could not start the shell: %s", std::strerror(started));
    }
    std::FILE* answer = standard_output();
    std::array<char, 8192> buffer;
    for (;;) {
        ssize_t got = ::read(pipe_fds[0], buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        std::fwrite(buffer.data(), 1, std::size_t(got), answer);
    }
    ::close(pipe_fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return Status::ok();
}
}  // namespace

Status run_exec_command(char* command_line, OutputChannel& output) {
    char* cut = std::strstr(command_line, "$T");
    if (cut == nullptr) cut = std::strstr(command_line, "$t");
    if (cut != nullptr) *cut = '\0';
    // The command writes to the answer directly: in a CGI run the
    // header must already be out, and everything written so far must reach
    // the stream before the command's own output.
    send_content_header();
    flush_output();
    if (output.stream != nullptr) std::fflush(output.stream);
    if (run_io().persistent) return run_exec_piped(command_line);
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
    if (text[0] == '\0') return output_failure_shown(finish_output(output));
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
        if (Status finished = finish_output(output); !finished.is_ok()) return output_failure_shown(finished);
    }

    if (!fits) return output_failure_shown(output_open_failure(ENAMETOOLONG, temp.c_str()));
    OpenedOutput opened;
    if (Status opening = open_output_file(name.c_str(), opened); !opening.is_ok()) {
        return output_failure_shown(opening);
    }
    if (Status finished = finish_output(output); !finished.is_ok()) return output_failure_shown(finished);
    install_output(opened, name.c_str(), output);
    return Status::ok();
}

}  // namespace vexil
