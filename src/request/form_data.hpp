// Form decoding: what a web request brings. Reads the request's form data
// once per run (GET query string or POST body), splits it into name/value
// pairs in place, decodes the URL encoding and keeps the pairs in request
// order; also the copies of the request's environment and the URL decoder
// that form fields and cookies share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "base/status.hpp"

namespace vexil {

struct FormField {
    char* name = nullptr;       // decoded name; nullptr marks the terminating entry
    char* value = nullptr;      // decoded value; nullptr when the pair had no "="
    std::uint32_t capacity = 0; // bytes in the value's buffer (0 when absent)
    bool trusted = false;       // a value this site wrote into its own signed form
};

// The request of a web run.
struct FormState {
    FormField* fields = nullptr;   // tracked array: capacity + 1 entries
    std::size_t capacity = 0;      // entries before the terminating one; grows by 200
    bool data_read = false;        // read_form_data has succeeded
    bool body_too_large = false;   // the POST body was refused unread: over VEXIL_MAX_BODY
    bool length_invalid = false;   // CONTENT_LENGTH was no plain decimal number
    const char* script_name = "";  // the start-up script_name (form field, else CGI variable)
};

inline constexpr std::size_t kFormTableStep = 200;

FormState& form_state();

// Reads and decodes the form data, once per run: later calls after a
// success succeed at once. Fails with the reason ("Missing environment
// variable ...", "Unrecognized REQUEST_METHOD = ...", "Invalid
// CONTENT_LENGTH", ...). A CONTENT_LENGTH over the run policy's max_body
// fails without reading and sets body_too_large; one that is no plain
// decimal number sets length_invalid. The driver answers both even where a
// failure to read the form is otherwise passed over.
Status read_form_data();

// Visits the fields in request order, as the lookups do, while `visit`
// returns true.
template <typename Visit>
void for_each_form_field(Visit visit) {
    FormState& form = form_state();
    if (form.fields == nullptr) return;
    for (std::size_t i = 0; i < form.capacity && form.fields[i].name != nullptr; ++i) {
        if (!visit(form.fields[i])) return;
    }
}

// The value of the first field named `name` (case-blind), or "" when there is
// none or its value is absent or empty.
const char* form_value(std::string_view name);
// The same with `fallback` in place of "".
const char* form_value_or(std::string_view name, const char* fallback);
// The first field named `name` (case-blind) whatever its value, or nullptr.
FormField* find_form_field(std::string_view name);
// Every value of the fields named exactly `name` (case counts), in request
// order, absent or empty values replaced by fallback; a tracked list ended by
// nullptr.
const char** form_values_all(std::string_view name, const char* fallback);

// A tracked copy of a variable of the request's environment, or "" when
// it is not set.
const char* getenv_copy(const char* name);

// The one URL decoder, for form fields and cookies alike: copies source
// into dest (dest_size bytes, cut to fit, always terminated), turning "+"
// into a blank and "%" followed by two hexadecimal digits into that byte; a
// "%" without two such digits after it is kept as it is, so a malformed
// escape neither eats the characters after it nor reads past the end.
// Decoding is done in one pass, so "%2B" gives a "+" that stays a plus.
// dest may be source.data(): the text never grows, so it can be decoded in
// place. Returns the length of the result.
std::size_t url_decode(std::string_view source, char* dest, std::size_t dest_size);
// The byte made of two hexadecimal digit characters (no check that they are
// digits; letters of either case count from 10).
unsigned char hex_pair_value(const char* p);

}  // namespace vexil
