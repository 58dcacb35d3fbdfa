// The persistent FastCGI mode.
//
// A worker accepts one request at a time. Each gets a fresh Run whose
// environment is the request's parameters, whose input is the request's
// body and whose answer goes to the request's output stream, through FILE
// streams made with fopencookie, so that the whole program writes and reads
// as it does in a CGI run. What outlives a request is only what makes the
// next one fast: the open database connections.
//
// SIGTERM is held back in a worker and read from a signalfd between
// requests: a request in hand is always finished, and no handler or flag is
// needed. The master waits for its signals with sigwaitinfo.
//
// libfcgi is loaded when the program starts serving FastCGI, not linked:
// a CGI run, a new process for every request, would otherwise map it at
// every start without using it.
#include "driver/fastcgi.hpp"

#include <dlfcn.h>
#include <fcgiapp.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "base/run_io.hpp"
#include "db/odbc_session.hpp"
#include "driver/driver.hpp"

namespace vexil {

namespace {

// The functions of libfcgi the server uses.
#define VEXIL_FCGI_FUNCTIONS(F)                                                        \
    F(FCGX_Init) F(FCGX_OpenSocket) F(FCGX_InitRequest) F(FCGX_Accept_r) F(FCGX_Finish_r) \
    F(FCGX_Detach) F(FCGX_SetExitStatus) F(FCGX_GetParam) F(FCGX_GetStr) F(FCGX_PutStr)   \
    F(FCGX_FPrintF) F(FCGX_HasSeenEOF) F(FCGX_GetError)

struct Fcgi {
#define VEXIL_FCGI_MEMBER(name) decltype(&::name) name = nullptr;
    VEXIL_FCGI_FUNCTIONS(VEXIL_FCGI_MEMBER)
#undef VEXIL_FCGI_MEMBER
    bool complete = false;
};

// libfcgi, loaded once per process by its shared-object name. The entry
// points (serve_fastcgi, run_fastcgi_master) check that it loaded; the
// rest of the server only runs after that.
const Fcgi& fcgi() {
    static const Fcgi loaded = [] {
        Fcgi f;
        void* library = ::dlopen("libfcgi.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return f;
        f.complete = true;
#define VEXIL_FCGI_LOAD(name)                                              \
    f.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
    f.complete = f.complete && f.name != nullptr;
        VEXIL_FCGI_FUNCTIONS(VEXIL_FCGI_LOAD)
#undef VEXIL_FCGI_LOAD
        return f;
    }();
    return loaded;
}

// Whether libfcgi could be loaded; says why not on standard error.
bool fcgi_loaded() {
    if (fcgi().complete) return true;
    const char* why = ::dlerror();
    std::fprintf(stderr, "vexil: cannot load libfcgi.so.0 (Debian package libfcgi0ldbl)%s%s\n", why ? ": " : "",
                 why ? why : "");
    return false;
}

ssize_t write_to_request(void* cookie, const char* data, std::size_t size) {
    int written = fcgi().FCGX_PutStr(data, int(size), static_cast<FCGX_Stream*>(cookie));
    return written < 0 ? -1 : written;
}

ssize_t read_from_request(void* cookie, char* data, std::size_t size) {
    int got = fcgi().FCGX_GetStr(data, int(size), static_cast<FCGX_Stream*>(cookie));
    return got < 0 ? -1 : got;
}

// The answer for a request that cannot be run at all.
void answer_failure(FCGX_Stream* out, const char* why) {
    fcgi().FCGX_FPrintF(out,
                        "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\n\r\n"
                        "<HTML><H3>Program Terminated</H3>\n%s\n</HTML>",
                        why);
}

// One request in a fresh run. The run starts in the folder that the web
// server's VEXIL_WORK_FOLDER parameter names, else in the worker's own.
int serve_request(FCGX_Request& request, int home_fd, DbConnections& connections) {
    const char* folder = fcgi().FCGX_GetParam("VEXIL_WORK_FOLDER", request.envp);
    if (folder != nullptr && folder[0] != '\0' && ::chdir(folder) != 0) {
        answer_failure(request.out, "The working folder of this site is missing.");
        return 1;
    }
    std::FILE* answer = fopencookie(request.out, "w", {nullptr, write_to_request, nullptr, nullptr});
    std::FILE* body = fopencookie(request.in, "r", {read_from_request, nullptr, nullptr, nullptr});
    int code = 1;
    if (answer == nullptr || body == nullptr) {
        answer_failure(request.out, "Out of memory.");
    } else {
        RunIo io{request.envp, body, answer, true};
        try {
            code = run_request(io, connections);
        } catch (const std::exception&) {
            std::fflush(answer);
            answer_failure(request.out, "The request could not be completed.");
        }
    }
    end_request(connections);
    if (answer != nullptr) std::fclose(answer);
    if (body != nullptr) std::fclose(body);
    if (::fchdir(home_fd) != 0) std::perror("vexil: cannot return to the worker's folder");
    return code;
}

// Reads what is left of a request's body, up to 64 KiB: true when its end
// was reached. The web server sends nothing after that, so the connection
// can be closed at once (FCGX_Detach) instead of the library's closing,
// which half-closes and then waits for the server to close its side; that
// wait held the worker for a round trip through the web server after every
// answer. A body not read to its end keeps the library's closing, so the
// unread bytes never turn into a reset that could cut the answer.
bool read_to_end(FCGX_Stream* in) {
    char discard[4096];
    for (int i = 0; i < 16; ++i) {
        if (fcgi().FCGX_GetStr(discard, int(sizeof discard), in) <= 0) break;
    }
    return fcgi().FCGX_HasSeenEOF(in) != 0 && fcgi().FCGX_GetError(in) == 0;
}

sigset_t signals(std::initializer_list<int> numbers) {
    sigset_t set;
    sigemptyset(&set);
    for (int n : numbers) sigaddset(&set, n);
    return set;
}

// Waits until a request is waiting on listen_fd (true) or SIGTERM came (false).
bool wait_for_request(int listen_fd, int stop_fd) {
    for (;;) {
        pollfd fds[2] = {{listen_fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents != 0) return false;
        if (fds[0].revents & POLLIN) return true;
        if (fds[0].revents != 0) return false;  // the socket is gone
    }
}

// Opens ADDRESS as the master's listening socket.
int open_listener(const char* address) {
    if (!fcgi_loaded() || fcgi().FCGX_Init() != 0) return -1;
    return fcgi().FCGX_OpenSocket(address, 128);
}

// Starts a worker process on listen_fd; the child never returns.
pid_t start_worker(int listen_fd, long max_requests) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        sigset_t master_only = signals({SIGCHLD});
        ::sigprocmask(SIG_UNBLOCK, &master_only, nullptr);
        // exit, not _exit: a worker ends as a process of its own would
        // (the sanitizers' leak check included).
        std::exit(serve_fastcgi(listen_fd, max_requests));
    }
    if (pid < 0) std::perror("vexil: cannot start a worker");
    return pid;
}

// A positive number from text, or 0.
long positive(const char* text) {
    char* end = nullptr;
    long n = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && n > 0 ? n : 0;
}

// Tells the web server's log that a worker ended other than by recycling.
void report_worker_end(pid_t pid, int status) {
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "vexil: worker %d ended by signal %d\n", int(pid), WTERMSIG(status));
    } else {
        std::fprintf(stderr, "vexil: worker %d ended with exit code %d\n", int(pid), WEXITSTATUS(status));
    }
}

int usage() {
    std::fprintf(stderr, "usage: vexil --fastcgi ADDRESS [--workers N] [--max-requests M]\n"
                         "  ADDRESS: a Unix socket path, or host:port\n");
    return 2;
}

}  // namespace

bool stdin_is_listening_socket() {
    int listening = 0;
    socklen_t size = sizeof listening;
    return ::getsockopt(STDIN_FILENO, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening != 0;
}

int serve_fastcgi(int listen_fd, long max_requests) {
    if (!fcgi_loaded() || fcgi().FCGX_Init() != 0) return 1;
    sigset_t stop = signals({SIGTERM, SIGINT});
    ::sigprocmask(SIG_BLOCK, &stop, nullptr);
    int stop_fd = ::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
    // A visitor who goes away mid-answer must not end the worker.
    ::signal(SIGPIPE, SIG_IGN);
    // Workers share the socket: the one that loses the race for a request
    // goes back to waiting instead of blocking in accept.
    ::fcntl(listen_fd, F_SETFL, ::fcntl(listen_fd, F_GETFL) | O_NONBLOCK);
    int home_fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (stop_fd < 0 || home_fd < 0) {
        std::perror("vexil: cannot start serving");
        return 1;
    }
    FCGX_Request request;
    fcgi().FCGX_InitRequest(&request, listen_fd, 0);
    DbConnections connections;
    for (long served = 0; max_requests == 0 || served < max_requests;) {
        if (!wait_for_request(listen_fd, stop_fd)) break;
        if (fcgi().FCGX_Accept_r(&request) < 0) {
            // Another worker took the request; anything else (out of file
            // descriptors, say) is waited out instead of spun on.
            if (errno != EAGAIN && errno != EWOULDBLOCK) ::usleep(100000);
            continue;
        }
        fcgi().FCGX_SetExitStatus(serve_request(request, home_fd, connections), request.out);
        if (read_to_end(request.in)) fcgi().FCGX_Detach(&request);
        fcgi().FCGX_Finish_r(&request);
        ++served;
    }
    ::close(home_fd);
    ::close(stop_fd);
    return 0;
}

int run_fastcgi_master(int argc, char** argv) {
    if (argc < 3 || (argc - 3) % 2 != 0) return usage();
    const char* address = argv[2];
    long worker_count = 2, max_requests = 0;
    for (int i = 3; i + 1 < argc; i += 2) {
        std::string_view option(argv[i]);
        long value = positive(argv[i + 1]);
        if (value == 0) return usage();
        if (option == "--workers") {
            worker_count = value;
        } else if (option == "--max-requests") {
            max_requests = value;
        } else {
            return usage();
        }
    }
    sigset_t watched = signals({SIGTERM, SIGINT, SIGCHLD});
    ::sigprocmask(SIG_BLOCK, &watched, nullptr);
    int listen_fd = open_listener(address);
    if (listen_fd < 0) {
        std::fprintf(stderr, "vexil: cannot listen on %s\n", address);
        return 1;
    }
    std::vector<pid_t> workers(std::size_t(worker_count), 0);
    for (pid_t& pid : workers) pid = start_worker(listen_fd, max_requests);

    for (bool stopping = false; !stopping;) {
        siginfo_t info;
        if (::sigwaitinfo(&watched, &info) < 0) continue;
        stopping = info.si_signo != SIGCHLD;
        int status = 0;
        for (pid_t ended; (ended = ::waitpid(-1, &status, WNOHANG)) > 0;) {
            for (pid_t& pid : workers) {
                if (pid != ended) continue;
                if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
                    report_worker_end(ended, status);
                    ::sleep(1);  // a worker that keeps failing is not restarted in a tight loop
                }
                pid = stopping ? 0 : start_worker(listen_fd, max_requests);
            }
        }
    }
    for (pid_t pid : workers) {
        if (pid > 0) ::kill(pid, SIGTERM);
    }
    for (pid_t pid : workers) {
        if (pid > 0) ::waitpid(pid, nullptr, 0);
    }
    ::close(listen_fd);
    if (std::strchr(address, ':') == nullptr) ::unlink(address);
    return 0;
}

}  // namespace vexil
