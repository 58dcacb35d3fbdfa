// The run's environment, input and answer streams.
#include "base/run_io.hpp"

#include <cstdlib>
#include <cstring>
#include <string_view>

extern char** environ;

namespace vexil {

namespace {
// The value of `name` in a NAME=VALUE list, or nullptr.
const char* find_in(const char* const* list, std::string_view name) {
    if (name.empty()) return nullptr;
    for (; *list != nullptr; ++list) {
        // strncmp stops at the item's end, so a shorter item never matches.
        const char* item = *list;
        if (item[0] == name[0] && std::strncmp(item, name.data(), name.size()) == 0 &&
            item[name.size()] == '=') {
            return item + name.size() + 1;
        }
    }
    return nullptr;
}
}  // namespace

const char* run_env(const char* name) {
    const RunIo& io = run_io();
    if (io.params == nullptr) return std::getenv(name);
    if (const char* value = find_in(io.params, name); value != nullptr) return value;
    return std::strncmp(name, "VEXIL_", 6) == 0 ? std::getenv(name) : nullptr;
}

std::FILE* run_input() {
    std::FILE* input = run_io().input;
    return input != nullptr ? input : stdin;
}

std::vector<std::string> run_child_environment() {
    std::vector<std::string> items;
    const char* const* params = run_io().params;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        std::string_view item(*e);
        std::string_view name = item.substr(0, item.find('='));
        if (params == nullptr || find_in(params, name) == nullptr) items.emplace_back(item);
    }
    for (; params != nullptr && *params != nullptr; ++params) items.emplace_back(*params);
    return items;
}

}  // namespace vexil
