// TRANSLATE and FORMAT mappings: value-to-label tables and number/text
// pictures attached to variable names, applied when a reference is expanded.
#pragma once

#include <array>
#include <string_view>

namespace vexil {

inline constexpr int kMaxTranslations = 32;
inline constexpr int kMaxTranslationPairs = 99;  // plus the end mark
inline constexpr int kMaxFormats = 50;
inline constexpr std::size_t kMaxPicture = 48;

struct TranslationPair {
    const char* from = nullptr;  // compared exactly with a value; nullptr ends the list
    const char* to = nullptr;    // the replacement
};

struct TranslationTable {
    const char* name = nullptr;      // variable name, compared ignoring case
    TranslationPair* pairs = nullptr;  // tracked: 100 pairs, the last used one followed by the end mark
};

struct FormatEntry {
    const char* name = nullptr;     // variable name, compared ignoring case
    const char* picture = nullptr;  // at most 48 characters
};

// The TRANSLATE tables and FORMAT entries of a run, newest last.
struct MappingState {
    std::array<TranslationTable, kMaxTranslations> translations{};
    int translation_count = 0;
    std::array<FormatEntry, kMaxFormats> formats{};
    int format_count = 0;
    std::array<char, kMaxPicture + 1> format_buffer{};  // where format_picture builds its result
};

MappingState& mapping_state();

// TRANSLATE: a variable name, then from=to items. Adds one table.
void define_translation(char* text);
// FORMAT: name=picture items. Adds one entry per item.
void define_format_list(char* text);

// The value mapped through the newest table of that name (or unchanged).
const char* translate_value(std::string_view name, const char* value);
// The picture of the newest entry of that name, or nullptr (also when empty).
const char* find_format_picture(std::string_view name);
// format_picture with the name's picture, or the value when it has none.
const char* apply_format(std::string_view name, const char* value);
// The value laid into the picture. The result lies in a shared buffer that
// the next call overwrites.
const char* format_picture(const char* picture, const char* value);

}  // namespace vexil
