// Reading connect texts, and the options the program adds: SQLite's step
// mode.
#include "db/connect_text.hpp"

#include "base/text.hpp"

namespace vexil {

namespace {
// Calls visit(key, value) for each KEY=VALUE item of a connect text in turn
// (blanks around both trimmed, a value in braces kept whole) until it
// returns true; true when it did.
template <typename Visit>
bool find_item(std::string_view text, Visit visit) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t equals = text.find_first_of("=;", at);
        if (equals == std::string_view::npos || text[equals] == ';') {
            at = equals == std::string_view::npos ? text.size() : equals + 1;
            continue;
        }
        std::size_t end = equals + 1;
        while (end < text.size() && (text[end] == ' ' || text[end] == '\t')) ++end;
        if (end < text.size() && text[end] == '{') end = text.find('}', end);
        end = end == std::string_view::npos ? text.size() : text.find(';', end);
        if (end == std::string_view::npos) end = text.size();
        if (visit(trim_blanks(text.substr(at, equals - at)), trim_blanks(text.substr(equals + 1, end - equals - 1)))) {
            return true;
        }
        at = end + 1;
    }
    return false;
}
}  // namespace

bool connect_text_value(std::string_view text, std::string_view key, std::string_view& value) {
    return find_item(text, [&](std::string_view k, std::string_view v) {
        if (!equals_nocase(k, key)) return false;
        value = v;
        return true;
    });
}

bool names_empty_driver(std::string_view text) {
    return find_item(text, [](std::string_view k, std::string_view v) {
        if (v.size() >= 2 && v.front() == '{' && v.back() == '}') v = trim_blanks(v.substr(1, v.size() - 2));
        return v.empty() && equals_nocase(k, "DRIVER");
    });
}

bool names_sqlite_driver(std::string_view connect_text) {
    std::string_view driver;
    if (!connect_text_value(connect_text, "DRIVER", driver)) return false;
    for (std::size_t i = 0; i < driver.size(); ++i) {
        if (starts_with_keyword(driver.substr(i), "SQLITE")) return true;
    }
    return false;
}

bool adds_step_mode(std::string_view connect_text) {
    std::string_view ignored;
    return names_sqlite_driver(connect_text) && !connect_text_value(connect_text, "StepAPI", ignored);
}

std::string connect_text_with_step_mode(std::string_view connect_text) {
    std::string text(connect_text);
    if (!adds_step_mode(connect_text)) return text;
    if (!text.empty() && text.back() != ';') text += ';';
    text += "StepAPI=1";
    return text;
}

}  // namespace vexil
