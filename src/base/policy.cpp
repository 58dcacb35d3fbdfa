// Run policy: reading the site's settings and confining file names to the
// site's folders.
#include "base/policy.hpp"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "base/output.hpp"
#include "base/run_io.hpp"

namespace vexil {

namespace {
const char* env(const char* name) {
    const char* value = run_env(name);
    return value != nullptr ? value : "";
}

// The real path of an existing folder, or "".
std::string real_folder(const char* name) {
    if (name[0] == '\0') return {};
    char resolved[PATH_MAX];
    if (::realpath(name, resolved) == nullptr) return {};
    struct stat info;
    if (::stat(resolved, &info) != 0 || !S_ISDIR(info.st_mode)) return {};
    std::string path(resolved);
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string read_secret(const char* file) {
    if (file[0] == '\0') return {};
    // C stdio rather than a file stream: the stream classes would bring
    // the C++ locale machinery into the program, and its size into every
    // CGI process's start.
    std::FILE* in = std::fopen(file, "rb");
    if (in == nullptr) return {};
    std::string key;
    char block[512];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, in)) > 0;) key.append(block, n);
    std::fclose(in);
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r')) key.pop_back();
    return key.size() >= kMinSecretLength ? key : std::string();
}

bool lies_inside(const std::string& root, const std::string& path) {
    if (root == "/") return path.size() > 1 && path[0] == '/';
    return path.size() > root.size() + 1 && path.compare(0, root.size(), root) == 0 &&
           path[root.size()] == '/';
}

// root + "/" + name with a leading "/" of the name dropped; "" for a name
// holding a NUL or nothing.
std::string joined(const std::string& root, std::string_view name) {
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    if (name.empty() || name.find('\0') != std::string_view::npos) return {};
    return root + "/" + std::string(name);
}
}  // namespace

void load_web_policy(RunPolicy& policy) {
    policy = RunPolicy{};
    policy.time_limit = kDefaultTimeLimit;
    if (const char* limit = env("VEXIL_TIME_LIMIT"); limit[0] != '\0') {
        char* end = nullptr;
        long n = std::strtol(limit, &end, 10);
        if (end != limit && *end == '\0' && n >= 0) policy.time_limit = n;
    }
    if (const char* max = env("VEXIL_MAX_BODY"); max[0] != '\0') {
        char* end = nullptr;
        unsigned long long n = std::strtoull(max, &end, 10);
        if (end != max && *end == '\0' && is_ascii_digit(max[0])) policy.max_body = std::size_t(n);
    }
    if (std::string_view(env("VEXIL_OPEN")) == "1") return;
    policy.locked = true;
    policy.template_root = real_folder(env("VEXIL_TEMPLATE_ROOT"));
    policy.root_given = !policy.template_root.empty();
    policy.output_root = real_folder(env("VEXIL_OUTPUT_ROOT"));
    policy.allow_exec = std::string_view(env("VEXIL_ALLOW_EXEC")) == "1";
    policy.secret = read_secret(env("VEXIL_SECRET_FILE"));
    if (const char* charset = env("VEXIL_CHARSET"); charset[0] != '\0') policy.charset = charset;
    policy.max_output = kDefaultMaxOutput;
    if (const char* max = env("VEXIL_MAX_OUTPUT"); max[0] != '\0') {
        char* end = nullptr;
        unsigned long long n = std::strtoull(max, &end, 10);
        if (end != max && *end == '\0' && n > 0) policy.max_output = std::size_t(n);
    }
    policy.max_references = kMaxReferences;
}

bool resolve_inside(const std::string& root, std::string_view name, std::string& path,
                    std::string& shown) {
    std::string wanted = joined(root, name);
    if (wanted.empty() || root.empty()) return false;
    char resolved[PATH_MAX];
    if (::realpath(wanted.c_str(), resolved) == nullptr) return false;
    struct stat info;
    if (::stat(resolved, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    path = resolved;
    if (!lies_inside(root, path)) return false;
    shown = path.substr(root == "/" ? 1 : root.size() + 1);
    return true;
}

bool resolve_new_file_inside(const std::string& root, std::string_view name, std::string& path) {
    std::string wanted = joined(root, name);
    if (wanted.empty() || root.empty() || wanted.back() == '/') return false;
    std::size_t slash = wanted.rfind('/');
    std::string file = wanted.substr(slash + 1);
    if (file == "." || file == "..") return false;
    std::string folder = real_folder(wanted.substr(0, slash).c_str());
    if (folder.empty() || (folder != root && !lies_inside(root, folder))) return false;
    path = folder + "/" + file;
    // An existing file of that name (a link included) must itself lie inside,
    // and be a file: a folder of that name cannot be replaced by one.
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) {
        struct stat info;
        if (!lies_inside(root, resolved) || ::stat(resolved, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    }
    return true;
}

Status output_failure_shown(Status failure) {
    const std::string& root = run_policy().output_root;
    if (failure.is_ok() || !is_locked_run() || root.empty()) return failure;
    std::string message(failure.message());
    std::string prefix = root + "/";
    for (std::size_t at = message.find(prefix); at != std::string::npos; at = message.find(prefix, at)) {
        message.erase(at, prefix.size());
    }
    return Status::failure("%s", message.c_str());
}

long milliseconds_left() {
    const RunPolicy& policy = run_policy();
    if (policy.time_limit <= 0) return -1;
    auto used = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                      policy.started);
    long left = policy.time_limit * 1000 - long(used.count());
    return left > 0 ? left : 0;
}

long seconds_left() {
    const RunPolicy& policy = run_policy();
    if (policy.time_limit <= 0) return -1;
    auto used = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - policy.started);
    long left = policy.time_limit - long(used.count());
    return left > 0 ? left : 0;
}

void count_reference() {
    RunPolicy& policy = run_policy();
    if (policy.max_references == 0) return;
    if (++policy.references > policy.max_references) {
        policy.max_references = 0;  // the report itself may expand nothing more
        throw RunStopped("This page expands too many references: it was stopped.");
    }
}

void count_output(std::size_t bytes) {
    RunPolicy& policy = run_policy();
    if (policy.max_output == 0) return;
    policy.output_bytes += bytes;
    if (policy.output_bytes > policy.max_output) {
        policy.max_output = 0;  // the report itself is written
        throw RunStopped("This page grew too large: it was stopped.");
    }
}

}  // namespace vexil
