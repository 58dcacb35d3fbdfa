// Connect-text options the program adds: SQLite's step mode.
#include "db/connect_text.hpp"

#include "base/text.hpp"

namespace vexil {

namespace {
std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool contains_nocase(std::string_view text, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (starts_with_keyword(text.substr(i), word)) return true;
    }
    return false;
}
}  // namespace

bool adds_step_mode(std::string_view connect_text) {
    bool sqlite_driver = false;
    bool step_set = false;
    // KEY=VALUE items separated by ";"; a value in braces may hold ";".
    std::string_view rest = connect_text;
    while (!rest.empty()) {
        std::size_t end = 0;
        bool braced = false;
        while (end < rest.size() && (braced || rest[end] != ';')) {
            if (rest[end] == '{') braced = true;
            if (rest[end] == '}') braced = false;
            ++end;
        }
        std::string_view item = rest.substr(0, end);
        rest.remove_prefix(end < rest.size() ? end + 1 : end);
        std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view key = trimmed(item.substr(0, equals));
        if (equals_nocase(key, "DRIVER")) sqlite_driver = contains_nocase(item.substr(equals + 1), "SQLITE");
        if (equals_nocase(key, "STEPAPI")) step_set = true;
    }
    return sqlite_driver && !step_set;
}

std::string connect_text_with_step_mode(std::string_view connect_text) {
    std::string text(connect_text);
    if (!adds_step_mode(connect_text)) return text;
    if (!text.empty() && text.back() != ';') text += ';';
    text += "StepAPI=1";
    return text;
}

}  // namespace vexil
