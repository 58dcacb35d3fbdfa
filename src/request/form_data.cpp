// Form decoding. The request text (POST body or a copy of QUERY_STRING) is a
// tracked block that is cut up and decoded in place; the field table points
// into it.
#include "request/form_data.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/policy.hpp"
#include "base/run_io.hpp"
#include "base/text.hpp"
#include "base/tracked_memory.hpp"

namespace vexil {

namespace {
// CONTENT_LENGTH as a number of bytes: only decimal digits count (no sign,
// blank or suffix). Returns false for anything else; a number too large for
// size_t gives SIZE_MAX, which no body limit admits.
bool parse_content_length(const char* text, std::size_t& length) {
    length = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (!is_ascii_digit(*p)) return false;
        std::size_t digit = std::size_t(*p - '0');
        length = length > (SIZE_MAX - digit) / 10 ? SIZE_MAX : length * 10 + digit;
    }
    return true;
}

// Reads the POST body into `body` (a tracked block). A body over the site's
// limit is refused before a byte of it is read.
Status read_post_body(char*& body) {
    const char* length_text = run_env("CONTENT_LENGTH");
    if (length_text == nullptr || length_text[0] == '\0') {
        return Status::failure("Missing environment variable CONTENT_LENGTH");
    }
    std::size_t size = 0;
    if (!parse_content_length(length_text, size)) {
        form_state().length_invalid = true;
        return Status::failure("Invalid CONTENT_LENGTH");
    }
    if (size == 0) return Status::failure("Missing environment variable CONTENT_LENGTH");
    if (size > run_policy().max_body) {
        form_state().body_too_large = true;
        return Status::failure("Request body too large");
    }
    const char* type = run_env("CONTENT_TYPE");
    if (type == nullptr) return Status::failure("Missing environment variable CONTENT_TYPE");
    if (!equals_nocase(type, "application/x-www-form-urlencoded")) {
        return Status::failure("Unsupported CONTENT_TYPE = %s", type);
    }
    body = static_cast<char*>(tracked_alloc(size + 1));
    std::size_t got = std::fread(body, 1, size, run_input());
    if (got < size) {
        if (std::feof(run_input())) return Status::failure("Unexpected EOF reading POST method input");
        return Status::failure("Error reading POST method input: %s", std::strerror(errno));
    }
    body[size] = '\0';
    return Status::ok();
}

// Makes sure entry `index` exists, growing the table by 200 entries.
void ensure_entry(std::size_t index) {
    FormState& form = form_state();
    if (index <= form.capacity) return;
    form.capacity += kFormTableStep;
    form.fields = static_cast<FormField*>(
        tracked_realloc(form.fields, sizeof(FormField) * (form.capacity + 1)));
}

void decode_in_place(char* text) {
    std::size_t size = std::strlen(text) + 1;
    url_decode(std::string_view(text, size - 1), text, size);
}
}  // namespace

unsigned char hex_pair_value(const char* p) {
    auto digit = [](unsigned char c) -> int {
        if (c >= 65 && c < 128) return (c & ~32) - 55;
        return c - 48;
    };
    return static_cast<unsigned char>((16 * digit(p[0]) + digit(p[1])) & 0xFF);
}

const char* getenv_copy(const char* name) {
    const char* value = run_env(name);
    if (value == nullptr) return "";
    return tracked_strdup(value);
}

Status read_form_data() {
    FormState& form = form_state();
    if (form.data_read) return Status::ok();

    const char* method = run_env("REQUEST_METHOD");
    if (method == nullptr) return Status::failure("Missing environment variable REQUEST_METHOD");

    char* request = nullptr;
    if (equals_nocase(method, "post")) {
        if (Status read = read_post_body(request); !read.is_ok()) return read;
    } else if (equals_nocase(method, "get")) {
        const char* query = getenv_copy("QUERY_STRING");
        if (query[0] == '\0') return Status::failure("Missing environment variable QUERY_STRING");
        request = const_cast<char*>(query);  // a tracked copy, ours to cut up
    } else {
        return Status::failure("Unrecognized REQUEST_METHOD = %s", method);
    }

    form.capacity = kFormTableStep;
    form.fields = static_cast<FormField*>(tracked_alloc(sizeof(FormField) * (form.capacity + 1)));
    form.fields[0] = FormField{request, nullptr, 0};

    for (std::size_t i = 0; form.fields[i].name != nullptr; ++i) {
        char* pair = form.fields[i].name;
        char* next = std::strchr(pair, '&');
        if (next != nullptr) *next++ = '\0';
        ensure_entry(i + 1);
        FormField& field = form.fields[i];
        field.value = nullptr;
        field.capacity = 0;
        if (char* equals = std::strchr(pair, '='); equals != nullptr) {
            *equals = '\0';
            field.value = equals + 1;
            field.capacity = static_cast<std::uint32_t>(std::strlen(field.value) + 1);
            decode_in_place(field.value);
        }
        decode_in_place(field.name);
        form.fields[i + 1] = FormField{next, nullptr, 0};
    }
    form.data_read = true;
    return Status::ok();
}

FormField* find_form_field(std::string_view name) {
    FormField* found = nullptr;
    for_each_form_field([&](FormField& field) {
        if (!equals_nocase(field.name, name)) return true;
        found = &field;
        return false;
    });
    return found;
}

const char* form_value_or(std::string_view name, const char* fallback) {
    FormField* field = find_form_field(name);
    if (field == nullptr || field->value == nullptr || field->value[0] == '\0') return fallback;
    return field->value;
}

const char* form_value(std::string_view name) { return form_value_or(name, ""); }

const char** form_values_all(std::string_view name, const char* fallback) {
    std::size_t matches = 0;
    for_each_form_field([&](FormField& field) {
        if (name == field.name) ++matches;
        return true;
    });
    auto** list = static_cast<const char**>(tracked_alloc(sizeof(char*) * (matches + 1)));
    std::size_t n = 0;
    for_each_form_field([&](FormField& field) {
        if (name == field.name) {
            bool empty = field.value == nullptr || field.value[0] == '\0';
            list[n++] = empty ? fallback : field.value;
        }
        return true;
    });
    list[n] = nullptr;
    return list;
}

namespace {
bool is_hex_digit(char c) {
    return is_ascii_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
}  // namespace

std::size_t url_decode(std::string_view source, char* dest, std::size_t dest_size) {
    if (dest_size == 0) return 0;
    // Writing never gets ahead of reading, so dest may be the source itself.
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
    return n;
}

}  // namespace vexil
