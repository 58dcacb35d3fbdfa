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
#include <memory>

#include <cstring>

#include "driver/startup.hpp"
#include "support/fuzz_support.hpp"
#include "request/form_data.hpp"

using namespace vexil;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_standard_streams();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned mode = data[0];
    std::string_view text = fuzz::as_view(data + 1, size - 1);

    fuzz::RequestParams request;
    if (mode & 16) request.set("VEXIL_MAX_BODY", "64");
    if (mode & 8) {
        request.set("VEXIL_TEMPLATE_ROOT", "/nonexistent");
    } else {
        request.set("VEXIL_OPEN", "1");
    }
    std::string_view body;
    switch (mode & 3) {
    case 0:
        request.set("REQUEST_METHOD", "GET");
        request.set("QUERY_STRING", fuzz::c_text(text));
        break;
    case 1:
    case 2: {
        request.set("REQUEST_METHOD", "POST");
        std::size_t length = text.size() + ((mode & 3) == 2 ? 5 : 0);
        request.set("CONTENT_LENGTH", std::to_string(length));
        body = text;
        break;
    }
    default: {
        auto [length, rest] = fuzz::split_first(text);
        request.set("REQUEST_METHOD", "POST");
        request.set("CONTENT_LENGTH", fuzz::c_text(length));
        body = rest;
        break;
    }
    }
    if ((mode & 3) != 0) request.set("CONTENT_TYPE", "application/x-www-form-urlencoded");
    if (mode & 4) request.set("HTTP_COOKIE", fuzz::c_text(text));
    // The body as the run's input stream.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> input(std::tmpfile(), &std::fclose);
    if (input == nullptr) std::abort();
    std::fwrite(body.data(), 1, body.size(), input.get());
    std::rewind(input.get());

    fuzz::FreshRun fresh(RunIo{request.list(), input.get()});
    load_web_policy(run_policy());
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
