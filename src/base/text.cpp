// Shared text helpers: bounded copy and the case-blind comparisons.
//
// The lowest piece of the program: every fixed buffer is written through
// copy_bounded or a TextBuffer, and keywords, variable and field names are
// compared here without regard to letter case (ASCII letters only).
#include "base/text.hpp"

namespace vexil {

std::size_t copy_bounded(char* dest, std::size_t dest_size, std::string_view text) {
    if (dest_size == 0) return 0;
    std::size_t n = text.size() < dest_size - 1 ? text.size() : dest_size - 1;
    if (n > 0) std::memmove(dest, text.data(), n);
    dest[n] = '\0';
    return n;
}

bool equals_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    }
    return true;
}

bool starts_with_nocase(std::string_view text, std::string_view keyword, std::size_t n) {
    if (n > keyword.size()) n = keyword.size();
    if (text.empty() || text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (ascii_upper(text[i]) != ascii_upper(keyword[i])) return false;
    }
    return true;
}

bool starts_with_nocase(const char* text, std::string_view keyword, std::size_t n) {
    if (n > keyword.size()) n = keyword.size();
    if (text == nullptr || text[0] == '\0') return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] == '\0') return false;
        if (ascii_upper(text[i]) != ascii_upper(keyword[i])) return false;
    }
    return true;
}

void append_html_escaped(std::string& dest, std::string_view text, bool apostrophe) {
    for (char c : text) {
        switch (c) {
            case '&': dest += "&amp;"; break;
            case '<': dest += "&lt;"; break;
            case '>': dest += "&gt;"; break;
            case '"': dest += "&quot;"; break;
            case '\'':
                if (apostrophe) {
                    dest += "&#39;";
                } else {
                    dest += c;
                }
                break;
            default: dest += c;
        }
    }
}

}  // namespace vexil
