// Shared by the fuzz targets: a fresh run per input (as every request gets
// one), the input as a writable C string, and a quiet standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driver/run.hpp"
#include "values/mappings.hpp"
#include "values/variable_table.hpp"

namespace vexil::fuzz {

// A run made for one input and made active; destroyed (memory, files,
// handles released) when the input is done, so nothing reaches the next.
class FreshRun {
public:
    explicit FreshRun(const RunIo& io = {}) : run_(std::make_unique<Run>(io)), active_(*run_) {}

private:
    std::unique_ptr<Run> run_;
    ActiveRun active_;
};

// The program reports errors and writes pages on standard output; a fuzz
// run only needs them written, not kept. libFuzzer reports on standard
// error, which stays as it is. Standard input is empty.
inline void quiet_standard_streams() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    if (std::freopen("/dev/null", "r", stdin) == nullptr) std::abort();
}

// The input as text, as the program would see it in a C string: up to the
// first NUL byte.
inline std::string c_text(std::string_view bytes) {
    return std::string(bytes.substr(0, bytes.find('\0')));
}

// A writable, NUL-terminated copy of exactly `text` in a heap block of its
// own size, so that AddressSanitizer sees any access past the terminator.
class Writable {
public:
    explicit Writable(std::string_view text) : bytes_(text.size() + 1) {
        text.copy(bytes_.data(), text.size());
        bytes_[text.size()] = '\0';
    }
    char* data() { return bytes_.data(); }

private:
    std::vector<char> bytes_;
};

// Splits `bytes` at the first `separator`: what comes before it, and the
// rest after it (empty when there is none).
inline std::pair<std::string_view, std::string_view> split_first(std::string_view bytes,
                                                                 char separator = '\n') {
    std::size_t at = bytes.find(separator);
    if (at == std::string_view::npos) return {bytes, {}};
    return {bytes.substr(0, at), bytes.substr(at + 1)};
}

inline std::string_view as_view(const std::uint8_t* data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// A request's variables, handed to the run as a web server's parameters
// are (RunIo::params) rather than through setenv: glibc keeps every value
// setenv was ever given, so one per input grew a fuzz run by half a
// kilobyte an input until it ran out of memory.
class RequestParams {
public:
    void set(std::string_view name, std::string_view value) {
        items_.push_back(std::string(name) + "=" + std::string(value));
    }
    // The list, ended by nullptr; valid until the next set.
    const char* const* list() {
        pointers_.clear();
        for (const std::string& item : items_) pointers_.push_back(item.c_str());
        pointers_.push_back(nullptr);
        return pointers_.data();
    }

private:
    std::vector<std::string> items_;
    std::vector<const char*> pointers_;
};

// Unsets the variables a web request brings, so no input sees the last
// one's.
inline void clear_request_environment() {
    for (const char* name : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_LENGTH", "CONTENT_TYPE",
                             "HTTP_COOKIE", "PATH_INFO", "PATH_TRANSLATED", "SCRIPT_NAME",
                             "VEXIL_OPEN", "VEXIL_MAX_BODY", "VEXIL_TEMPLATE_ROOT"}) {
        unsetenv(name);
    }
}

// Defines the values a target's inputs refer to: a DEFAULT list, a FORMAT
// list and one TRANSLATE table (each as the command would take it).
inline void define_values(std::string defaults, std::string formats, std::string translation) {
    apply_default_list(defaults.data());
    define_format_list(formats.data());
    define_translation(translation.data());
}

}  // namespace vexil::fuzz
