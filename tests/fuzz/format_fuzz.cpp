// Fuzz target: FORMAT pictures and TRANSLATE tables, defined from command
// texts and applied to a value.
//
// Input: three lines: a TRANSLATE command text, a FORMAT command text, and
// the value. The FORMAT line is also used whole as a picture.
#include <cstring>

#include "support/fuzz_support.hpp"
#include "values/mappings.hpp"
#include "values/variable_table.hpp"

using namespace vexil;

namespace {
// The first word of a command text: the name a TRANSLATE table is for.
std::string first_word(const std::string& text) {
    std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    std::size_t end = text.find_first_of(" \t=", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void check_text(const char* text) {
    if (text == nullptr) std::abort();
    (void)std::strlen(text);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_standard_streams();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input = fuzz::as_view(data, size);
    auto [translate_line, rest] = fuzz::split_first(input);
    auto [format_line, value_bytes] = fuzz::split_first(rest);
    std::string translate_text = fuzz::c_text(translate_line);
    std::string format_text = fuzz::c_text(format_line);
    std::string value = fuzz::c_text(value_bytes);

    fuzz::FreshRun fresh;
    fuzz::Writable translation(translate_text);
    define_translation(translation.data());
    fuzz::Writable formats(format_text);
    define_format_list(formats.data());

    std::string name = first_word(translate_text);
    std::string format_name = first_word(format_text);
    for (const std::string& n : {name, format_name, std::string("x")}) {
        check_text(translate_value(n, value.c_str()));
        const char* formatted = apply_format(n, value.c_str());
        check_text(formatted);
        if (const char* picture = find_format_picture(n); picture != nullptr) {
            if (std::strlen(picture) > kMaxPicture) std::abort();
        }
    }
    const char* laid = format_picture(format_text.c_str(), value.c_str());
    check_text(laid);
    if (std::strlen(laid) > kMaxPicture) std::abort();  // the result lives in a picture-sized buffer
    return 0;
}
