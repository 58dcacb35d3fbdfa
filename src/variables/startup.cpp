// Start-up variables: the CGI start-up and the date and time variables.
#include "variables/startup.hpp"

#include <cstring>

#include "cgi/form_data.hpp"
#include "db/results.hpp"
#include "driver/driver.hpp"
#include "variables/mappings.hpp"
#include "variables/variable_table.hpp"

namespace vexil {

namespace {
DateTimeBuffers g_clock;
const char* g_script_name = "";

constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",
                                       "May",     "June",     "July",      "August",
                                       "September", "October", "November", "December"};
constexpr const char* kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

constexpr const char* kDefaultHeader =
    "<HTML><HEAD><TITLE>$sql_title$</TITLE></HEAD><BODY $sql_body$><H2>$sql_title$</H2>\n";
constexpr const char* kDefaultFooter = "</BODY></HTML>\n";
constexpr const char* kDefaultTitle = "SQL Result";

bool is_hex_digit(char c) {
    return is_ascii_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

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
        url_decode_copy(std::string_view(piece, length), cookie.data(), cookie.bytes());
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

DateTimeBuffers& date_time_buffers() { return g_clock; }
const char* startup_script_name() { return g_script_name; }

void url_decode_copy(std::string_view source, char* dest, std::size_t dest_size) {
    if (dest_size == 0) return;
    std::size_t n = 0;
    for (std::size_t i = 0; i < source.size() && n + 1 < dest_size;) {
        char c = source[i];
        if (c == '%' && i + 2 < source.size() && is_hex_digit(source[i + 1]) &&
            is_hex_digit(source[i + 2])) {
            dest[n++] = static_cast<char>(hex_pair_value(source.data() + i + 1));
            i += 3;
        } else {
            dest[n++] = c == '+' ? ' ' : c;
            ++i;
        }
    }
    dest[n] = '\0';
}

bool load_cgi_variables() {
    bool read_ok = read_form_data() != 0;

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
    result_items().connection_text = form_value("database");

    const char* header = form_value_or("sql_header", kDefaultHeader);
    const char* title = form_value_or("sql_title", kDefaultTitle);
    const char* footer = form_value_or("sql_footer", kDefaultFooter);

    const char** defaults = form_values_all("default", "");
    const char** translations = form_values_all("translate", "");
    const char** formats = form_values_all("format", "");

    const char* translated_value = form_value_or("path_translated", path_translated);
    const char* path_info_value = form_value_or("path_info", path_info);
    const char* script_value = form_value_or("script_name", script_name);
    g_script_name = script_value;

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
    if (!read_ok && driver.input_name[0] == '\0') return false;

    apply_each(defaults, apply_default_list);
    apply_each(translations, define_translation);
    apply_each(formats, define_format_list);
    if (http_cookie[0] != '\0') apply_cookies(http_cookie);
    return true;
}

void set_date_time_variables_at(const std::tm& local) {
    int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
    int weekday = local.tm_wday >= 0 && local.tm_wday < 7 ? local.tm_wday : 0;
    int year = local.tm_year + 1900;
    int hour = local.tm_hour;
    g_clock.monthname.assign(kMonthNames[month]);
    g_clock.weekday.assign(kDayNames[weekday]);
    g_clock.today.format("%s %d, %d", kMonthNames[month], local.tm_mday, year);
    if (hour < 12) {
        g_clock.time.format("%02d:%02dam", hour, local.tm_min);
    } else {
        g_clock.time.format("%02d:%02dpm", hour > 12 ? hour - 12 : hour, local.tm_min);
    }
    g_clock.time24.format("%02d:%02d", hour, local.tm_min);
    g_clock.date_short.format("%02d-%02d-%04d", month + 1, local.tm_mday, year);
    g_clock.date_ymd.format("%04d%02d%02d", year, month + 1, local.tm_mday);
    g_clock.year.format("%d", year);
    g_clock.month.format("%d", month + 1);
    g_clock.day.format("%d", local.tm_mday);
}

void set_date_time_variables() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    set_date_time_variables_at(local);
}

}  // namespace vexil
