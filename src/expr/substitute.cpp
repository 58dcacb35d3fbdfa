// Variable substitution: copies a text with every reference replaced
// (substitute_variables) and expands one reference (expand_reference). The
// reference scanner (reference.hpp) finds the references; a name's value is
// looked up, translated, formatted or expanded in turn when it holds
// references itself, under the option bits of the place of use.
#include "expr/substitute.hpp"

#include <cstring>
#include <string>

#include "base/text.hpp"
#include "base/output.hpp"
#include "expr/expr_state.hpp"
#include "expr/reference.hpp"
#include "values/mappings.hpp"
#include "expr/string_functions.hpp"
#include "values/variable_table.hpp"

namespace vexil {

namespace {
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
// A function reference: the name before "(" (trailing blanks cut) and the
// argument text after it. The arguments are copied, since evaluating them
// may expand further references that reuse the reference buffer.
const char* expand_function(char* reference, char* paren, int options, WorkArea work) {
    if (paren[1] == '\0') return undefined_reference(reference, options, work);
    std::string_view name(reference, std::size_t(paren - reference));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    std::string arguments(paren + 1);
    std::string function_name(name);
    call_string_function(function_name.c_str(), work, arguments.data());
    return work.size > 0 ? work.start : "";
}

const char* expand_variable(char* reference, int options, WorkArea work) {
    const char* value = lookup_value(reference);
    if (value[0] == '\0') return undefined_reference(reference, options, work);
    value = translate_value(reference, value);
    if (std::strcmp(value, kEmptyMark) == 0) {
        // The replacement of an empty value is final: no picture is laid
        // over "&nbsp;".
        if (options & kSubstEmptyNothing) return "";
        if (options & kSubstEmptyNbsp) return "&nbsp;";
    }
    if (std::strchr(value, '$') != nullptr) {
        const char* self = std::strstr(value, reference);
        std::size_t n = std::strlen(reference);
        if (self != nullptr && self > value && self[-1] == '$' && self[n] == '$') return value;
        // The value is a small template: expand a copy of it in place of
        // the reference, with the options of the place of use.
        std::string copy(value);
        if (work.size == 0) return value;
        substitute_variables(copy.data(), work.start, work.size, options);
        return work.start;
    }
    if (options & kSubstFormat) return apply_format(reference, value);
    return value;
}
}  // namespace

namespace {
// A reference, an escaped "$", or neither, found by find_next_reference.
struct FoundReference {
    enum Kind { kNone, kEscape, kReference } kind = kNone;
    char* reference = nullptr;  // the reference text (in the run's reference buffer)
    char* rest = nullptr;       // where the search goes on
};

// Finds the next reference or escaped "$" in text and cuts the text before
// it with a terminator. A function without its ")" stands for the message
// as a reference name (undefined, so shown as such or dropped).
FoundReference find_next_reference(char* text) {
    TextBuffer<kReferenceBufferSize>& reference_buffer = expr_state().reference;
    FoundReference found;
    if (text == nullptr) return found;
    for (char* dollar = std::strchr(text, '$'); dollar != nullptr; dollar = std::strchr(dollar + 1, '$')) {
        if (is_escaped_dollar(text, dollar)) {
            dollar[-1] = '\0';
            found.kind = FoundReference::kEscape;
            found.rest = dollar + 1;
            return found;
        }
        ReferenceScan scan = scan_reference(dollar);
        if (scan.kind == ReferenceScan::kNone) continue;
        *dollar = '\0';
        char* close = dollar + scan.close;
        found.kind = FoundReference::kReference;
        if (scan.kind == ReferenceScan::kUnclosedFunction) {
            found.rest = close;
            reference_buffer.assign("String function missing right paren ')'");
        } else {
            found.rest = close + 1;
            *close = '\0';
            reference_buffer.assign(dollar + 1);
        }
        found.reference = reference_buffer.data();
        return found;
    }
    return found;
}

// Appends value to dest (of dest_size bytes, holding `length` characters)
// with every "'" written twice, cut to fit. The value may already lie at
// the end of the destination (built there as the work area): then it is
// widened in place from its end backwards.
std::size_t append_doubling_quotes(char* dest, std::size_t dest_size, std::size_t length,
                                   std::string_view value) {
    std::size_t room = dest_size - 1 - length;
    // How many characters of the value fit once doubled, and whether the
    // last of them is a quote of which only one half fits.
    std::size_t used = 0, out = 0;
    bool half = false;
    while (used < value.size()) {
        std::size_t need = value[used] == '\'' ? 2 : 1;
        if (out + need > room) {
            half = need == 2 && out + 1 == room;
            break;
        }
        out += need;
        ++used;
    }
    char* base = dest + length;
    std::size_t total = out + (half ? 1 : 0);
    if (value.data() == base) {
        std::size_t w = total;
        if (half) base[--w] = '\'';
        for (std::size_t r = used; r > 0; --r) {
            char c = base[r - 1];
            base[--w] = c;
            if (c == '\'') base[--w] = '\'';
        }
    } else {
        std::size_t w = 0;
        for (std::size_t r = 0; r < used; ++r) {
            base[w++] = value[r];
            if (value[r] == '\'') base[w++] = '\'';
        }
        if (half) base[w++] = '\'';
    }
    base[total] = '\0';
    return length + total;
}
}  // namespace

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
            // When the destination lies in the scratch area, nested
            // evaluations (string-function arguments) must start above what
            // is built so far.
            ScratchGuard guard(dest + length);
            std::string_view value(expand_reference(found.reference, options, work));
            if ((options & kSubstSqlQuotes) && length > 0 && dest[length - 1] == '\'' &&
                value.find('\'') != std::string_view::npos) {
                length = append_doubling_quotes(dest, dest_size, length, value);
            } else if (value.data() == dest + length) {
                length += value.size();  // already built in place
            } else {
                append(value);
            }
        }
        rest = found.rest;
    }
    append(rest);
}

const char* expand_reference(char* reference, int options, WorkArea work) {
    int& depth = expr_state().expansion_depth;
    if (++depth > kMaxExpansionDepth) {
        --depth;
        report_error("Too many nested variables");
        return "";
    }
    if (work.size > 0) work.start[0] = '\0';
    const char* result;
    if (char* paren = std::strchr(reference, '('); paren != nullptr) {
        result = expand_function(reference, paren, options, work);
    } else {
        result = expand_variable(reference, options, work);
    }
    --depth;
    return result;
}

}  // namespace vexil
