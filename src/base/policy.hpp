// Run policy: what a run may do, and what it has used up.
//
// A command-line run is trusted: the person at the keyboard may do
// anything. A web run is locked unless the site opts out (VEXIL_OPEN=1):
// the request is data, never program. Templates come only from the site's
// template folder, OUTPUT writes only in the output folder, EXEC runs only
// when the site allows it, and the work one request can cause is bounded.
// The settings come from the environment that the web server gives the
// program (a persistent worker: the request's parameters, else the
// worker's own environment), never from what a visitor sends.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "base/status.hpp"

namespace vexil {

inline constexpr std::size_t kDefaultMaxOutput = 16u * 1024u * 1024u;
inline constexpr std::size_t kDefaultMaxBody = 8u * 1024u * 1024u;
inline constexpr long kMaxReferences = 1000000;
inline constexpr std::size_t kMinSecretLength = 32;

struct RunPolicy {
    bool locked = false;             // a locked web run
    bool root_given = false;         // VEXIL_TEMPLATE_ROOT names a folder
    std::string template_root;       // its real path, without a trailing "/"
    std::string output_root;         // VEXIL_OUTPUT_ROOT's real path; "": OUTPUT is refused
    bool allow_exec = false;         // VEXIL_ALLOW_EXEC=1
    std::string secret;              // the site key for signed forms; "": none usable
    std::string charset = "utf-8";   // VEXIL_CHARSET
    std::size_t max_output = 0;      // bytes a locked run may write (0: no limit)
    std::size_t max_body = kDefaultMaxBody;  // bytes a POST body may have (VEXIL_MAX_BODY), in every web run
    long max_references = 0;         // references a locked run may expand (0: no limit)
    long time_limit = 0;             // seconds a web run may take (VEXIL_TIME_LIMIT; 0: none)
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::size_t output_bytes = 0;    // bytes written so far
    long references = 0;             // references expanded so far
};

RunPolicy& run_policy();

inline bool is_locked_run() { return run_policy().locked; }

// Sets up the policy of a web run from the process environment: locked
// unless VEXIL_OPEN=1. The body limit holds in an open run too.
void load_web_policy(RunPolicy& policy);

// Resolves `name` inside `root`: a leading "/" means the root itself. The
// real path (symbolic links and ".." resolved) of an existing regular file
// inside the root goes to `path`, with the name relative to the root to
// `shown`. False for anything else.
bool resolve_inside(const std::string& root, std::string_view name, std::string& path,
                    std::string& shown);

// The same for a file that may not exist yet (an output file): its folder
// must exist inside the root, and the name may not end in a folder or name
// an existing one.
bool resolve_new_file_inside(const std::string& root, std::string_view name, std::string& path);

// A failure about an output file as a locked run reports it: the file named
// relative to the output folder, as the "File Created" answer names it, so
// no path of the server reaches the page. Other runs' failures unchanged.
Status output_failure_shown(Status failure);

inline constexpr long kDefaultTimeLimit = 30;

// Seconds left of a web run's time limit (at least 0), or -1 without one.
long seconds_left();
// The same in milliseconds.
long milliseconds_left();

// Counts one expanded reference; throws RunStopped past the limit.
void count_reference();
// Counts bytes about to be written; throws RunStopped past the limit.
void count_output(std::size_t bytes);

}  // namespace vexil
