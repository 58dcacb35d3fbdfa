// Start-up of a web run: reads the request, takes the run settings from it
// and makes the start-up variables, in the order the lookup rules need (the
// form's default lists before the cookies, so a cookie wins).
#include "driver/startup.hpp"

#include <cstring>
#include <string>

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
            set_variable(text, "");
        } else {
            set_variable(text.substr(0, equals), text.substr(equals + 1));
        }
        if (end == nullptr) break;
        piece = end + 1;
    }
}
}  // namespace

Status load_cgi_variables() {
    Status read = read_form_data();
    // Kept apart: later steps may format other messages in the error buffer.
    std::string read_error(read.message());

    const char* path_info = getenv_copy("PATH_INFO");
    const char* path_translated = getenv_copy("PATH_TRANSLATED");
    const char* script_name = getenv_copy("SCRIPT_NAME");
    const char* http_referer = getenv_copy("HTTP_REFERER");
    const char* server_name = getenv_copy("SERVER_NAME");
    const char* remote_host = getenv_copy("REMOTE_HOST");
    const char* remote_addr = getenv_copy("REMOTE_ADDR");
    const char* http_cookie = getenv_copy("HTTP_COOKIE");
    if (path_info[0] != '\0' && path_translated[0] == '\0') path_translated = path_info;

    DriverState& driver = driver_state();
    driver.input_name = form_value("input");
    driver.output_name = form_value_or("output", driver.output_buffer.c_str());
    use_connect_text(form_value("database"));

    const char* header = form_value_or("sql_header", kDefaultHeader);
    const char* title = form_value_or("sql_title", kDefaultTitle);
    const char* footer = form_value_or("sql_footer", kDefaultFooter);

    const char** defaults = form_values_all("default", "");
    const char** translations = form_values_all("translate", "");
    const char** formats = form_values_all("format", "");

    const char* translated_value = form_value_or("path_translated", path_translated);
    const char* path_info_value = form_value_or("path_info", path_info);
    const char* script_value = form_value_or("script_name", script_name);
    form_state().script_name = script_value;

    append_shared_variable("sql_header", header);
    append_shared_variable("sql_footer", footer);
    append_shared_variable("sql_title", title);
    append_shared_variable("path_translated", translated_value);
    append_shared_variable("path_info", path_info_value);
    append_shared_variable("script_name", script_value);
    append_shared_variable("http_referer", http_referer);
    append_shared_variable("server_name", server_name);
    append_shared_variable("remote_host", remote_host);
    append_shared_variable("remote_addr", remote_addr);
    append_shared_variable("http_cookie", http_cookie);

    if (driver.input_name[0] == '\0' && path_info_value[0] != '\0') {
        driver.input_name = translated_value;
    }
    if (!read.is_ok() && driver.input_name[0] == '\0') {
        return Status::failure("%s", read_error.c_str());
    }

    apply_each(defaults, apply_default_list);
    apply_each(translations, define_translation);
    apply_each(formats, define_format_list);
    if (http_cookie[0] != '\0') apply_cookies(http_cookie);
    return Status::ok();
}

}  // namespace vexil
