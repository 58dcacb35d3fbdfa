// End-to-end test runner: runs the vexil binary once for one case file and
// compares what it produced with what the case expects.
//
// Usage: e2e_runner [--backend sqlite|postgresql] <path of the vexil binary>
//                   <case file>
//
// A case file is data: the arguments, environment, standard input and files
// a run starts with, and the exact output and files it must leave behind.
// tests/e2e/README.md describes the format. The runner creates a private
// temporary directory, lays out the case's files there, runs the binary in it
// with an empty environment plus what the case names, and reports every
// difference it finds.
//
// A case with a "database" section is a database case: it runs against the
// backend named by --backend, in a fresh database loaded with that section's
// SQL script before the run and dropped after it. For sqlite the database is
// the file test.db in the temporary directory; for postgresql it is a new
// database on the test server whose settings are in the file named by
// VEXIL_TEST_PG_ENV (written by tests/db/pg_server.sh).
//
// Exit status: 0 when the case passes, 1 otherwise (including a malformed
// case file), 77 when the case needs the PostgreSQL test server and none was
// started because PostgreSQL is not installed (1 instead when
// VEXIL_REQUIRE_ALL=1).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kTimeLimitSeconds = 60;
// Output beyond this many bytes is not kept; a run that produces more fails.
constexpr std::size_t kMaxCapture = 64u * 1024u * 1024u;
// Expected/actual texts longer than this are shown as a window around the
// first difference instead of in full.
constexpr std::size_t kMaxShown = 16384;
constexpr std::size_t kWindow = 2000;

const char* const kPassThroughEnv[] = {
    "PATH",      "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
    "ODBCSYSINI", "ODBCINI",
};
const char kPassThroughPrefix[] = "VEXIL_TEST_";
const char kDirToken[] = "@DIR@";
const char kDsnToken[] = "@DSN@";
const char kBackendToken[] = "@BACKEND@";

const char* const kBackends[] = {"sqlite", "postgresql"};
constexpr int kSkipExitCode = 77;

struct CaseError {
  std::string message;
};

// The case cannot run here (a service it needs is not available).
struct SkipCase {
  std::string message;
};

// ---------------------------------------------------------------------------
// Case file model and parser

struct NamedText {
  std::string name;
  std::string content;
};

struct Case {
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> env;
  std::optional<std::string> stdin_text;
  std::vector<NamedText> files;
  std::optional<std::string> setup;
  std::optional<std::string> expected_stdout;
  int expected_exit = 0;
  std::vector<NamedText> expect_files;
  std::vector<std::string> expect_no_files;
  std::vector<std::string> stdout_contains;
  bool stderr_allowed = false;
  // Database cases only.
  std::optional<std::string> database;  // SQL script loaded before the run
  std::set<std::string> backends;       // empty: every backend
  std::vector<NamedText> checks;        // name: a query; content: its output
};

struct Section {
  std::string kind;  // first word after "=== "
  std::string rest;  // the header after the kind, trimmed, without "noeol"
  bool noeol = false;
  int header_line = 0;
  std::string content;
};

bool is_blank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

std::string trim(const std::string& s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && is_blank(s[b])) ++b;
  while (e > b && is_blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Splits content into lines without their "\n". A final line without "\n"
// still counts; an empty content has no lines.
std::vector<std::string> content_lines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t nl = content.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(content.substr(start));
      break;
    }
    lines.push_back(content.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::vector<Section> split_sections(const std::string& text) {
  std::vector<Section> sections;
  std::size_t pos = 0;
  int line_no = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
    std::string line = text.substr(pos, end - pos);
    ++line_no;
    pos = end;
    if (line.rfind("=== ", 0) == 0) {
      Section s;
      s.header_line = line_no;
      std::string header = trim(line.substr(4));
      // A last word "noeol" is a flag, not part of the name.
      if (header == "noeol" ||
          (header.size() > 5 && header.ends_with("noeol") &&
           is_blank(header[header.size() - 6]))) {
        s.noeol = true;
        header = trim(header.substr(0, header.size() - 5));
      }
      std::size_t space = 0;
      while (space < header.size() && !is_blank(header[space])) ++space;
      s.kind = header.substr(0, space);
      s.rest = trim(header.substr(space));
      if (s.kind.empty()) {
        throw CaseError{"line " + std::to_string(line_no) +
                        ": section header without a name"};
      }
      sections.push_back(std::move(s));
    } else if (!sections.empty()) {
      sections.back().content += line;
    }
    // Lines before the first header are comments.
  }
  for (Section& s : sections) {
    if (s.noeol && !s.content.empty() && s.content.back() == '\n') {
      s.content.pop_back();
    }
  }
  return sections;
}

// A NAME given to file, expect-file or expect-no-file must stay inside the
// temporary directory.
std::string checked_relative_name(const Section& s) {
  std::string where = "line " + std::to_string(s.header_line) + ": ";
  if (s.rest.empty()) {
    throw CaseError{where + "section '" + s.kind + "' needs a file name"};
  }
  const std::string& name = s.rest;
  fs::path p(name);
  if (p.is_absolute()) {
    throw CaseError{where + "file name must be relative: " + name};
  }
  for (const fs::path& part : p) {
    if (part == "..") {
      throw CaseError{where + "file name must not contain '..': " + name};
    }
  }
  return name;
}

Case parse_case(const std::string& text) {
  Case c;
  std::set<std::string> seen_single;
  std::set<std::string> file_names;
  std::set<std::string> expect_names;
  for (const Section& s : split_sections(text)) {
    const std::string& kind = s.kind;
    std::string where = "line " + std::to_string(s.header_line) + ": ";
    auto once = [&]() {
      if (!s.rest.empty()) {
        throw CaseError{where + "section '" + kind + "' takes no name"};
      }
      if (!seen_single.insert(kind).second) {
        throw CaseError{where + "section '" + kind + "' given twice"};
      }
    };
    if (kind == "args") {
      once();
      c.args = content_lines(s.content);
    } else if (kind == "env") {
      once();
      for (const std::string& line : content_lines(s.content)) {
        if (line.empty()) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
          throw CaseError{where + "env line is not NAME=VALUE: " + line};
        }
        c.env.emplace_back(line.substr(0, eq), line.substr(eq + 1));
      }
    } else if (kind == "stdin") {
      once();
      c.stdin_text = s.content;
    } else if (kind == "file") {
      std::string name = checked_relative_name(s);
      if (!file_names.insert(fs::path(name).lexically_normal()).second) {
        throw CaseError{where + "file given twice: " + name};
      }
      c.files.push_back({name, s.content});
    } else if (kind == "setup") {
      once();
      c.setup = s.content;
    } else if (kind == "stdout") {
      once();
      c.expected_stdout = s.content;
    } else if (kind == "exit") {
      once();
      std::string t;
      for (char ch : s.content) {
        if (ch != '\n' && ch != ' ' && ch != '\t' && ch != '\r') t += ch;
      }
      char* end = nullptr;
      errno = 0;
      long v = std::strtol(t.c_str(), &end, 10);
      if (t.empty() || *end != '\0' || errno != 0 || v < 0 || v > 255) {
        throw CaseError{where + "exit needs a number from 0 to 255, got '" +
                        t + "'"};
      }
      c.expected_exit = static_cast<int>(v);
    } else if (kind == "expect-file" || kind == "expect-no-file") {
      std::string name = checked_relative_name(s);
      if (!expect_names.insert(fs::path(name).lexically_normal()).second) {
        throw CaseError{where + "expectation for file given twice: " + name};
      }
      if (kind == "expect-file") {
        c.expect_files.push_back({name, s.content});
      } else {
        c.expect_no_files.push_back(name);
      }
    } else if (kind == "stdout-contains") {
      once();
      for (const std::string& line : content_lines(s.content)) {
        if (!line.empty()) c.stdout_contains.push_back(line);
      }
      if (c.stdout_contains.empty()) {
        throw CaseError{where + "stdout-contains has no non-empty line"};
      }
    } else if (kind == "stderr-allowed") {
      once();
      c.stderr_allowed = true;
    } else if (kind == "database") {
      once();
      c.database = s.content;
    } else if (kind == "backends") {
      once();
      for (const std::string& line : content_lines(s.content)) {
        std::string name = trim(line);
        if (name.empty()) continue;
        bool known = false;
        for (const char* b : kBackends) known = known || name == b;
        if (!known) {
          throw CaseError{where + "unknown backend '" + name +
                          "' (known: sqlite, postgresql)"};
        }
        c.backends.insert(name);
      }
      if (c.backends.empty()) {
        throw CaseError{where + "backends names no backend"};
      }
    } else if (kind == "check") {
      if (s.rest.empty()) {
        throw CaseError{where + "section 'check' needs a query after 'check'"};
      }
      c.checks.push_back({s.rest, s.content});
    } else {
      throw CaseError{where + "unknown section '" + kind + "'"};
    }
  }
  if (!c.database && (!c.backends.empty() || !c.checks.empty())) {
    throw CaseError{"sections 'backends' and 'check' need a 'database' section"};
  }
  return c;
}

// ---------------------------------------------------------------------------
// Text helpers

std::string replace_all(std::string s, const std::string& from,
                        const std::string& to) {
  std::size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::string::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
  return s;
}

// Shows bytes so that every one of them is visible: "\n" is written as the
// two characters \n followed by a real line break, other control and
// non-ASCII bytes as \r, \t or \xHH, and a backslash as \\.
std::string escape_bytes(const std::string& s) {
  std::string out;
  char buf[8];
  for (unsigned char ch : s) {
    if (ch == '\n') {
      out += "\\n\n";
    } else if (ch == '\r') {
      out += "\\r";
    } else if (ch == '\t') {
      out += "\\t";
    } else if (ch == '\\') {
      out += "\\\\";
    } else if (ch >= 0x20 && ch < 0x7f) {
      out += static_cast<char>(ch);
    } else {
      std::snprintf(buf, sizeof buf, "\\x%02X", ch);
      out += buf;
    }
  }
  return out;
}

std::size_t first_difference(const std::string& a, const std::string& b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return i;
  }
  return n;
}

void print_block(std::ostream& out, const std::string& label,
                 const std::string& text, std::size_t diff) {
  out << "----- " << label << " (" << text.size() << " bytes)";
  std::size_t from = 0;
  std::size_t to = text.size();
  if (text.size() > kMaxShown) {
    from = diff > kWindow ? diff - kWindow : 0;
    to = std::min(text.size(), diff + kWindow);
    out << ", bytes " << from << " to " << to << " shown";
  }
  out << " -----\n";
  if (text.empty()) {
    out << "(empty)\n";
  } else {
    out << escape_bytes(text.substr(from, to - from));
    if (text[to - 1] != '\n') out << "\n";
  }
  out << "----- end of " << label << " -----\n";
}

// Reports a mismatch between two texts: first differing offset (with line
// and column), then both texts escaped.
void report_text_mismatch(std::ostream& out, const std::string& what,
                          const std::string& expected,
                          const std::string& actual) {
  std::size_t diff = first_difference(expected, actual);
  std::size_t line = 1;
  std::size_t col = 1;
  for (std::size_t i = 0; i < diff; ++i) {
    if (actual[i] == '\n') {
      ++line;
      col = 1;
    } else {
      ++col;
    }
  }
  out << "FAIL: " << what << " differs at byte offset " << diff << " (line "
      << line << ", column " << col << ")";
  if (diff == expected.size()) {
    out << ": actual has " << actual.size() - diff << " extra byte(s)";
  } else if (diff == actual.size()) {
    out << ": actual is missing " << expected.size() - diff << " byte(s)";
  }
  out << "\n";
  print_block(out, "expected " + what, expected, diff);
  print_block(out, "actual " + what, actual, diff);
}

std::optional<std::string> read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return ss.str();
}

void write_file(const fs::path& p, const std::string& content) {
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) throw CaseError{"cannot write file " + p.string()};
}

// ---------------------------------------------------------------------------
// Running a child process

struct RunResult {
  std::string out;
  std::string err;
  bool exited = false;
  int exit_code = -1;
  int signal = 0;
  bool timed_out = false;
  // The program itself ended in time, but a process it started kept its
  // standard output or error open until the time limit.
  bool left_output_open = false;
  bool output_too_large = false;
  std::string start_error;  // fork/exec failure, if any
};

void set_nonblocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void append_capped(std::string& to, const char* data, std::size_t n,
                   bool& too_large) {
  if (to.size() + n > kMaxCapture) {
    too_large = true;
    n = to.size() < kMaxCapture ? kMaxCapture - to.size() : 0;
  }
  to.append(data, n);
}

// Runs argv[0] in dir with exactly the environment env, feeding stdin_text
// (or /dev/null when absent), capturing stdout and stderr, with a time limit.
// The child gets its own process group so that a timeout kills everything it
// started.
RunResult run_process(const std::vector<std::string>& argv,
                      const std::vector<std::string>& env,
                      const std::optional<std::string>& stdin_text,
                      const std::string& dir) {
  RunResult r;
  int in_pipe[2] = {-1, -1};
  int out_pipe[2];
  int err_pipe[2];
  if ((stdin_text && pipe2(in_pipe, O_CLOEXEC) != 0) ||
      pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    r.start_error = std::string("pipe: ") + std::strerror(errno);
    return r;
  }

  // Everything the child needs is prepared before fork.
  std::vector<char*> cargv;
  for (const std::string& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  std::vector<char*> cenv;
  for (const std::string& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    r.start_error = std::string("fork: ") + std::strerror(errno);
    return r;
  }
  if (pid == 0) {
    setpgid(0, 0);
    // The runner ignores SIGPIPE; the program under test must start with
    // the default disposition.
    signal(SIGPIPE, SIG_DFL);
    int in_fd;
    if (stdin_text) {
      in_fd = in_pipe[0];
    } else {
      in_fd = open("/dev/null", O_RDONLY);
    }
    if (in_fd < 0 || dup2(in_fd, 0) < 0 || dup2(out_pipe[1], 1) < 0 ||
        dup2(err_pipe[1], 2) < 0) {
      _exit(126);
    }
    if (chdir(dir.c_str()) != 0) {
      const char msg[] = "e2e_runner: chdir to the case directory failed\n";
      ssize_t ignored = write(2, msg, sizeof msg - 1);
      (void)ignored;
      _exit(126);
    }
    execve(cargv[0], cargv.data(), cenv.data());
    const char msg[] = "e2e_runner: exec failed: ";
    ssize_t ignored = write(2, msg, sizeof msg - 1);
    const char* why = std::strerror(errno);
    ignored = write(2, why, std::strlen(why));
    ignored = write(2, "\n", 1);
    (void)ignored;
    _exit(127);
  }
  setpgid(pid, pid);  // also done by the child; whichever runs first wins

  close(out_pipe[1]);
  close(err_pipe[1]);
  int stdin_fd = -1;
  if (stdin_text) {
    close(in_pipe[0]);
    stdin_fd = in_pipe[1];
    set_nonblocking(stdin_fd);
  }
  int out_fd = out_pipe[0];
  int err_fd = err_pipe[0];
  set_nonblocking(out_fd);
  set_nonblocking(err_fd);
  std::size_t stdin_pos = 0;
  if (stdin_fd >= 0 && stdin_text->empty()) {
    close(stdin_fd);
    stdin_fd = -1;
  }

  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::seconds(kTimeLimitSeconds);
  char buf[65536];
  int status = 0;
  bool reaped = false;
  auto try_reap = [&]() {
    if (!reaped && waitpid(pid, &status, WNOHANG) == pid) reaped = true;
  };
  while (out_fd >= 0 || err_fd >= 0) {
    try_reap();
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      r.timed_out = true;
      r.left_output_open = reaped;
      break;
    }
    int wait_ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)
            .count()) + 1;
    // While the program runs, look at it now and then so that its end is
    // noticed even when a process it started holds the pipes open.
    if (!reaped) wait_ms = std::min(wait_ms, 50);
    pollfd fds[3];
    int n = 0;
    int idx_out = -1, idx_err = -1, idx_in = -1;
    if (out_fd >= 0) { idx_out = n; fds[n++] = {out_fd, POLLIN, 0}; }
    if (err_fd >= 0) { idx_err = n; fds[n++] = {err_fd, POLLIN, 0}; }
    if (stdin_fd >= 0) { idx_in = n; fds[n++] = {stdin_fd, POLLOUT, 0}; }
    int rc = poll(fds, static_cast<nfds_t>(n), wait_ms);
    if (rc < 0) {
      if (errno == EINTR) continue;
      r.start_error = std::string("poll: ") + std::strerror(errno);
      break;
    }
    auto drain = [&](int& fd, int idx, std::string& to) {
      if (idx < 0 || fds[idx].revents == 0) return;
      ssize_t got = read(fd, buf, sizeof buf);
      if (got > 0) {
        append_capped(to, buf, static_cast<std::size_t>(got),
                      r.output_too_large);
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(fd);
        fd = -1;
      }
    };
    drain(out_fd, idx_out, r.out);
    drain(err_fd, idx_err, r.err);
    if (idx_in >= 0 && fds[idx_in].revents != 0) {
      ssize_t put = write(stdin_fd, stdin_text->data() + stdin_pos,
                          stdin_text->size() - stdin_pos);
      if (put > 0) stdin_pos += static_cast<std::size_t>(put);
      // EPIPE: the program stopped reading; the rest is simply not sent.
      if ((put < 0 && errno != EAGAIN && errno != EINTR) ||
          stdin_pos == stdin_text->size()) {
        close(stdin_fd);
        stdin_fd = -1;
      }
    }
    if (r.output_too_large) break;
  }
  if (r.timed_out || r.output_too_large || !r.start_error.empty()) {
    kill(-pid, SIGKILL);
    if (!reaped) kill(pid, SIGKILL);
  }
  if (stdin_fd >= 0) close(stdin_fd);
  if (out_fd >= 0) close(out_fd);
  if (err_fd >= 0) close(err_fd);

  // The program may have closed its output and still be running: wait for
  // it within the same time limit.
  while (!reaped) {
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) {
      r.start_error = std::string("waitpid: ") + std::strerror(errno);
      return r;
    }
    if (w == 0 && std::chrono::steady_clock::now() >= deadline) {
      r.timed_out = true;
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    if (w == 0) usleep(5000);
  }
  if (WIFEXITED(status)) {
    r.exited = true;
    r.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r.signal = WTERMSIG(status);
  }
  return r;
}

// Describes how a process ended, for messages.
std::string describe_end(const RunResult& r) {
  if (r.left_output_open) {
    return "ended (" +
           (r.exited ? "exit code " + std::to_string(r.exit_code)
                     : "signal " + std::to_string(r.signal)) +
           "), but a process it started kept its output open until the "
           "time limit of " + std::to_string(kTimeLimitSeconds) +
           " s and was killed";
  }
  if (r.timed_out) {
    return "killed after the time limit of " +
           std::to_string(kTimeLimitSeconds) + " s";
  }
  if (r.output_too_large) return "killed: output exceeded the capture limit";
  if (r.signal != 0) {
    return "died of signal " + std::to_string(r.signal) + " (" +
           strsignal(r.signal) + ")";
  }
  if (r.exited) return "exit code " + std::to_string(r.exit_code);
  return "ended in an unknown way";
}

std::vector<std::string> base_environment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    bool pass = name.rfind(kPassThroughPrefix, 0) == 0;
    for (const char* allowed : kPassThroughEnv) {
      if (name == allowed) pass = true;
    }
    if (pass) env.push_back(entry);
  }
  return env;
}

// Adds or replaces NAME=VALUE in env.
void put_env(std::vector<std::string>& env, const std::string& name,
             const std::string& value) {
  std::string prefix = name + "=";
  for (std::string& e : env) {
    if (e.rfind(prefix, 0) == 0) {
      e = prefix + value;
      return;
    }
  }
  env.push_back(prefix + value);
}

// The part of the program's stderr that counts as a fault. A sanitizer build
// runs with allocator_may_return_null=1, so an allocation that cannot be
// satisfied returns null to the program (which must cope with it, as in a
// normal build) and AddressSanitizer prints one warning line about it. That
// line is dropped; everything else is kept.
// Whether a line is "==<pid>==WARNING: AddressSanitizer failed to allocate
// 0x<hex> bytes".
bool is_alloc_warning(const std::string& line) {
  static const std::string middle = "==WARNING: AddressSanitizer failed to allocate 0x";
  if (line.size() < 2 || line.compare(0, 2, "==") != 0) return false;
  std::size_t i = 2;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
  if (i == 2 || line.compare(i, middle.size(), middle) != 0) return false;
  i += middle.size();
  std::size_t digits = i;
  while (i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i]))) ++i;
  return i > digits && line.compare(i, std::string::npos, " bytes") == 0;
}

std::string unexpected_stderr(const std::string& err) {
  std::string kept;
  std::size_t pos = 0;
  while (pos < err.size()) {
    std::size_t nl = err.find('\n', pos);
    std::size_t end = nl == std::string::npos ? err.size() : nl + 1;
    std::string line = err.substr(pos, end - pos);
    std::string bare = line.back() == '\n' ? line.substr(0, line.size() - 1) : line;
    if (!is_alloc_warning(bare)) kept += line;
    pos = end;
  }
  return kept;
}

void print_stderr(std::ostream& out, const std::string& label,
                  const std::string& err) {
  if (err.empty()) {
    out << "(" << label << ": empty)\n";
    return;
  }
  out << "----- " << label << " -----\n" << err;
  if (err.back() != '\n') out << "\n";
  out << "----- end of " << label << " -----\n";
}

// ---------------------------------------------------------------------------
// Database backends
//
// The command-line clients of the backends load a case's script and run its
// check queries. Both print rows the same way: one line per row, the values
// separated by "|", a NULL as nothing, no headings and no row counts.

struct DatabaseError {
  std::string message;
  std::string tool_out;
  std::string tool_err;
};

// The first executable file NAME in the directories of dirs (a PATH-like
// list), or NAME itself when there is none (exec then reports the failure).
std::string find_program(const std::string& name, const std::string& dirs) {
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    std::string d = dirs.substr(start, colon - start);
    if (!d.empty()) {
      std::string candidate = d + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = colon + 1;
  }
  return name;
}

// NAME=VALUE lines of a settings file; other lines are ignored.
std::map<std::string, std::string> read_settings(const std::string& path) {
  std::map<std::string, std::string> settings;
  auto text = read_file(path);
  if (!text) return settings;
  for (const std::string& line : content_lines(*text)) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    settings[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  return settings;
}

class Database {
 public:
  // Creates an empty database for backend ("sqlite" or "postgresql") for the
  // case directory dir. Throws DatabaseError, or SkipCase when there is no
  // PostgreSQL test server and skipping is allowed.
  Database(std::string backend, std::string dir)
      : backend_(std::move(backend)), dir_(std::move(dir)) {
    const char* path = std::getenv("PATH");
    path_ = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    if (backend_ == "sqlite") {
      sqlite3_ = find_program("sqlite3", path_);
      file_ = dir_ + "/test.db";
      dsn_ = "DRIVER=SQLite3;Database=" + file_;
    } else {
      open_postgresql();
    }
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database() { drop(); }

  const std::string& dsn() const { return dsn_; }

  // Runs an SQL script; fails on the first error.
  void load(const std::string& script) {
    RunResult r = backend_ == "sqlite"
                      ? tool({sqlite3_, "-bail", "-batch", file_}, script)
                      : psql(name_, {}, script);
    if (!r.start_error.empty() || !r.exited || r.exit_code != 0 ||
        (backend_ == "sqlite" && !r.err.empty())) {
      throw DatabaseError{"loading the database script failed (" +
                              (r.start_error.empty() ? describe_end(r)
                                                     : r.start_error) +
                              ")",
                          r.out, r.err};
    }
  }

  // Output of a query: one line per row, values separated by "|".
  std::string query(std::string sql) {
    std::string t = trim(sql);
    if (t.empty() || t.back() != ';') sql += ";";
    sql += "\n";
    RunResult r =
        backend_ == "sqlite"
            ? tool({sqlite3_, "-bail", "-batch", "-separator", "|", file_}, sql)
            : psql(name_, {"-A", "-t", "-F", "|"}, sql);
    if (!r.start_error.empty() || !r.exited || r.exit_code != 0 ||
        !r.err.empty()) {
      throw DatabaseError{"the check query failed (" +
                              (r.start_error.empty() ? describe_end(r)
                                                     : r.start_error) +
                              "): " + trim(sql),
                          r.out, r.err};
    }
    return r.out;
  }

  // Drops a PostgreSQL database; returns a warning text, or "".
  std::string drop() {
    if (!created_) return "";
    created_ = false;
    RunResult r = psql("postgres", {},
                       "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE);\n");
    if (!r.exited || r.exit_code != 0) {
      return "could not drop database " + name_ + ": " + r.err;
    }
    return "";
  }

 private:
  void open_postgresql() {
    const char* env_path = std::getenv("VEXIL_TEST_PG_ENV");
    std::map<std::string, std::string> settings;
    if (env_path && *env_path) settings = read_settings(env_path);
    if (settings.count("port") == 0) {
      const char* strict = std::getenv("VEXIL_REQUIRE_ALL");
      std::string why =
          env_path && *env_path
              ? std::string("no PostgreSQL test server: ") + env_path +
                    " does not exist or names no port"
              : std::string("no PostgreSQL test server: VEXIL_TEST_PG_ENV is not set");
      if (strict && std::string(strict) == "1") {
        throw DatabaseError{why + " (VEXIL_REQUIRE_ALL=1 does not allow skipping)", "", ""};
      }
      throw SkipCase{why};
    }
    host_ = settings.count("host") ? settings["host"] : "127.0.0.1";
    port_ = settings["port"];
    user_ = settings.count("user") ? settings["user"] : "postgres";
    std::string dirs = path_;
    if (settings.count("bindir")) dirs = settings["bindir"] + ":" + dirs;
    psql_ = find_program("psql", dirs);
    static int counter = 0;
    name_ = "vx_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    RunResult r = psql("postgres", {}, "CREATE DATABASE " + name_ + ";\n");
    if (!r.start_error.empty() || !r.exited || r.exit_code != 0) {
      throw DatabaseError{"creating database " + name_ + " on " + host_ + ":" +
                              port_ + " failed (" +
                              (r.start_error.empty() ? describe_end(r)
                                                     : r.start_error) +
                              ")",
                          r.out, r.err};
    }
    created_ = true;
    dsn_ = "DRIVER=PostgreSQL ANSI;Servername=" + host_ + ";Port=" + port_ +
           ";Database=" + name_ + ";Username=" + user_ +
           ";Password=;SSLmode=disable";
  }

  // Runs a client in the case directory. HOME is that directory, so that no
  // start-up file of the user's changes what the clients print.
  RunResult tool(const std::vector<std::string>& argv,
                 const std::string& input) {
    std::vector<std::string> env{"PATH=" + path_, "HOME=" + dir_, "LC_ALL=C",
                                 "PGCONNECT_TIMEOUT=10",
                                 "PGOPTIONS=-c client_min_messages=warning"};
    return run_process(argv, env, input, dir_);
  }

  RunResult psql(const std::string& database,
                 const std::vector<std::string>& options,
                 const std::string& input) {
    std::vector<std::string> argv{psql_, "-X", "-q", "-v", "ON_ERROR_STOP=1",
                                  "-h", host_, "-p", port_, "-U", user_,
                                  "-d", database};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("-f");
    argv.push_back("-");
    return tool(argv, input);
  }

  std::string backend_;
  std::string dir_;
  std::string path_;
  std::string dsn_;
  std::string sqlite3_;
  std::string file_;
  std::string psql_;
  std::string host_, port_, user_, name_;
  bool created_ = false;
};

// ---------------------------------------------------------------------------

int run_case(const std::string& binary, const std::string& case_path,
             const std::string& backend) {
  std::ostream& out = std::cout;
  auto text = read_file(case_path);
  if (!text) {
    out << "FAIL: cannot read case file " << case_path << "\n";
    return 1;
  }
  Case c;
  try {
    c = parse_case(*text);
  } catch (const CaseError& e) {
    out << "FAIL: malformed case file " << case_path << ": " << e.message
        << "\n";
    return 1;
  }
  if (c.database && backend.empty()) {
    out << "FAIL: " << case_path
        << " is a database case: give --backend sqlite|postgresql\n";
    return 1;
  }
  if (!c.database && !backend.empty()) {
    out << "FAIL: --backend given for " << case_path
        << ", which has no database section\n";
    return 1;
  }
  if (!c.backends.empty() && c.backends.count(backend) == 0) {
    out << "FAIL: " << case_path << " does not run on backend " << backend
        << " (see its backends section)\n";
    return 1;
  }

  const char* tmp_root = std::getenv("TMPDIR");
  std::string templ = std::string(tmp_root && *tmp_root ? tmp_root : "/tmp") +
                      "/vexil-e2e-XXXXXX";
  std::vector<char> templ_buf(templ.begin(), templ.end());
  templ_buf.push_back('\0');
  if (mkdtemp(templ_buf.data()) == nullptr) {
    out << "FAIL: mkdtemp: " << std::strerror(errno) << "\n";
    return 1;
  }
  std::error_code ec;
  const std::string dir = fs::canonical(templ_buf.data(), ec).string();
  if (ec) {
    out << "FAIL: cannot resolve temporary directory " << templ_buf.data()
        << "\n";
    return 1;
  }

  // The database exists before the case's files and setup, so that both can
  // name it; it is dropped when this function returns, however it returns.
  std::optional<Database> db;
  if (c.database) {
    try {
      db.emplace(backend, dir);
      db->load(replace_all(replace_all(*c.database, kDirToken, dir),
                           kBackendToken, backend));
    } catch (const SkipCase& e) {
      fs::remove_all(dir, ec);
      out << "SKIP: " << e.message << "\n";
      return kSkipExitCode;
    } catch (const DatabaseError& e) {
      out << "Case: " << case_path << " (backend " << backend << ")\n";
      out << "FAIL: " << e.message << "\n";
      print_stderr(out, "client stdout", e.tool_out);
      print_stderr(out, "client stderr", e.tool_err);
      out << "Temporary directory kept: " << dir << "\n";
      return 1;
    }
  }
  auto subst = [&](const std::string& s) {
    std::string r = replace_all(s, kDirToken, dir);
    if (db) {
      r = replace_all(r, kDsnToken, db->dsn());
      r = replace_all(r, kBackendToken, backend);
    }
    return r;
  };

  std::vector<std::string> failures;
  RunResult run;
  bool ran = false;
  try {
    for (const NamedText& f : c.files) {
      write_file(fs::path(dir) / f.name, subst(f.content));
    }

    std::vector<std::string> env = base_environment();
    for (const auto& [name, value] : c.env) put_env(env, name, subst(value));

    if (c.setup) {
      std::vector<std::string> setup_env = env;
      put_env(setup_env, "VEXIL", binary);
      RunResult s = run_process({"/bin/sh", "-c", subst(*c.setup)}, setup_env,
                                std::nullopt, dir);
      if (!s.start_error.empty() || !s.exited || s.exit_code != 0) {
        out << "FAIL: setup script failed: "
            << (s.start_error.empty() ? describe_end(s) : s.start_error)
            << "\n";
        print_stderr(out, "setup stdout", s.out);
        print_stderr(out, "setup stderr", s.err);
        out << "Temporary directory kept: " << dir << "\n";
        return 1;
      }
    }

    std::vector<std::string> argv{binary};
    for (const std::string& a : c.args) argv.push_back(subst(a));
    std::optional<std::string> in;
    if (c.stdin_text) in = subst(*c.stdin_text);
    run = run_process(argv, env, in, dir);
    ran = true;
  } catch (const std::exception& e) {
    failures.push_back(std::string("preparing the run: ") + e.what());
  } catch (const CaseError& e) {
    failures.push_back("preparing the run: " + e.message);
  }

  std::ostringstream details;
  if (ran) {
    if (!run.start_error.empty()) {
      failures.push_back("running the program: " + run.start_error);
    } else if (run.left_output_open) {
      failures.push_back("program " + describe_end(run));
    } else if (!run.exited || run.timed_out || run.output_too_large) {
      failures.push_back("program " + describe_end(run) +
                         ", expected exit code " +
                         std::to_string(c.expected_exit));
    } else if (run.exit_code != c.expected_exit) {
      failures.push_back("exit code " + std::to_string(run.exit_code) +
                         ", expected " + std::to_string(c.expected_exit));
    }

    if (c.expected_stdout) {
      std::string expected = subst(*c.expected_stdout);
      if (expected != run.out) {
        failures.push_back("stdout differs");
        report_text_mismatch(details, "stdout", expected, run.out);
      }
    }
    for (const std::string& needle : c.stdout_contains) {
      std::string n = subst(needle);
      if (run.out.find(n) == std::string::npos) {
        failures.push_back("stdout does not contain: " + escape_bytes(n));
      }
    }
    bool stdout_shown = c.expected_stdout && subst(*c.expected_stdout) != run.out;

    for (const NamedText& f : c.expect_files) {
      fs::path p = fs::path(dir) / f.name;
      std::string expected = subst(f.content);
      if (!fs::is_regular_file(p, ec)) {
        failures.push_back("expected file is missing: " + f.name);
        continue;
      }
      auto actual = read_file(p);
      if (!actual) {
        failures.push_back("cannot read file: " + f.name);
      } else if (*actual != expected) {
        failures.push_back("file " + f.name + " differs");
        report_text_mismatch(details, "file " + f.name, expected, *actual);
      }
    }
    for (const std::string& name : c.expect_no_files) {
      fs::path p = fs::path(dir) / name;
      if (fs::symlink_status(p, ec).type() != fs::file_type::not_found) {
        failures.push_back("file should not exist: " + name);
      }
    }

    for (const NamedText& check : c.checks) {
      std::string expected = subst(check.content);
      try {
        std::string actual = db->query(subst(check.name));
        if (actual != expected) {
          failures.push_back("check query gives other rows: " + check.name);
          report_text_mismatch(details, "rows of '" + check.name + "'",
                               expected, actual);
        }
      } catch (const DatabaseError& e) {
        failures.push_back(e.message);
        print_stderr(details, "client stdout", e.tool_out);
        print_stderr(details, "client stderr", e.tool_err);
      }
    }

    if (!unexpected_stderr(run.err).empty() && !c.stderr_allowed) {
      failures.push_back("stderr is not empty");
    }

    if (!failures.empty() && !stdout_shown) {
      print_block(details, "stdout", run.out, 0);
    }
  }

  if (db) {
    std::string warning = db->drop();
    if (!warning.empty()) out << "warning: " << warning << "\n";
  }

  if (failures.empty()) {
    fs::remove_all(dir, ec);
    if (ec) {
      out << "warning: could not remove " << dir << ": " << ec.message()
          << "\n";
    }
    out << "PASS " << case_path;
    if (!backend.empty()) out << " (backend " << backend << ")";
    out << "\n";
    return 0;
  }

  out << "Case: " << case_path;
  if (!backend.empty()) out << " (backend " << backend << ")";
  out << "\n";
  for (const std::string& f : failures) out << "FAIL: " << f << "\n";
  out << details.str();
  if (ran) print_stderr(out, "stderr", run.err);
  out << "Temporary directory kept: " << dir << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string backend;
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "--backend") {
    if (argc < 3) {
      std::cerr << "e2e_runner: --backend needs a name\n";
      return 1;
    }
    backend = argv[2];
    bool known = false;
    for (const char* b : kBackends) known = known || backend == b;
    if (!known) {
      std::cerr << "e2e_runner: unknown backend '" << backend
                << "' (known: sqlite, postgresql)\n";
      return 1;
    }
    first = 3;
  }
  if (argc - first != 2) {
    std::cerr << "usage: " << (argc > 0 ? argv[0] : "e2e_runner")
              << " [--backend sqlite|postgresql] <vexil binary> <case file>\n";
    return 1;
  }
  // A program that closes its standard input early must not kill the runner
  // while it is still writing the case's stdin.
  signal(SIGPIPE, SIG_IGN);

  std::error_code ec;
  fs::path binary = fs::absolute(argv[first], ec);
  if (ec || access(binary.c_str(), X_OK) != 0) {
    std::cout << "FAIL: program is not an executable file: " << argv[first]
              << "\n";
    return 1;
  }
  return run_case(binary.string(), argv[first + 1], backend);
}
