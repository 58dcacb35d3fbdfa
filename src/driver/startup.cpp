// Start-up of a web run: reads the request, takes the run settings from it
// and makes the start-up variables, in the order the lookup rules need (the
// form's default lists before the cookies, so a cookie wins).
#include "driver/startup.hpp"

#include <cstring>
#include <string>

#include "base/policy.hpp"
#include "db/sql_command.hpp"
#include "driver/driver.hpp"
#include "request/form_data.hpp"
#include "values/mappings.hpp"
#include "values/variable_table.hpp"

namespace vexil {

namespace {
constexpr const char* kDefaultHeader =
    "<HTML><HEAD><TITLE>$sql_title$</TITLE></HEAD><BODY $sql_body$><H2>$sql_title$</H2>\n";
constexpr const char* kDefaultFooter = "</BODY></HTML>\n";
constexpr const char* kDefaultTitle = "SQL Result";

// Applies each value of a list in turn; an empty value ends the list.
void apply_each(const char** values, void (*apply)(char*)) {
    for (; *values != nullptr && (*values)[0] != '\0'; ++values) {
        apply(const_cast<char*>(*values));
    }
}

// Turns the cookie header into variables: split at ";", each piece decoded
// and split at its first "=". Nothing is trimmed.
void apply_cookies(const char* cookies) {
    TextBuffer<8192> cookie;  // one decoded cookie; a longer one is cut
    const char* piece = cookies;
    for (;;) {
        const char* end = std::strchr(piece, ';');
        std::size_t length = end ? std::size_t(end - piece) : std::strlen(piece);
        url_decode(std::string_view(piece, length), cookie.data(), cookie.bytes());
        cookie.sync_length();
        std::string_view text = cookie.view();
        std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            set_variable(text, "", true);
        } else {
            set_variable(text.substr(0, equals), text.substr(equals + 1), true);
        }
        if (end == nullptr) break;
        piece = end + 1;
    }
}
}  // namespace

namespace {
// The request's environment that becomes start-up variables (tracked copies).
struct RequestEnvironment {
    const char* path_info = getenv_copy("PATH_INFO");
    const char* path_translated = getenv_copy("PATH_TRANSLATED");
    const char* script_name = getenv_copy("SCRIPT_NAME");
    const char* http_referer = getenv_copy("HTTP_REFERER");
    const char* server_name = getenv_copy("SERVER_NAME");
    const char* remote_host = getenv_copy("REMOTE_HOST");
    const char* remote_addr = getenv_copy("REMOTE_ADDR");
    const char* http_cookie = getenv_copy("HTTP_COOKIE");
};

// In an open run the request's field of that name, else the fallback; in a
// locked run the request sets no run setting: always the fallback.
const char* setting(const char* field, const char* fallback) {
    return is_locked_run() ? fallback : form_value_or(field, fallback);
}
}  // namespace

Status load_cgi_variables() {
    Status read = read_form_data();
    // Kept apart: later steps may format other messages in the error buffer.
    std::string read_error(read.message());
    RequestEnvironment env;
    if (env.path_info[0] != '\0' && env.path_translated[0] == '\0') env.path_translated = env.path_info;

    const char* translated_value = setting("path_translated", env.path_translated);
    const char* path_info_value = setting("path_info", env.path_info);
    const char* script_value = setting("script_name", env.script_name);
    form_state().script_name = script_value;

    append_shared_variable("sql_header", setting("sql_header", kDefaultHeader), false);
    append_shared_variable("sql_footer", setting("sql_footer", kDefaultFooter), false);
    append_shared_variable("sql_title", setting("sql_title", kDefaultTitle), false);
    append_shared_variable("path_translated", translated_value, true);
    append_shared_variable("path_info", path_info_value, true);
    append_shared_variable("script_name", script_value, true);
    append_shared_variable("http_referer", env.http_referer, true);
    append_shared_variable("server_name", env.server_name, true);
    append_shared_variable("remote_host", env.remote_host, true);
    append_shared_variable("remote_addr", env.remote_addr, true);
    append_shared_variable("http_cookie", env.http_cookie, true);

    if (!is_locked_run()) {
        // The request names the template, the output file and the database,
        // and its default, translate and format lists are applied.
        DriverState& driver = driver_state();
        driver.input_name = form_value("input");
        driver.output_name = form_value_or("output", driver.output_buffer.c_str());
        use_connect_text(form_value("database"));
        if (driver.input_name[0] == '\0' && path_info_value[0] != '\0') driver.input_name = translated_value;
        if (!read.is_ok() && driver.input_name[0] == '\0') return Status::failure("%s", read_error.c_str());
        apply_each(form_values_all("default", ""), apply_default_list);
        apply_each(form_values_all("translate", ""), define_translation);
        apply_each(form_values_all("format", ""), define_format_list);
    }
    if (env.http_cookie[0] != '\0') apply_cookies(env.http_cookie);
    return Status::ok();
}

}  // namespace vexil
