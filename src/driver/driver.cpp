// Program driver: start-up, mode selection, output files and the end of the
// run (final file names, the redirect answer, the created-file report).
//
// Every run gets a fresh Run object; whatever way the run ends (the end of
// the template, a failure the template reports, or a fatal error thrown from
// deep inside), control comes back here, and the Run's destruction releases
// its memory, files and database handles.
#include "driver/driver.hpp"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "base/output_files.hpp"
#include "base/policy.hpp"
#include "base/run_io.hpp"
#include "base/scratch.hpp"
#include "driver/run.hpp"
#include "driver/startup.hpp"
#include "expr/substitute.hpp"
#include "db/sql_command.hpp"
#include "request/form_data.hpp"
#include "request/signature.hpp"
#include "template/scanner.hpp"
#include "values/clock.hpp"
#include "values/variable_table.hpp"

namespace vexil {

const char* const DEFAULT_TEMPLATE =
    "$sql_header$<P><!--DATABASE $database$--><!--SQL $sql$--><!--IF $sql_status$=0--><!--IF "
    "$eachrow$--><!--EACHROW-->$eachrow$<!--ENDROW--><!--ELSE--><!--TABLE BORDER CELLPADDING=5 "
    "CELLSPACING=1--><!--ENDIF--><!--ENDIF--><P>$sql_footer$\n";

namespace {
// Expands a file name into dest (options as given). Returns false when the
// result does not fit a name field.
bool expand_name(const char* name, TextBuffer<kNameSize>& dest, int options) {
    std::string work(name);
    std::array<char, kNameSize + 1> expanded{};
    substitute_variables(work.data(), expanded.data(), expanded.size(), options);
    dest.assign(expanded.data());
    return std::strlen(expanded.data()) <= TextBuffer<kNameSize>::kCapacity;
}

// Takes the value of a -i / -o option: the rest of the argument, or the next
// argument when the rest is empty. Returns the index of the last argument used.
int take_option_value(int argc, char** argv, int i, TextBuffer<kNameSize>& dest) {
    const char* rest = argv[i] + 2;
    if (rest[0] == '\0' && i + 1 < argc) {
        dest.assign(argv[i + 1]);
        return i + 1;
    }
    dest.assign(rest);
    return i;
}

// Opens the output file named at start-up (-o or the form's "output").
Status open_startup_output(OutputChannel& output) {
    TextBuffer<kNameSize> expanded;
    if (!expand_name(driver_state().output_name, expanded, kOptionsPlain)) {
        return output_open_failure(ENAMETOOLONG, expanded.c_str());
    }
    OpenedOutput opened;
    if (Status opening = open_output_file(expanded.c_str(), opened); !opening.is_ok()) return opening;
    install_output(opened, expanded.c_str(), output);
    return Status::ok();
}

// The short pages of a locked run's refusals: they reveal no server path.
constexpr const char* kNotConfiguredPage =
    "<HTML><HEAD><TITLE>Not configured</TITLE></HEAD><BODY><H3>This site is not configured</H3>"
    "<P>VEXIL_TEMPLATE_ROOT is not set to a folder of templates.</P></BODY></HTML>\n";
constexpr const char* kNotFoundPage =
    "<HTML><HEAD><TITLE>Not Found</TITLE></HEAD><BODY><H3>Not Found</H3>"
    "<P>There is no such page on this site.</P></BODY></HTML>\n";

constexpr const char* kTooLargePage =
    "<HTML><HEAD><TITLE>Payload Too Large</TITLE></HEAD><BODY><H3>Payload Too Large</H3>"
    "<P>The request's form data is larger than this site accepts.</P></BODY></HTML>\n";

// How the start of a run ended: go on with the template, or the request
// was already answered (a refusal).
enum class Start { kRun, kAnswered };

// The template of a locked run: named by the request's "input" field or by
// the path, found inside the template folder, or the request is answered
// "404 Not Found".
Start choose_locked_template() {
    const char* name = form_value("input");
    if (name[0] == '\0') name = getenv_copy("PATH_INFO");
    DriverState& driver = driver_state();
    if (name[0] == '\0' || !resolve_inside(run_policy().template_root, name, driver.template_path,
                                             driver.template_shown)) {
        write_refusal("404 Not Found", kNotFoundPage);
        return Start::kAnswered;
    }
    return Start::kRun;
}

// The start of a web run: the site's settings, the request, and in a locked
// run the checks that come before the page.
Status start_web_run(Start& start) {
    output_state().web_run = true;
    RunPolicy& policy = run_policy();
    load_web_policy(policy);
    if (policy.locked && !policy.root_given) {
        write_refusal("500 Internal Server Error", kNotConfiguredPage);
        start = Start::kAnswered;
        return Status::ok();
    }
    Status loaded = load_cgi_variables();
    // A body refused unread, or a length that is no number, is answered even
    // when the run could go on without the form (a template named by the
    // path, a locked run).
    if (form_state().body_too_large) {
        write_refusal("413 Payload Too Large", kTooLargePage);
        start = Start::kAnswered;
        return Status::ok();
    }
    if (form_state().length_invalid) {
        return Status::failure("Error Getting Form Data\nInvalid CONTENT_LENGTH\n");
    }
    if (!loaded.is_ok()) {
        std::string reason(loaded.message());  // the buffer is formatted again
        return Status::failure("Error Getting Form Data\n%s\n", reason.c_str());
    }
    if (!policy.locked) return Status::ok();
    // A posted statement or connect text counts only when this site's own
    // form carried it, for the row it was made for; otherwise nothing runs.
    if (Status verified = verify_signed_request(); !verified.is_ok()) {
        std::string page = "<HTML><HEAD><TITLE>Forbidden</TITLE></HEAD><BODY><H3>Forbidden</H3><P>";
        append_html_escaped(page, verified.message(), true);
        page += "</P></BODY></HTML>\n";
        write_refusal("403 Forbidden", page);
        start = Start::kAnswered;
        return Status::ok();
    }
    if (const FormField* database = find_form_field("database"); database != nullptr && database->trusted) {
        use_connect_text(database->value);
    }
    start = choose_locked_template();
    return Status::ok();
}

// The start of a run: the request or the command line, the date and time
// built-ins and the output file named at start-up.
Status start_run(int argc, char** argv, OutputChannel& output, Start& start) {
    start = Start::kRun;
    // A persistent worker only ever answers web requests.
    const char* method = run_env("REQUEST_METHOD");
    if (run_io().persistent || (method != nullptr && method[0] != '\0')) {
        if (Status started = start_web_run(start); !started.is_ok() || start == Start::kAnswered) {
            return started;
        }
    } else if (Status parsed = parse_command_line(argc, argv); !parsed.is_ok()) {
        return parsed;
    }
    set_date_time_variables();
    if (driver_state().output_name[0] == '\0') return Status::ok();
    return open_startup_output(output);
}

// Whether a locked run may send the visitor to `target`: a path on this
// site (with or without a leading "/"), or an http or https address; never
// another host by "//" or "/\\", another scheme, or a control character
// that could end the header line.
bool is_safe_redirect(const char* target) {
    std::string_view t(target);
    for (char c : t) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    }
    if (t.starts_with("//") || t.starts_with("/\\") || t.starts_with("\\")) return false;
    std::size_t colon = t.find(':');
    std::size_t end_of_path_part = t.find_first_of("/?#");
    if (colon == std::string_view::npos || (end_of_path_part != std::string_view::npos && end_of_path_part < colon)) {
        return true;  // no scheme: a path on this site
    }
    std::string_view scheme = t.substr(0, colon);
    return equals_nocase(scheme, "http") || equals_nocase(scheme, "https");
}

// An output file's name as a report shows it: in a locked run relative to
// the output folder, so no server path is shown.
const char* shown_output_name(const char* name) {
    const std::string& root = run_policy().output_root;
    std::string_view n(name);
    if (is_locked_run() && !root.empty() && n.size() > root.size() + 1 && n.starts_with(root) &&
        n[root.size()] == '/') {
        return name + root.size() + 1;
    }
    return name;
}

// What a finished run writes last: the redirect answer or the report of
// the file it created.
void write_run_end(RunStatus status) {
    std::FILE* out = standard_output();
    const OutputFileState& file = output_file_state();
    if (status == kRunRedirect) {
        std::string target(scanner_state().redirect_target.view());
        WorkArea work = scratch_work_area();
        substitute_variables(target.data(), work.start, work.size, kOptionsPlain);
        bool locked = is_locked_run();
        if (locked && !is_safe_redirect(work.start)) {
            report_error("REDIRECT refused: the target is not a page of this site or an http(s) address.");
        } else if (output_state().header_sent) {
            std::string link(work.start);
            if (locked) {
                link.clear();
                append_html_escaped(link, work.start, true);
            }
            std::fprintf(out, "<P><A HREF=\"%s\">Please click here to continue.</A><P>", link.c_str());
        } else {
            std::fprintf(out, "Location: %s%c%c", work.start, '\n', '\n');
        }
    } else if (file.has_final_name && file.final_name.empty()) {
        // An OUTPUT whose name expanded to nothing created no file worth
        // naming: nothing is reported, but a web answer still gets its header.
        send_content_header();
    } else if (file.has_final_name) {
        if (!is_cgi_run()) {
            std::fprintf(out, "\nFile created: %s\n\n", file.final_name.c_str());
        } else if (!output_state().header_sent) {
            send_content_header();
            std::fprintf(out,
                         "<HTML><HEAD><TITLE>File Created</TITLE> </HEAD><BODY "
                         "BGCOLOR=\"#FFFFFF\"><H3>File Created: %s</H3></BODY></HTML>\n",
                         shown_output_name(file.final_name.c_str()));
        }
    }
}

// The page on standard output is complete only when every write reached
// it: a failure (a full disk, a closed pipe) is told on standard error, the
// one place left, and the run ends non-zero.
int finish_standard_output() {
    std::FILE* out = standard_output();
    if (std::fflush(out) == 0 && !std::ferror(out)) return 0;
    int error = errno ? errno : EIO;
    std::fprintf(stderr, "vexil: writing the page failed: %s\n", std::strerror(error));
    return 1;
}

// One run in the run object already made active. Returns the exit code.
int run_active(int argc, char** argv) {
    OutputChannel output{standard_output()};
    Start start = Start::kRun;
    if (Status started = start_run(argc, argv, output, start); !started.is_ok()) {
        report_error(started.message());
        return 1;
    }
    if (start == Start::kAnswered) return 0;

    DriverState& driver = driver_state();
    RunStatus status;
    if (!driver.template_path.empty()) {
        status = run_resolved_template(driver.template_path.c_str(), driver.template_shown, output);
    } else if (driver.input_name[0] != '\0') {
        status = run_template_file(driver.input_name, output);
    } else {
        std::string text(DEFAULT_TEMPLATE);
        status = run_template_text(text.data(), output, kDefaultTemplateCommands, kOptionsTemplate);
    }
    if (status == kRunFailed) {
        discard_output(output);
        return 1;
    }
    if (Status finished = finish_output(output); !finished.is_ok()) {
        report_error(output_failure_shown(finished).message());
        return 1;
    }
    write_run_end(status);
    return finish_standard_output();
}
}  // namespace

Status parse_command_line(int argc, char** argv) {
    DriverState& driver = driver_state();
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (starts_with_keyword(arg, "-i")) {
            i = take_option_value(argc, argv, i, driver.input_buffer);
        } else if (starts_with_keyword(arg, "-o")) {
            i = take_option_value(argc, argv, i, driver.output_buffer);
        } else if (std::strchr(arg, '=') != nullptr) {
            std::string item(arg);
            apply_default_list(item.data());
        } else {
            std::fprintf(standard_output(), "Unrecogized parameter: %s\n", arg);
        }
    }
    if (driver.input_buffer.empty()) return Status::failure("No input file specified on command line.\n");
    return Status::ok();
}

namespace {
// The run from start to end in `run`, made the active one for the length
// of it. Returns the exit code.
int run_guarded(Run& run, int argc, char** argv) {
    ActiveRun active(run);
    try {
        return run_active(argc, argv);
    } catch (const RunStopped& stopped) {
        // A locked run reached a limit: the page says so and ends there.
        output_state().location = nullptr;
        report_error(stopped.what());
        OutputChannel output{output_file_state().file.get()};
        discard_output(output);
        return 1;
    } catch (const RunAborted& aborted) {
        // Nothing is finished or renamed: an output file stays under its
        // temporary name.
        write_termination_page(aborted.what());
        std::fflush(nullptr);
        return 1;
    } catch (const std::bad_alloc&) {
        // Memory ran out in a container rather than in the tracked
        // allocator (a large value being escaped, say): the same end, the
        // same page. The block that could not grow is released by now.
        write_termination_page("Out of memory");
        std::fflush(nullptr);
        return 1;
    }
}
}  // namespace

int run_program(int argc, char** argv) {
    auto run = std::make_unique<Run>();
    return run_guarded(*run, argc, argv);
}

int run_request(const RunIo& io, DbConnections& connections) {
    auto run = std::make_unique<Run>(io, &connections);
    std::string program = "vexil";
    std::array<char*, 2> argv{program.data(), nullptr};
    return run_guarded(*run, 1, argv.data());
}

}  // namespace vexil
