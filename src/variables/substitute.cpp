// Variable substitution.
#include "variables/substitute.hpp"

#include <cstring>

#include "cgi/text.hpp"
#include "driver/output.hpp"
#include "expr/skip_operand.hpp"
#include "variables/variable_table.hpp"

namespace vexil {

namespace {
TextBuffer<kReferenceBufferSize> g_reference_buffer;  // the reference being expanded
int g_expansion_depth = 0;                            // expand_reference calls in progress

bool is_name_char(char c) { return is_ascii_letter(c) || is_ascii_digit(c) || c == '_' || c == ' '; }

// Writes "$reference$" (or nothing) into the work area: the undefined case.
const char* undefined_reference(const char* reference, int options, WorkArea work) {
    if (work.size == 0) return "";
    work.start[0] = '\0';
    if (options & kSubstDropUnknown) return work.start;
    std::size_t n = copy_bounded(work.start, work.size, "$");
    n += copy_bounded(work.start + n, work.size - n, reference);
    copy_bounded(work.start + n, work.size - n, "$");
    return work.start;
}
}  // namespace

void reset_substitution_state() {
    g_reference_buffer.clear();
    g_expansion_depth = 0;
}

FoundReference find_next_reference(char* text) {
    FoundReference found;
    if (text == nullptr) return found;
    char* search = text;
    for (;;) {
        char* dollar = std::strchr(search, '$');
        if (dollar == nullptr) return found;
        if (dollar != text && dollar[-1] == '\\') {
            dollar[-1] = '\0';
            found.kind = FoundReference::kEscape;
            found.rest = dollar + 1;
            return found;
        }
        if (!is_ascii_letter(dollar[1])) {
            search = dollar + 1;
            continue;
        }
        char* end = dollar + 1;
        while (is_name_char(*end)) ++end;
        if (*end != '$' && *end != '(') {
            search = end;
            continue;
        }
        *dollar = '\0';
        if (*end == '(') {
            char* p = end;
            for (;;) {
                ++p;
                skip_operand(p);
                if (*p == ')' || *p == '\0') break;
            }
            if (*p == '\0') {
                found.kind = FoundReference::kReference;
                found.rest = p;
                g_reference_buffer.assign("String function missing right paren ')'");
                found.reference = g_reference_buffer.c_str();
                return found;
            }
            end = p;
        }
        *end = '\0';
        found.kind = FoundReference::kReference;
        found.rest = end + 1;
        g_reference_buffer.assign(dollar + 1);
        found.reference = g_reference_buffer.c_str();
        return found;
    }
}

void substitute_variables(char* text, char* dest, std::size_t dest_size, int options) {
    if (dest_size == 0) return;
    dest[0] = '\0';
    if (text == nullptr) return;
    std::size_t length = 0;
    auto append = [&](std::string_view piece) {
        length += copy_bounded(dest + length, dest_size - length, piece);
    };

    char* rest = text;
    for (;;) {
        FoundReference found = find_next_reference(rest);
        if (found.kind == FoundReference::kNone) break;
        append(rest);  // the text before the reference, cut by the scan
        if (found.kind == FoundReference::kEscape) {
            append("$");
        } else {
            WorkArea work{dest + length, dest_size - length};
            const char* value = expand_reference(found.reference, options, work);
            std::string_view inserted(value);
            if ((options & kSubstSqlQuotes) && length > 0 && dest[length - 1] == '\'' &&
                inserted.find('\'') != std::string_view::npos) {
                // Double every quote of the value. The copy is built in the
                // scratch area beyond the value, which may itself lie at the
                // scratch top.
                char* base = scratch_top();
                std::size_t skip = inserted.size() + 1;
                if (skip < scratch_room()) {
                    char* copy = base + skip;
                    std::size_t room = scratch_room() - skip;
                    std::size_t n = 0;
                    for (char c : inserted) {
                        std::size_t need = (c == '\'') ? 2 : 1;
                        if (n + need >= room) break;
                        copy[n++] = c;
                        if (c == '\'') copy[n++] = '\'';
                    }
                    copy[n] = '\0';
                    inserted = std::string_view(copy, n);
                }
            }
            if (inserted.data() == dest + length) {
                length += inserted.size();  // already built in place
            } else {
                append(inserted);
            }
        }
        rest = found.rest;
    }
    append(rest);
}

const char* expand_reference(const char* reference, int options, WorkArea work) {
    if (++g_expansion_depth > kMaxExpansionDepth) {
        --g_expansion_depth;
        report_error("Too many nested variables");
        if (work.size > 0) work.start[0] = '\0';
        return work.size > 0 ? work.start : "";
    }
    const char* result;
    const char* paren = std::strchr(reference, '(');
    if (paren != nullptr) {
        // String functions arrive with the expression evaluator; until a
        // function is known the call stays as written.
        result = undefined_reference(reference, options, work);
    } else {
        const char* value = lookup_value(reference);
        if (value[0] == '\0') {
            result = undefined_reference(reference, options, work);
        } else if (std::strcmp(value, kEmptyMark) == 0) {
            if (options & kSubstEmptyNothing) {
                result = "";
            } else if (options & kSubstEmptyNbsp) {
                result = "&nbsp;";
            } else {
                result = value;
            }
        } else {
            result = value;
        }
    }
    --g_expansion_depth;
    return result;
}

}  // namespace vexil
