// End-to-end test runner (tests/e2e/README.md describes the case format).
//   e2e_runner [--backend sqlite|postgresql|mariadb] <vexil binary> <case file>
//     runs one case in a fresh process and temporary directory;
//   e2e_runner --in-process <vexil binary> <case file>...
//     runs each case in a fresh process and as a vexil::run_program call in
//     this one process, after the others (database cases on SQLite);
//   e2e_runner --fastcgi <vexil binary> <case file>...
//     sends every web case, shuffled, twice over, through one worker
//     (vexil --fastcgi <socket> --workers 1) with cgi-fcgi.
// Either of the last two must give what a fresh process gives and what the
// case expects. Exit status: 0 pass, 1 fail (a malformed case file too), 77
// skipped (a missing database server or cgi-fcgi, unless VEXIL_REQUIRE_ALL=1).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "driver/driver.hpp"

namespace fs = std::filesystem;

namespace {

constexpr int kTimeLimit = 60;                 // seconds
constexpr std::size_t kMaxOutput = 64u << 20;  // bytes kept per run
constexpr std::size_t kWindow = 1000;          // bytes shown around a difference

struct Failure { std::string message; };
struct Skip { std::string message; };

using Texts = std::vector<std::pair<std::string, std::string>>;  // name, content
using Strings = std::vector<std::string>;
using Env = std::map<std::string, std::string>;

struct Case {
  Strings args;
  Env env;
  std::optional<std::string> stdin_text, setup, stdout_text, database;
  Strings contains, no_files;
  Texts files, expect_files, checks;
  std::set<std::string> backends;
  int exit_code = 0;
  bool stderr_allowed = false;
};

bool is_backend(const std::string& b) { return b == "sqlite" || b == "postgresql" || b == "mariadb"; }

bool require_all() {
  const char* s = std::getenv("VEXIL_REQUIRE_ALL");
  return s && std::string(s) == "1";
}

std::string trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r\n");
  return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// Lines without their "\n"; a last line without "\n" counts too.
Strings lines_of(const std::string& text) {
  Strings lines;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t nl = std::min(text.find('\n', pos), text.size());
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return lines;
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size()) {
    s.replace(pos, from.size(), to);
  }
  return s;
}

std::optional<std::string> read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// --- Case files -------------------------------------------------------------

Case parse_case(const std::string& text) {
  struct Section {
    std::string kind, name, content;
    bool noeol = false;
    int line = 0;
  };
  std::vector<Section> sections;
  int line_no = 0;
  for (std::size_t pos = 0; pos < text.size(); ++line_no) {
    std::size_t end = std::min(text.find('\n', pos), text.size() - 1) + 1;
    std::string line = text.substr(pos, end - pos);
    pos = end;
    if (line.rfind("=== ", 0) != 0) {
      if (!sections.empty()) sections.back().content += line;  // else a comment
      continue;
    }
    Section s;
    s.line = line_no + 1;
    std::string h = trim(line.substr(4));
    if (h == "noeol" || h.ends_with(" noeol") || h.ends_with("\tnoeol")) {
      s.noeol = true;
      h = trim(h.substr(0, h.size() - 5));
    }
    std::size_t blank = h.find_first_of(" \t");
    s.kind = h.substr(0, blank);
    if (blank != std::string::npos) s.name = trim(h.substr(blank));
    sections.push_back(s);
  }

  static const std::set<std::string> kKinds{
      "args", "env", "stdin", "file", "setup", "stdout", "stdout-contains", "exit", "expect-file",
      "expect-no-file", "stderr-allowed", "database", "backends", "check"};
  static const std::set<std::string> kNamed{"file", "expect-file", "expect-no-file", "check"};
  Case c;
  std::set<std::string> seen, file_names, expect_names;
  for (Section& s : sections) {
    auto bad = [&](const std::string& why) {
      return Failure{"malformed case file: line " + std::to_string(s.line) + ": " + why};
    };
    const std::string& k = s.kind;
    const bool named = kNamed.count(k) > 0;
    if (!kKinds.count(k)) throw bad("unknown section '" + k + "'");
    if (named && s.name.empty()) throw bad("section '" + k + "' needs a name");
    if (!named && !s.name.empty()) throw bad("section '" + k + "' takes no name");
    if (!named && !seen.insert(k).second) throw bad("section '" + k + "' given twice");
    if (named && k != "check") {
      if (s.name[0] == '/' || ("/" + s.name + "/").find("/../") != std::string::npos) {
        throw bad("file name must be relative and without '..': " + s.name);
      }
      auto& names = k == "file" ? file_names : expect_names;
      if (!names.insert(fs::path(s.name).lexically_normal()).second) {
        throw bad("file named twice: " + s.name);
      }
    }
    if (s.noeol && !s.content.empty() && s.content.back() == '\n') s.content.pop_back();

    if (k == "args") {
      c.args = lines_of(s.content);
    } else if (k == "env") {
      for (const std::string& l : lines_of(s.content)) {
        if (l.empty()) continue;
        std::size_t eq = l.find('=');
        if (eq == 0 || eq == std::string::npos) throw bad("env line is not NAME=VALUE: " + l);
        c.env[l.substr(0, eq)] = l.substr(eq + 1);
      }
    } else if (k == "stdout-contains") {
      for (const std::string& l : lines_of(s.content)) {
        if (!l.empty()) c.contains.push_back(l);
      }
      if (c.contains.empty()) throw bad("stdout-contains has no non-empty line");
    } else if (k == "exit") {
      std::string t = trim(s.content);
      if (t.empty() || t.size() > 3 || t.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(t) > 255) {
        throw bad("exit needs a number from 0 to 255, got '" + t + "'");
      }
      c.exit_code = std::stoi(t);
    } else if (k == "backends") {
      for (const std::string& l : lines_of(s.content)) {
        std::string b = trim(l);
        if (b.empty()) continue;
        if (!is_backend(b)) throw bad("unknown backend '" + b + "'");
        c.backends.insert(b);
      }
      if (c.backends.empty()) throw bad("backends names no backend");
    } else if (k == "expect-no-file") {
      c.no_files.push_back(s.name);
    } else if (k == "stderr-allowed") {
      c.stderr_allowed = true;
    } else if (named) {
      (k == "file" ? c.files : k == "check" ? c.checks : c.expect_files).emplace_back(s.name, s.content);
    } else {
      (k == "stdin" ? c.stdin_text : k == "setup" ? c.setup : k == "stdout" ? c.stdout_text : c.database) =
          s.content;
    }
  }
  if (!c.database && (!c.backends.empty() || !c.checks.empty())) {
    throw Failure{"malformed case file: 'backends' and 'check' need a 'database' section"};
  }
  return c;
}

// --- Showing differences ----------------------------------------------------

// Every byte visible: "\n" as \n plus a line break; \r, \t, \\ and \xHH.
std::string escape(const std::string& s) {
  std::string out;
  char buf[8];
  for (unsigned char ch : s) {
    const char* e = ch == '\n' ? "\\n\n" : ch == '\r' ? "\\r" : ch == '\t' ? "\\t" : ch == '\\' ? "\\\\" : nullptr;
    if (!e && (ch < 0x20 || ch >= 0x7f)) e = buf, std::snprintf(buf, sizeof buf, "\\x%02X", ch);
    if (e) out += e; else out += static_cast<char>(ch);
  }
  return out;
}

std::string block(const std::string& label, std::string text, const std::string& note = "") {
  if (!text.empty() && text.back() != '\n') text += '\n';
  return "----- " + label + note + " -----\n" + text + "----- end of " + label + " -----\n";
}

// Escaped text of up to 2 * kWindow bytes from `from`.
std::string shown(const std::string& label, const std::string& text, std::size_t from) {
  from = std::min(from, text.size());
  return block(label, escape(text.substr(from, 2 * kWindow)),
               " (" + std::to_string(text.size()) + " bytes, shown from byte " +
                   std::to_string(from) + ")");
}

// Adds a failure for `what` and both texts around their first difference.
void compare(const std::string& what, const std::string& want, const std::string& got,
             Strings& failures, std::string& details) {
  if (want == got) return;
  std::size_t at = 0;
  while (at < want.size() && at < got.size() && want[at] == got[at]) ++at;
  failures.push_back(what + " differs at byte offset " + std::to_string(at));
  std::size_t from = at > kWindow ? at - kWindow : 0;
  details += shown("expected " + what, want, from) + shown("actual " + what, got, from);
}

// --- Running a process ------------------------------------------------------

struct Result {
  std::string out, err;
  int status = 0;
  std::string killed;  // why the runner killed it, if it did
};

std::string describe(const Result& r) {
  if (!r.killed.empty()) return "killed: " + r.killed;
  if (WIFSIGNALED(r.status)) {
    return "died of signal " + std::to_string(WTERMSIG(r.status)) + " (" +
           strsignal(WTERMSIG(r.status)) + ")";
  }
  return "exit code " + std::to_string(WEXITSTATUS(r.status));
}

bool exited_with(const Result& r, int code) {
  return r.killed.empty() && WIFEXITED(r.status) && WEXITSTATUS(r.status) == code;
}

Failure system_failure(const std::string& what) { return Failure{what + ": " + std::strerror(errno)}; }

// The run's standard input: `input` in a memory file, or /dev/null.
int input_fd(const std::optional<std::string>& input) {
  int in = input ? memfd_create("stdin", MFD_CLOEXEC) : open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (in < 0 || (input && (write(in, input->data(), input->size()) != ssize_t(input->size()) ||
                           lseek(in, 0, SEEK_SET) != 0))) {
    throw system_failure("cannot prepare a run");
  }
  return in;
}

// Null-terminated pointers to the texts, for exec and run_program.
std::vector<char*> c_strings(const Strings& items) {
  std::vector<char*> v;
  for (const std::string& s : items) v.push_back(const_cast<char*>(s.c_str()));
  v.push_back(nullptr);
  return v;
}

// Starts argv (searched in PATH) in dir with exactly env and the given
// standard streams, in a process group of its own.
pid_t spawn(const Strings& argv, const Strings& env, const int (&fds)[3], const std::string& dir) {
  std::vector<char*> cargv = c_strings(argv), cenv = c_strings(env);
  pid_t pid = fork();
  if (pid < 0) throw system_failure("fork");
  if (pid == 0) {
    setpgid(0, 0);
    signal(SIGPIPE, SIG_DFL);
    for (int fd = 0; fd < 3; ++fd) {
      if (dup2(fds[fd], fd) < 0) _exit(126);
    }
    if (chdir(dir.c_str()) != 0) _exit(126);
    execvpe(cargv[0], cargv.data(), cenv.data());
    dprintf(2, "e2e_runner: cannot run %s: %s\n", cargv[0], std::strerror(errno));
    _exit(127);
  }
  setpgid(pid, pid);
  return pid;
}

// Runs argv with stdin from `input`; the process group is killed at the
// time limit or when it writes too much.
Result run(const Strings& argv, const Strings& env, const std::optional<std::string>& input,
           const std::string& dir) {
  int in = input_fd(input), out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw system_failure("pipe");
  pid_t pid = spawn(argv, env, {in, out[1], err[1]}, dir);
  for (int fd : {in, out[1], err[1]}) close(fd);

  Result r;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* dest[2] = {&r.out, &r.err};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeLimit);
  bool reaped = false;
  char buf[65536];
  // A process left behind may hold the output open: the time limit covers that too.
  while (!reaped || fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      r.killed = "time limit of " + std::to_string(kTimeLimit) + " s, process group killed";
    } else if (r.out.size() + r.err.size() > kMaxOutput) {
      r.killed = "output over " + std::to_string(kMaxOutput) + " bytes";
    }
    if (!r.killed.empty()) {
      kill(-pid, SIGKILL);
      if (!reaped) waitpid(pid, &r.status, 0);
      break;
    }
    poll(fds, 2, fds[0].fd < 0 && fds[1].fd < 0 ? 1 : 50);
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        dest[i]->append(buf, std::size_t(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
    if (!reaped) reaped = waitpid(pid, &r.status, WNOHANG) == pid;
  }
  for (pollfd& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  return r;
}

// Stderr without the AddressSanitizer warning "==<pid>==WARNING: AddressSanitizer
// failed to allocate 0x<hex> bytes", printed under allocator_may_return_null=1
// when the program gets a null pointer (as it would in a normal build).
std::string unexpected_stderr(const std::string& err) {
  const std::string mid = "==WARNING: AddressSanitizer failed to allocate 0x", end = " bytes";
  std::string kept;
  for (const std::string& l : lines_of(err)) {
    std::size_t m = l.find(mid), hex = m + mid.size();
    bool warning = m != std::string::npos && m > 2 && l.starts_with("==") &&
                   l.find_first_not_of("0123456789", 2) == m && l.ends_with(end) &&
                   l.size() > hex + end.size() &&
                   l.find_first_not_of("0123456789abcdefABCDEF", hex) == l.size() - end.size();
    if (!warning) kept += l + "\n";
  }
  return kept;
}

// The runner's variables that every run gets: the sanitizer, ODBC and test settings.
Env passed_environment() {
  static const std::set<std::string> kPass{"PATH",         "ASAN_OPTIONS", "UBSAN_OPTIONS",
                                           "LSAN_OPTIONS", "ODBCSYSINI",   "ODBCINI"};
  Env env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string s = *e, n = s.substr(0, s.find('='));
    if (kPass.count(n) || n.starts_with("VEXIL_TEST_")) env[n] = s.substr(n.size() + 1);
  }
  return env;
}

Strings flat(const Env& m) {
  Strings v;
  for (const auto& [n, value] : m) v.push_back(n + "=" + value);
  return v;
}

// --- Databases --------------------------------------------------------------

// A fresh database for one case: the file test.db for sqlite, a new database
// on the test server for postgresql and mariadb (dropped by the destructor).
struct Database {
  std::string backend, dir, dsn, client, host, port, user, name;

  Database(const std::string& backend_name, const std::string& case_dir)
      : backend(backend_name), dir(case_dir) {
    if (backend == "sqlite") {
      dsn = "DRIVER=SQLite3;Database=" + dir + "/test.db";
      return;
    }
    bool pg = backend == "postgresql";
    const char* variable = pg ? "VEXIL_TEST_PG_ENV" : "VEXIL_TEST_MARIA_ENV";
    const char* env_file = std::getenv(variable);
    Env set;
    for (const std::string& l : lines_of(read_file(env_file ? env_file : "").value_or(""))) {
      std::size_t eq = l.find('=');
      if (eq != std::string::npos) set[trim(l.substr(0, eq))] = trim(l.substr(eq + 1));
    }
    if (!set.count("port")) {
      std::string why = std::string("no ") + (pg ? "PostgreSQL" : "MariaDB") +
                        " test server (no port in the file " + variable + " names)";
      if (require_all()) throw Failure{why + "; VEXIL_REQUIRE_ALL=1"};
      throw Skip{why};
    }
    host = set.emplace("host", "127.0.0.1").first->second;
    port = set["port"];
    user = set.emplace("user", pg ? "postgres" : "vexil").first->second;
    client = pg ? "psql" : "mariadb";
    if (pg && access((set["bindir"] + "/psql").c_str(), X_OK) == 0) client = set["bindir"] + "/psql";
    if (!pg && access(set["client"].c_str(), X_OK) == 0) client = set["client"];
    name = "vx_" + std::to_string(getpid());
    sql("CREATE DATABASE " + name + ";\n", "creating database " + name, false, pg ? "postgres" : "mysql");
    if (pg) {
      dsn = "DRIVER=PostgreSQL ANSI;Servername=" + host + ";Port=" + port + ";Database=" + name +
            ";Username=" + user + ";Password=;SSLmode=disable";
    } else {
      dsn = "DRIVER=MariaDB;Server=" + host + ";Port=" + port + ";Database=" + name + ";User=" + user +
            ";Password=;CHARSET=utf8mb4;OPTION=2";
    }
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  ~Database() {
    if (dsn.empty() || backend == "sqlite") return;
    bool pg = backend == "postgresql";
    try {
      sql("DROP DATABASE IF EXISTS " + name + (pg ? " WITH (FORCE);\n" : ";\n"), "dropping " + name, false,
          pg ? "postgres" : "mysql");
    } catch (const Failure& f) {
      std::cout << "warning: " << f.message;
    }
  }

  // Runs SQL with the backend's client; `rows` prints rows as "a|b" lines.
  // Throws when the client fails (or writes to stderr, except when pg loads).
  std::string sql(const std::string& text, const std::string& what, bool rows = false,
                  const std::string& on = "") {
    Strings argv;
    if (backend == "sqlite") {
      argv = {"sqlite3", "-bail", "-batch"};
      if (rows) argv.insert(argv.end(), {"-separator", "|"});
      argv.push_back(dir + "/test.db");
    } else if (backend == "postgresql") {
      argv = {client, "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", host, "-p", port, "-U", user,
              "-d", on.empty() ? name : on, "-f", "-"};
      if (rows) argv.insert(argv.end(), {"-A", "-t", "-F", "|"});
    } else {
      // Tab-separated rows with NULL written "NULL" (--raw: values as they
      // are). The scripts and checks are read as standard SQL ("..." a name,
      // || joins texts, a backslash is a character); the program's own
      // connections keep the server's default mode.
      argv = {client, "--no-defaults", "--batch", "--raw", "--skip-column-names",
              "--default-character-set=utf8mb4", "--connect-timeout=10",
              "--init-command=SET sql_mode = CONCAT(@@sql_mode, ',ANSI_QUOTES,PIPES_AS_CONCAT,NO_BACKSLASH_ESCAPES')",
              "-h", host, "-P", port, "-u", user, "-D", on.empty() ? name : on};
    }
    // HOME is the case directory, so that no start-up file of the user's counts.
    const char* path = std::getenv("PATH");
    Result r = run(argv,
                   {"PATH=" + std::string(path ? path : "/usr/bin:/bin"), "HOME=" + dir, "LC_ALL=C",
                    "PGCONNECT_TIMEOUT=10", "PGOPTIONS=-c client_min_messages=warning"},
                   text, dir);
    if (!exited_with(r, 0) || (!r.err.empty() && (rows || backend != "postgresql"))) {
      throw Failure{what + " failed (" + describe(r) + ")\n" + block("client stdout", r.out) +
                    block("client stderr", r.err)};
    }
    return backend == "mariadb" && rows ? as_list_rows(r.out) : r.out;
  }

  // The mariadb client's rows as the other clients print them: values
  // separated by "|", NULL as nothing.
  static std::string as_list_rows(const std::string& tabbed) {
    std::string out;
    for (const std::string& line : lines_of(tabbed)) {
      std::size_t start = 0;
      for (;;) {
        std::size_t end = line.find('\t', start);
        std::string value = line.substr(start, end == std::string::npos ? end : end - start);
        if (value != "NULL") out += value;
        if (end == std::string::npos) break;
        out += '|';
        start = end + 1;
      }
      out += '\n';
    }
    return out;
  }
};

// --- One case ---------------------------------------------------------------

void write_file(const fs::path& p, const std::string& content) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << content;
  out.close();
  if (!out) throw Failure{"cannot write " + p.string()};
}

// How the program is started: `run` (a fresh process), run_in_process or
// through a FastCGI worker.
using Runner = std::function<Result(const Strings& argv, const Strings& env,
                                    const std::optional<std::string>& input, const std::string& dir)>;

// Runs the case in dir; adds what went wrong to failures and details and
// returns what the program produced.
Result run_case(const Case& c, const std::string& binary, const std::string& backend,
                const std::string& dir, Strings& failures, std::string& details,
                const Runner& runner = run) {
  std::optional<Database> db;
  if (c.database) db.emplace(backend, dir);
  // @QUOTE@: the character that quotes a name on the backend (as the
  // program writes it into statements); @QUOTE_HTML@: the same in page text.
  bool backquote = backend == "mariadb";
  auto subst = [&](const std::string& s) {
    std::string r = replace_all(s, "@DIR@", dir);
    if (!db) return r;
    r = replace_all(replace_all(r, "@DSN@", db->dsn), "@BACKEND@", backend);
    r = replace_all(r, "@QUOTE_HTML@", backquote ? "`" : "&quot;");
    return replace_all(r, "@QUOTE@", backquote ? "`" : "\"");
  };
  if (db) db->sql(subst(*c.database), "loading the database script");
  for (const auto& [name, content] : c.files) write_file(fs::path(dir) / name, subst(content));

  Env env = passed_environment();
  for (const auto& [n, v] : c.env) env[n] = subst(v);
  if (c.setup) {
    Env setup_env = env;
    setup_env["VEXIL"] = binary;
    Result s = run({"/bin/sh", "-c", subst(*c.setup)}, flat(setup_env), std::nullopt, dir);
    if (!exited_with(s, 0)) {
      throw Failure{"setup script failed (" + describe(s) + ")\n" + block("setup stdout", s.out) +
                    block("setup stderr", s.err)};
    }
  }

  Strings argv{binary};
  for (const std::string& a : c.args) argv.push_back(subst(a));
  std::optional<std::string> input;
  if (c.stdin_text) input = subst(*c.stdin_text);
  Result r = runner(argv, flat(env), input, dir);

  if (!exited_with(r, c.exit_code)) {
    failures.push_back("program " + describe(r) + ", expected exit code " +
                       std::to_string(c.exit_code));
  }
  std::size_t before = failures.size();
  if (c.stdout_text) compare("stdout", subst(*c.stdout_text), r.out, failures, details);
  bool stdout_shown = failures.size() > before;
  for (const std::string& needle : c.contains) {
    if (r.out.find(subst(needle)) == std::string::npos) {
      failures.push_back("stdout does not contain: " + escape(subst(needle)));
    }
  }
  std::error_code ec;
  for (const auto& [name, content] : c.expect_files) {
    fs::path p = fs::path(dir) / name;
    if (!fs::is_regular_file(p, ec)) {
      failures.push_back("expected file is missing: " + name);
    } else {
      compare("file " + name, subst(content), read_file(p).value_or(""), failures, details);
    }
  }
  for (const std::string& name : c.no_files) {
    if (fs::symlink_status(fs::path(dir) / name, ec).type() != fs::file_type::not_found) {
      failures.push_back("file should not exist: " + name);
    }
  }
  for (const auto& [query, rows] : c.checks) {
    std::string q = subst(query);
    if (trim(q).back() != ';') q += ";";
    try {
      compare("rows of '" + q + "'", subst(rows), db->sql(q + "\n", "check query " + q, true),
              failures, details);
    } catch (const Failure& f) {
      failures.push_back(f.message);
    }
  }
  if (!c.stderr_allowed && !unexpected_stderr(r.err).empty()) {
    failures.push_back("stderr is not empty");
  }
  if (!failures.empty()) {
    if (!stdout_shown) details += shown("stdout", r.out, 0);
    details += block("stderr", r.err);
  }
  return r;
}

// Runs the program as a vexil::run_program call in this process, with what
// a fresh process would get, its standard output and error in memory files;
// everything is put back afterwards. No time limit applies.
Result run_in_process(const Strings& argv, const Strings& env, const std::optional<std::string>& input,
                      const std::string& dir) {
  int given[3] = {input_fd(input), memfd_create("stdout", MFD_CLOEXEC), memfd_create("stderr", MFD_CLOEXEC)};
  if (given[1] < 0 || given[2] < 0) throw system_failure("cannot prepare a run");
  std::vector<char*> cenv = c_strings(env);
  char** saved_env = environ;
  fs::path saved_dir = fs::current_path();
  std::cout.flush();
  std::fflush(nullptr);
  int saved[3];
  for (int fd = 0; fd < 3; ++fd) {
    saved[fd] = dup(fd);
    dup2(given[fd], fd);
  }
  clearerr(stdin);
  environ = cenv.data();  // exactly env, as a fresh process gets
  fs::current_path(dir);
  Strings args = argv;  // the run may change its arguments
  std::vector<char*> cargv = c_strings(args);
  int code = vexil::run_program(int(args.size()), cargv.data());

  std::fflush(nullptr);
  fs::current_path(saved_dir);
  environ = saved_env;
  for (int fd = 0; fd < 3; ++fd) {
    dup2(saved[fd], fd);
    close(saved[fd]);
  }
  clearerr(stdin);
  std::string text[3];
  char buf[65536];
  for (int fd = 0; fd < 3; ++fd) {
    lseek(given[fd], 0, SEEK_SET);
    for (ssize_t n; fd > 0 && (n = read(given[fd], buf, sizeof buf)) > 0;) text[fd].append(buf, std::size_t(n));
    close(given[fd]);
  }
  Result r;
  r.out = text[1];
  r.err = text[2];
  r.status = (code & 0xff) << 8;  // as waitpid reports a normal exit
  return r;
}

std::string make_case_dir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexil-e2e-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) throw Failure{"mkdtemp failed"};
  return fs::canonical(tmpl);
}

// One case in a fresh process, and given `second` also that way (`where`
// names it), where both outcomes must agree as well as be right. Prints the
// verdict; returns 0 pass, 1 fail, 77 skipped.
int check_case(const std::string& binary, std::string backend, const std::string& case_path,
               const Runner& second = nullptr, const std::string& where = "") {
  std::string title = case_path + (backend.empty() ? "" : " (backend " + backend + ")");
  Strings dirs, failures;
  std::string details;
  try {
    if (access(binary.c_str(), X_OK) != 0) throw Failure{"not an executable file: " + binary};
    auto text = read_file(case_path);
    if (!text) throw Failure{"cannot read the case file"};
    Case c = parse_case(*text);
    if (second && c.database) backend = "sqlite";
    if (c.database && backend.empty()) throw Failure{"a database case needs --backend"};
    if (!c.database && !backend.empty()) throw Failure{"--backend given for a case without database"};
    if (!c.backends.empty() && !c.backends.count(backend)) {
      throw Failure{"the case's backends section does not name " + backend};
    }
    dirs.push_back(make_case_dir());
    Result fresh = run_case(c, binary, backend, dirs[0], failures, details);
    if (second) {
      title += " (" + where + ")";
      dirs.push_back(make_case_dir());
      Strings own;
      Result other = run_case(c, binary, backend, dirs[1], own, details, second);
      for (const std::string& f : own) failures.push_back(where + ": " + f);
      // The directories differ; everything else must not.
      compare("stdout " + where + " against a fresh process",
              replace_all(fresh.out, dirs[0], "@DIR@"), replace_all(other.out, dirs[1], "@DIR@"),
              failures, details);
      if (describe(fresh) != describe(other)) {
        failures.push_back(where + ": " + describe(other) + ", in a fresh process: " + describe(fresh));
      }
    }
  } catch (const Skip& s) {
    for (const std::string& d : dirs) fs::remove_all(d);
    std::cout << "SKIP: " << s.message << "\n";
    return 77;
  } catch (const Failure& f) {
    failures.push_back(f.message);
  } catch (const std::exception& e) {
    failures.push_back(e.what());
  }
  if (failures.empty()) {
    for (const std::string& d : dirs) fs::remove_all(d);
    std::cout << "PASS " << title << "\n";
    return 0;
  }
  std::cout << "Case: " << title << "\n";
  for (const std::string& f : failures) std::cout << "FAIL: " << f << (f.ends_with('\n') ? "" : "\n");
  std::cout << details;
  for (const std::string& d : dirs) std::cout << "Temporary directory kept: " << d << "\n";
  return 1;
}

// --- Through a persistent FastCGI worker ------------------------------------

// `vexil --fastcgi <socket> --workers 1` in a folder of its own, its
// standard error in a file; stopped when this object goes.
struct Worker {
  std::string dir = make_case_dir(), socket = dir + "/sock", log = dir + "/stderr";
  pid_t pid = -1;

  explicit Worker(const std::string& binary) {
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (null < 0 || err < 0) throw system_failure("cannot open the worker's streams");
    pid = spawn({binary, "--fastcgi", socket, "--workers", "1"}, flat(passed_environment()),
                {null, null, err}, dir);
    close(null);
    close(err);
    // The socket's file appears before the master listens on it: a request
    // without variables, answered with an error page, shows it is ready.
    for (int i = 0; i < 200; ++i) {
      if (!fcgi(flat(passed_environment()), std::nullopt, dir).out.empty()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw Failure{"nothing answers on " + socket};
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker() {
    stop();
    fs::remove_all(dir);
  }

  Result fcgi(const Strings& env, const std::optional<std::string>& input, const std::string& in) const {
    return run({"cgi-fcgi", "-bind", "-connect", socket}, env, input, in);
  }

  // SIGTERM, then after 10 s SIGKILL to the process group. Returns what the
  // master and its worker wrote to standard error, and whether they ended well.
  std::string stop() {
    if (pid <= 0) return {};
    kill(pid, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string problems;
    if (!ended) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      problems = "the master did not stop within 10 s of SIGTERM\n";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      problems = "the master ended with status " + std::to_string(status) + "\n";
    }
    kill(-pid, SIGKILL);  // anything the worker left behind
    pid = -1;
    return problems + unexpected_stderr(read_file(log).value_or(""));
  }
};

// Every web case (one that sets REQUEST_METHOD) through one worker, in
// shuffled order, twice over. Returns the number of failed runs.
int check_fastcgi(const std::string& binary, const Strings& case_paths, int& runs) {
  Strings web;
  for (const std::string& path : case_paths) {
    Case c = parse_case(read_file(path).value_or(""));
    auto method = c.env.find("REQUEST_METHOD");
    // Database cases run on SQLite here; a case for another database only is left out.
    bool sqlite_ok = !c.database || c.backends.empty() || c.backends.count("sqlite");
    if (method != c.env.end() && !method->second.empty() && sqlite_ok) web.push_back(path);
  }
  const char* seed_text = std::getenv("VEXIL_TEST_SEED");
  unsigned seed = seed_text ? unsigned(std::strtoul(seed_text, nullptr, 10)) : std::random_device{}();
  std::cout << "web cases: " << web.size() << " of " << case_paths.size()
            << "; order seed (VEXIL_TEST_SEED): " << seed << "\n";
  std::mt19937 shuffle(seed);
  int failed = 0;
  std::string problems;
  try {
    Worker worker(binary);
    Runner through_worker = [&](const Strings&, const Strings& env, const std::optional<std::string>& input,
                                const std::string& dir) {
      Strings request = env;
      request.push_back("VEXIL_WORK_FOLDER=" + dir);
      return worker.fcgi(request, input, dir);
    };
    for (int round = 1; round <= 2; ++round) {
      std::shuffle(web.begin(), web.end(), shuffle);
      for (const std::string& path : web) {
        ++runs;
        failed += check_case(binary, "", path, through_worker, "through the FastCGI worker") != 0;
      }
    }
    problems = worker.stop();
  } catch (const Failure& f) {
    problems += f.message + "\n";
  }
  if (!problems.empty()) std::cout << "FAIL: the worker:\n" << problems;
  return failed + !problems.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Strings args(argv + 1, argv + argc);
  if (args.size() >= 3 && (args[0] == "--in-process" || args[0] == "--fastcgi")) {
    const std::string binary = fs::absolute(args[1]);
    const Strings cases(args.begin() + 2, args.end());
    int failed = 0, runs = 0;
    if (args[0] == "--fastcgi") {
      if (!exited_with(run({"/bin/sh", "-c", "command -v cgi-fcgi"}, flat(passed_environment()),
                           std::nullopt, "/"), 0)) {
        std::cout << (require_all() ? "FAIL" : "SKIP") << ": cgi-fcgi is not installed\n";
        return require_all() ? 1 : 77;
      }
      failed = check_fastcgi(binary, cases, runs);
    } else {
      // Standard input unbuffered: nothing one case leaves unread in the
      // stream's buffer can reach the next.
      std::setvbuf(stdin, nullptr, _IONBF, 0);
      for (const std::string& path : cases) {
        ++runs;
        failed += check_case(binary, "", path, run_in_process, "in this process") != 0;
      }
    }
    std::cout << failed << " of " << runs << (args[0] == "--fastcgi" ? " runs" : " cases") << " failed\n";
    return failed == 0 ? 0 : 1;
  }
  std::string backend;
  if (args.size() == 4 && args[0] == "--backend" && is_backend(args[1])) {
    backend = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() != 2) {
    std::cerr << "usage: e2e_runner [--backend sqlite|postgresql|mariadb] <vexil binary> <case file>\n"
                 "       e2e_runner --in-process <vexil binary> <case file>...\n"
                 "       e2e_runner --fastcgi <vexil binary> <case file>...\n";
    return 1;
  }
  return check_case(fs::absolute(args[0]), backend, args[1]);
}
