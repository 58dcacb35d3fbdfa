// Fuzz target: a web request's form data, decoded as the start of a web run
// decodes it, then read back through every lookup.
//
// Input: one mode byte, then the request text.
//   mode & 3 == 0: GET, the text is QUERY_STRING;
//               1: POST, the text is the body and CONTENT_LENGTH its length;
//               2: POST with a CONTENT_LENGTH larger than the body;
//               3: POST, the first line of the text is CONTENT_LENGTH and
//                  the rest the body.
//   mode & 4: the text is also the HTTP_COOKIE header.
//   mode & 8: a locked run (the request sets no template, lists or output).
//   mode & 16: a body limit of 64 bytes (VEXIL_MAX_BODY).
#include <unistd.h>

#include <cstring>

#include "driver/startup.hpp"
#include "support/fuzz_support.hpp"
#include "request/form_data.hpp"

using namespace vexil;

namespace {
std::string body_path;

// Makes `body` the bytes on standard input.
void set_standard_input(std::string_view body) {
    std::FILE* file = std::fopen(body_path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(body.data(), 1, body.size(), file);
    std::fclose(file);
    if (std::freopen(body_path.c_str(), "rb", stdin) == nullptr) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_standard_streams();
    body_path = "/tmp/vexil_fuzz_body." + std::to_string(getpid());
    std::atexit([] { std::remove(body_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned mode = data[0];
    std::string_view text = fuzz::as_view(data + 1, size - 1);

    fuzz::clear_request_environment();
    fuzz::FreshRun fresh;
    if (mode & 16) setenv("VEXIL_MAX_BODY", "64", 1);
    if (mode & 8) {
        setenv("VEXIL_TEMPLATE_ROOT", "/nonexistent", 1);
    } else {
        setenv("VEXIL_OPEN", "1", 1);
    }
    load_web_policy(run_policy());

    switch (mode & 3) {
    case 0:
        setenv("REQUEST_METHOD", "GET", 1);
        setenv("QUERY_STRING", fuzz::c_text(text).c_str(), 1);
        break;
    case 1:
    case 2: {
        setenv("REQUEST_METHOD", "POST", 1);
        std::size_t length = text.size() + ((mode & 3) == 2 ? 5 : 0);
        setenv("CONTENT_LENGTH", std::to_string(length).c_str(), 1);
        set_standard_input(text);
        break;
    }
    default: {
        auto [length, body] = fuzz::split_first(text);
        setenv("REQUEST_METHOD", "POST", 1);
        setenv("CONTENT_LENGTH", fuzz::c_text(length).c_str(), 1);
        set_standard_input(body);
        break;
    }
    }
    if ((mode & 3) != 0) setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
    if (mode & 4) setenv("HTTP_COOKIE", fuzz::c_text(text).c_str(), 1);

    // The whole start-up: form data, the request's settings and lists,
    // cookies. A failure is an answer like any other.
    (void)load_cgi_variables();

    // Every field is read back; the first one's name is looked up as the
    // pages would.
    std::size_t total = 0;
    for_each_form_field([&](FormField& field) {
        total += std::strlen(field.name);
        if (field.value != nullptr) total += std::strlen(field.value);
        return true;
    });
    const FormState& form = form_state();
    if (form.fields != nullptr && form.fields[0].name != nullptr) {
        std::string first(form.fields[0].name);
        (void)form_value(first);
        for (const char** value = form_values_all(first, "-"); *value != nullptr; ++value) {
            total += std::strlen(*value);
        }
    }
    // A request's decoded text is never longer than the request.
    if (total > text.size() * 2 + 16) std::abort();

    // The URL decoder alone, into a destination of exactly its size.
    std::size_t dest_size = text.size() % 32 + 1;
    std::vector<char> dest(dest_size);
    std::size_t n = url_decode(text, dest.data(), dest.size());
    if (n >= dest_size || dest[n] != '\0') std::abort();
    return 0;
}
