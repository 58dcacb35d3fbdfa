// TRANSLATE and FORMAT mappings: the tables the two commands define for the
// run, and how a value is mapped through them when a reference is expanded.
// A FORMAT picture lays a number into "#" and "0" positions (with sign and
// currency) or, for any other value, fills its "#" positions with the
// value's characters; $format() uses the same picture rules.
#include "values/mappings.hpp"

#include <array>
#include <cstring>

#include "base/text.hpp"
#include "base/tracked_memory.hpp"
#include "values/variable_table.hpp"

namespace vexil {

namespace {
// FORMAT's numeric mode: a value that is not empty and holds nothing but
// digits, points, signs and blanks (in any order).
bool has_only_number_characters(const char* value) {
    if (value[0] == '\0') return false;
    for (const char* p = value; *p != '\0'; ++p) {
        if (!is_ascii_digit(*p) && *p != '.' && *p != '-' && *p != '+' && *p != ' ') return false;
    }
    return true;
}

bool is_digit_position(char c) { return c == '#' || c == '0'; }

// Text mode: each "#" takes the next character of the value.
const char* format_text(char* picture, const char* value) {
    if (picture[0] == '\0' || value[0] == '\0') {
        picture[0] = '\0';
        return picture;
    }
    const char* v = value;
    char* p = picture;
    for (; *p != '\0'; ++p) {
        if (*v == '\0') break;
        if (*p == '#') *p = *v++;
    }
    *p = '\0';
    return picture;
}
}  // namespace

void define_translation(char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    char* name = text;
    char closing = ' ';
    if (*text == '"' || *text == '$') {
        closing = *text;
        name = text + 1;
    }
    MappingState& m = mapping_state();
    char* close = std::strchr(name, closing);
    if (close == nullptr || m.translation_count >= kMaxTranslations) return;
    *close = '\0';
    char* items = close + 1;

    TranslationTable& table = m.translations[m.translation_count++];
    table.name = tracked_strdup(name);
    table.pairs = static_cast<TranslationPair*>(
        tracked_alloc(sizeof(TranslationPair) * (kMaxTranslationPairs + 1)));
    table.pairs[0] = TranslationPair{};
    char* from;
    char* to;
    for (int i = 0; i < kMaxTranslationPairs && next_assignment(items, from, to, true); ++i) {
        table.pairs[i] = TranslationPair{tracked_strdup(from), tracked_strdup(to)};
        table.pairs[i + 1] = TranslationPair{};
    }
}

void define_format_list(char* text) {
    MappingState& m = mapping_state();
    char* name;
    char* picture;
    while (m.format_count < kMaxFormats && next_assignment(text, name, picture, true)) {
        if (std::strlen(picture) > kMaxPicture) picture[kMaxPicture] = '\0';
        m.formats[m.format_count++] = FormatEntry{tracked_strdup(name), tracked_strdup(picture)};
    }
}

const char* translate_value(std::string_view name, const char* value) {
    const MappingState& m = mapping_state();
    for (int i = m.translation_count - 1; i >= 0; --i) {
        const TranslationTable& table = m.translations[i];
        if (!equals_nocase(table.name, name)) continue;
        for (const TranslationPair* pair = table.pairs; pair->from != nullptr; ++pair) {
            if (std::strcmp(pair->from, value) == 0) {
                return pair->to[0] != '\0' ? pair->to : kEmptyMark;
            }
        }
        return value;
    }
    return value;
}

const char* find_format_picture(std::string_view name) {
    const MappingState& m = mapping_state();
    for (int i = m.format_count - 1; i >= 0; --i) {
        if (!equals_nocase(m.formats[i].name, name)) continue;
        return m.formats[i].picture[0] != '\0' ? m.formats[i].picture : nullptr;
    }
    return nullptr;
}

const char* apply_format(std::string_view name, const char* value) {
    const char* picture = find_format_picture(name);
    return picture ? format_picture(picture, value) : value;
}

namespace {
// Numeric mode, integer part: the value's digits go right to left into the
// "#" and "0" positions before the picture's point; then the currency and
// sign characters are put before the first digit written. Returns where
// the result starts in buffer. `pic` follows the sign and currency
// characters at the start of the buffer.
char* lay_integer_part(char* buffer, char* pic, char sign_mode, char currency, const char* value) {
    const char* v = value;
    if (*v == '-' || *v == '+') ++v;
    bool negative = std::strchr(value, '-') != nullptr;
    char* pic_point = std::strchr(pic, '.');
    const char* val_point = std::strchr(v, '.');
    char* pic_int_end = pic_point ? pic_point : pic + std::strlen(pic);
    const char* val_int_end = val_point ? val_point : v + std::strlen(v);

    // Cursors are kept as offsets so that "one before the start" never forms
    // an out-of-range pointer.
    std::ptrdiff_t pc = (pic_int_end - pic) - 1;
    std::ptrdiff_t vc = (val_int_end - v) - 1;
    while (pc >= 0 && vc >= 0) {
        if (is_digit_position(pic[pc])) {
            if (is_ascii_digit(v[vc])) pic[pc] = v[vc];
            --vc;
        }
        --pc;
    }
    if (vc < 0) {
        // Unfilled zeros stay as leading zeros; anything else stops here.
        while (pc >= 0 && pic[pc] == '0') --pc;
    }
    // pc may now reach back into the sign and currency characters, which
    // give exactly the room the symbols need.
    std::ptrdiff_t cursor = (pic - buffer) + pc;
    if (currency != '\0') buffer[cursor--] = currency;
    bool show_sign = sign_mode == '+' || (sign_mode == '-' && negative);
    if (show_sign) buffer[cursor--] = (sign_mode == '+' && !negative) ? '+' : '-';
    return buffer + cursor + 1;
}

// Numeric mode, fraction part: the digits after the value's point go left
// to right into the positions after the picture's point (`pic_point`); an
// unfilled "#" ends the result, an unfilled "0" stays.
void lay_fraction(char* pic_point, const char* value) {
    const char* v = value;
    if (*v == '-' || *v == '+') ++v;
    const char* val_point = std::strchr(v, '.');
    char* fp = pic_point + 1;
    const char* fv = val_point ? val_point + 1 : v + std::strlen(v);
    for (; *fp != '\0'; ++fp) {
        if (!is_digit_position(*fp)) break;
        if (is_ascii_digit(*fv)) {
            *fp = *fv++;
        } else if (*fp == '#') {
            break;
        }
    }
    *fp = '\0';
}
}  // namespace

const char* format_picture(const char* picture_text, const char* value) {
    std::array<char, kMaxPicture + 1>& format_buffer = mapping_state().format_buffer;
    char* buffer = format_buffer.data();
    copy_bounded(buffer, format_buffer.size(), picture_text);
    if (!has_only_number_characters(value)) return format_text(buffer, value);

    char* pic = buffer;
    char sign_mode = '\0';
    if (*pic == '-' || *pic == '+') sign_mode = *pic++;
    char currency = '\0';
    if (*pic == '$' || static_cast<unsigned char>(*pic) == 0xA3) currency = *pic++;

    // The point is found before the integer part is laid in, which writes
    // only before it.
    char* pic_point = std::strchr(pic, '.');
    char* result = lay_integer_part(buffer, pic, sign_mode, currency, value);
    if (pic_point != nullptr) lay_fraction(pic_point, value);
    return result;
}

}  // namespace vexil
