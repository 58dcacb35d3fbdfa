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
#include "base/policy.hpp"
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
// may expand further references that reuse the reference buffer. They are
// data for the function, not text at the place of use; the result is from
// outside when a value from outside went into it (except raw(), which the
// template uses to write a value unescaped on purpose).
const char* expand_function(char* reference, char* paren, int options, WorkArea work) {
    if (paren[1] == '\0') return undefined_reference(reference, options, work);
    std::string_view name(reference, std::size_t(paren - reference));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    std::string arguments(paren + 1);
    std::string function_name(name);
    ExprState& state = expr_state();
    Placement* place = state.placement;
    state.placement = nullptr;
    OriginProbe probe;
    call_string_function(function_name.c_str(), work, arguments.data());
    state.placement = place;
    state.value_outside = probe.outside() && !equals_nocase(function_name, "raw");
    return work.size > 0 ? work.start : "";
}

const char* expand_variable(char* reference, int options, WorkArea work) {
    FoundValue found = lookup(reference);
    if (found.text[0] == '\0') return undefined_reference(reference, options, work);
    const char* value = found.text;
    bool outside = found.outside;
    if ((options & kSubstAsStored) == 0) {
        // A translation is the template's own text.
        const char* translated = translate_value(reference, value);
        if (translated != value) outside = false;
        value = translated;
    }
    if (std::strcmp(value, kEmptyMark) == 0) {
        // The replacement of an empty value is final: no picture is laid
        // over "&nbsp;".
        if (options & kSubstEmptyNothing) return "";
        if (options & kSubstEmptyNbsp) return "&nbsp;";
    }
    if (outside) expr_state().outside_seen = true;
    // A value from outside is data in a locked run, and a stored value is
    // shown as stored: neither is expanded again.
    bool as_template = (options & kSubstAsStored) == 0 && !(outside && is_locked_run());
    if (as_template && std::strchr(value, '$') != nullptr) {
        const char* self = std::strstr(value, reference);
        std::size_t n = std::strlen(reference);
        if (self != nullptr && self > value && self[-1] == '$' && self[n] == '$') return value;
        // The value is a small template: expand a copy of it in place of
        // the reference, with the options and the place of use; the values
        // from outside inside it are placed there.
        std::string copy(value);
        if (work.size == 0) return value;
        substitute_in_place(copy.data(), work.start, work.size, options, expr_state().placement);
        expr_state().value_outside = false;
        expr_state().value_placed = expr_state().placement != nullptr;
        return work.start;
    }
    expr_state().value_outside = outside;
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
// with every "'" written twice, and every "\" too given `backslashes`, cut
// to fit. The value may already lie at the end of the destination (built
// there as the work area): then it is widened in place from its end
// backwards.
std::size_t append_doubling_quotes(char* dest, std::size_t dest_size, std::size_t length,
                                   std::string_view value, bool backslashes) {
    auto doubled = [backslashes](char c) { return c == '\'' || (backslashes && c == '\\'); };
    std::size_t room = dest_size - 1 - length;
    // How many characters of the value fit once doubled, and whether the
    // last of them is one of which only one half fits.
    std::size_t used = 0, out = 0;
    bool half = false;
    while (used < value.size()) {
        std::size_t need = doubled(value[used]) ? 2 : 1;
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
        if (half) base[--w] = value[used];
        for (std::size_t r = used; r > 0; --r) {
            char c = base[r - 1];
            base[--w] = c;
            if (doubled(c)) base[--w] = c;
        }
    } else {
        std::size_t w = 0;
        for (std::size_t r = 0; r < used; ++r) {
            base[w++] = value[r];
            if (doubled(value[r])) base[w++] = value[r];
        }
        if (half) base[w++] = value[used];
    }
    base[total] = '\0';
    return length + total;
}
}  // namespace

namespace {
bool is_identifier_char(char c) { return is_ascii_letter(c) || is_ascii_digit(c) || c == '_'; }

// Follows the quoting over text just built at a place: single- and
// double-quoted stretches, E'...' literals in SQL, and in the shell a
// backslash outside single quotes taking the next character literally.
void advance_quotes(Placement& place, std::string_view text) {
    if (place.kind == Placement::kPage) return;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (place.kind == Placement::kShell && c == '\\' && place.quote != '\'' && i + 1 < text.size()) {
            place.before_last = c;
            place.last = text[++i];
            continue;
        }
        if (place.quote == '\0' && (c == '\'' || c == '"')) {
            place.quote = c;
            place.escape_string = c == '\'' && (place.last == 'E' || place.last == 'e') &&
                                  !is_identifier_char(place.before_last);
        } else if (c == place.quote) {
            place.quote = '\0';
        }
        place.before_last = place.last;
        place.last = c;
    }
}

// An optional sign, digits with an optional fraction, an optional exponent.
bool is_plain_number(std::string_view t) {
    std::size_t i = 0, digits = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    for (; i < t.size() && is_ascii_digit(t[i]); ++i) ++digits;
    if (i < t.size() && t[i] == '.') {
        for (++i; i < t.size() && is_ascii_digit(t[i]); ++i) ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        std::size_t exponent = 0;
        for (; i < t.size() && is_ascii_digit(t[i]); ++i) ++exponent;
        if (exponent == 0) return false;
    }
    return i == t.size();
}

std::string_view trimmed(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

// The characters a value right after an opening "'" gets doubled: the
// quote, and the backslash where the literal reads it as an escape.
const char* sql_doubled(const Placement& place) {
    bool backslashes = place.kind == Placement::kSql && place.quote == '\'' &&
                       (place.backslash_escapes || place.escape_string);
    return backslashes ? "'\\" : "'";
}

// A value from outside in a statement: one literal inside quotes, a number
// outside them.
Status sql_value(const Placement& place, std::string_view value, const char* name, std::string& out) {
    if (place.quote == '\0') {
        std::string_view number = trimmed(value);
        if (!is_plain_number(number)) {
            return Status::failure("The value of %s is not a number where the statement needs one; "
                                   "the statement was not run.", name);
        }
        // After a "-" of the statement a negative number gets a blank
        // before it: "--" would start a comment that hides the rest.
        if (number.front() == '-' && place.last == '-') out += ' ';
        out.append(number);
        return Status::ok();
    }
    bool double_backslashes = place.quote == '\'' && (place.backslash_escapes || place.escape_string);
    for (char c : value) {
        out += c;
        if (c == place.quote || (c == '\\' && double_backslashes)) out += c;
    }
    return Status::ok();
}

// A value from outside in a shell command line: inside double quotes every
// character the shell treats specially there is escaped; elsewhere the value
// becomes (part of) a single-quoted word, each of its quotes closing,
// escaping and reopening the quoting.
void shell_value(const Placement& place, std::string_view value, std::string& out) {
    if (place.quote == '"') {
        for (char c : value) {
            if (c == '$' || c == '`' || c == '"' || c == '\\') out += '\\';
            out += c;
        }
        return;
    }
    if (place.quote == '\0') out += '\'';
    for (char c : value) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    if (place.quote == '\0') out += '\'';
}

// The text a value from outside becomes at its place; false after a refusal.
bool place_value(Placement& place, std::string_view value, const char* name, std::string& out) {
    switch (place.kind) {
        case Placement::kPage:
            append_page_escaped(out, value);
            return true;
        case Placement::kShell:
            shell_value(place, value, out);
            return true;
        case Placement::kSql:
            if (Status s = sql_value(place, value, name, out); !s.is_ok()) {
                if (place.refusal != nullptr && place.refusal->is_ok()) *place.refusal = s;
                return false;
            }
            return true;
    }
    return true;
}
}  // namespace

bool substitute_in_place(char* text, char* dest, std::size_t dest_size, int options, const Placement* outer) {
    if (dest_size == 0) return true;
    dest[0] = '\0';
    if (text == nullptr) return false;
    std::size_t length = 0;
    bool filled = false;
    // The quoting in force moves along with what is built here.
    Placement place;
    if (outer != nullptr) place = *outer;
    auto append = [&](std::string_view piece) {
        std::size_t n = copy_bounded(dest + length, dest_size - length, piece);
        if (n < piece.size()) filled = true;
        advance_quotes(place, std::string_view(dest + length, n));
        length += n;
    };

    char* rest = text;
    for (;;) {
        FoundReference found = find_next_reference(rest);
        if (found.kind == FoundReference::kNone) break;
        append(rest);  // the text before the reference, cut by the scan
        rest = found.rest;
        if (found.kind == FoundReference::kEscape) {
            append("$");
            continue;
        }
        std::string name(found.reference);
        std::size_t start = length;
        WorkArea work{dest + length, dest_size - length};
        // When the destination lies in the scratch area, nested
        // evaluations (string-function arguments) must start above what
        // is built so far.
        ScratchGuard guard(dest + length);
        ExprState& state = expr_state();
        Placement* saved = state.placement;
        state.placement = outer != nullptr ? &place : nullptr;
        std::string_view value(expand_reference(found.reference, options, work));
        state.placement = saved;
        if (outer != nullptr && state.value_outside && is_locked_run()) {
            std::string placed;
            if (!place_value(place, std::string(value), name.c_str(), placed)) return filled;
            append(placed);
        } else if ((options & kSubstSqlQuotes) && length > 0 && dest[length - 1] == '\'' &&
                   value.find_first_of(sql_doubled(place)) != std::string_view::npos &&
                   !(state.value_placed && is_locked_run())) {
            length = append_doubling_quotes(dest, dest_size, length, value, sql_doubled(place)[1] != '\0');
            advance_quotes(place, std::string_view(dest + start, length - start));
        } else if (value.data() == dest + length) {
            length += value.size();  // already built in place
            advance_quotes(place, value);
        } else {
            append(value);
        }
        if (length + 1 >= dest_size) filled = true;
    }
    append(rest);
    if (length + 1 >= dest_size) filled = true;
    return filled;
}

void substitute_variables(char* text, char* dest, std::size_t dest_size, int options) {
    substitute_in_place(text, dest, dest_size, options, nullptr);
}

Status substitute_statement(char* text, char* dest, std::size_t dest_size, bool backslash_escapes) {
    Status refusal;
    Placement place;
    place.kind = Placement::kSql;
    place.backslash_escapes = backslash_escapes;
    place.refusal = &refusal;
    bool filled = substitute_in_place(text, dest, dest_size, kOptionsSql, &place);
    if (!refusal.is_ok()) return refusal;
    if (filled) {
        return Status::failure("The statement is too long once its values are filled in (%zu characters "
                               "at most); it was not run.", dest_size - 2);
    }
    return Status::ok();
}

Status substitute_command_line(char* text, char* dest, std::size_t dest_size) {
    Placement place;
    place.kind = Placement::kShell;
    if (substitute_in_place(text, dest, dest_size, kOptionsPlain, &place)) {
        return Status::failure("EXEC command line too long; not run");
    }
    return Status::ok();
}

void append_page_escaped(std::string& dest, std::string_view text) {
    std::string escaped;
    append_html_escaped(escaped, text, true);
    for (char c : escaped) {
        if (c == '$') {
            dest += "&#36;";
        } else {
            dest += c;
        }
    }
}

PageValue expand_page_reference(char* reference, int options, WorkArea work) {
    ExprState& state = expr_state();
    Placement page;
    Placement* saved = state.placement;
    state.placement = &page;
    const char* text = expand_reference(reference, options, work);
    state.placement = saved;
    return PageValue{text, state.value_outside && is_locked_run()};
}

const char* expand_reference(char* reference, int options, WorkArea work) {
    count_reference();
    ExprState& state = expr_state();
    state.value_outside = false;
    state.value_placed = false;
    int& depth = state.expansion_depth;
    // Once one reference inside an expansion passed the nesting limit,
    // every other reference inside it gives nothing at once: values that
    // refer to each other more than once would otherwise be expanded anew
    // for each branch, exponentially often, each with its own report.
    if (state.nesting_exceeded && depth > 0) return "";
    state.nesting_exceeded = false;
    if (++depth > kMaxExpansionDepth) {
        --depth;
        state.nesting_exceeded = true;
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
