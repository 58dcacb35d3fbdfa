// String functions.
#include "expr/string_functions.hpp"

#include <cstring>
#include <string_view>

#include "base/text.hpp"
#include "base/output.hpp"
#include "expr/evaluator.hpp"
#include "values/mappings.hpp"

namespace vexil {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Where a call writes its result, and whether it has.
struct Result {
    WorkArea dest;
    bool written = false;
};

void put_result(Result& result, std::string_view text) {
    if (result.dest.size > 0) copy_bounded(result.dest.start, result.dest.size, text);
    result.written = true;
}

// Reports the evaluator's pending message once.
void report_pending_error() {
    if (!error_text().empty()) report_error(error_text().view());
    error_text().clear();
}

enum class Outcome { Done, Undefined, NonNumeric, Failed };
}  // namespace

void url_encode(const char* text, char* dest, std::size_t dest_size) {
    if (dest_size == 0) return;
    std::size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
        if (*p == ' ') {
            if (n + 1 >= dest_size) break;
            dest[n++] = '+';
        } else if (is_ascii_letter(char(*p)) || is_ascii_digit(char(*p))) {
            if (n + 1 >= dest_size) break;
            dest[n++] = char(*p);
        } else {
            if (n + 3 >= dest_size) break;
            dest[n++] = '%';
            dest[n++] = kHexDigits[*p >> 4];
            dest[n++] = kHexDigits[*p & 0xF];
        }
    }
    dest[n] = '\0';
}

void call_string_function(const char* name, WorkArea dest, char* arguments) {
    if (dest.size > 0) dest.start[0] = '\0';
    Result result{dest};
    error_text().clear();
    char* c = arguments;
    ExprValue first;
    if (!eval_or(c, first)) {
        // The work area may hold what the failed evaluation left there.
        if (dest.size > 0) dest.start[0] = '\0';
        report_pending_error();
        return;
    }
    char* saved = scratch_top();
    char* text = value_text_keep(first);
    std::string_view t(text, first.length);
    Outcome outcome = Outcome::Done;

    if (equals_nocase(name, "url")) {
        url_encode(text, scratch_top(), scratch_room());
        put_result(result, scratch_top());
    } else if (equals_nocase(name, "hex")) {
        char* out = scratch_top();
        std::size_t room = scratch_room(), n = 0;
        for (unsigned char b : t) {
            if (n + 2 >= room) break;
            out[n++] = kHexDigits[b >> 4];
            out[n++] = kHexDigits[b & 0xF];
        }
        out[n] = '\0';
        put_result(result, out);
    } else if (equals_nocase(name, "eval")) {
        ExprValue again;
        char* cursor = text;
        if (first.kind == ValueKind::Text && eval_or(cursor, again)) {
            value_to_text(again);
            put_result(result, std::string_view(again.text, again.length));
        } else {
            put_result(result, t);
        }
        error_text().clear();  // a failed second evaluation is not reported
    } else if (equals_nocase(name, "asc")) {
        if (first.kind == ValueKind::Text) {
            outcome = Outcome::NonNumeric;
        } else {
            char code = static_cast<char>(first.integer & 0xFF);
            put_result(result, code ? std::string_view(&code, 1) : std::string_view());
        }
    } else if (*c != ',') {
        outcome = Outcome::Undefined;
    } else {
        ++c;
        ExprValue second;
        if (!eval_or(c, second)) {
            outcome = Outcome::Failed;
        } else if (equals_nocase(name, "format")) {
            value_to_text(second);
            TextBuffer<8192> value(std::string_view(second.text, second.length));
            put_result(result, format_picture(text, value.c_str()));
        } else if (second.kind == ValueKind::Text) {
            outcome = Outcome::NonNumeric;
        } else {
            std::int32_t n = second.integer;
            std::size_t len = t.size();
            if (equals_nocase(name, "left") && n >= 0) {
                put_result(result, t.substr(0, std::size_t(n)));
            } else if (equals_nocase(name, "right") && n >= 0) {
                put_result(result, std::size_t(n) >= len ? t : t.substr(len - std::size_t(n)));
            } else if (equals_nocase(name, "mid") && *c == '\0') {
                if (n >= 1) put_result(result, std::size_t(n) > len ? std::string_view() : t.substr(std::size_t(n) - 1));
            } else if (*c != ',') {
                outcome = Outcome::Undefined;
            } else {
                ++c;
                ExprValue third;
                if (!eval_or(c, third)) {
                    outcome = Outcome::Failed;
                } else if (third.kind == ValueKind::Text) {
                    outcome = Outcome::NonNumeric;
                } else if (equals_nocase(name, "mid") && third.integer >= 0 && n >= 1) {
                    std::string_view from = std::size_t(n) > len ? std::string_view() : t.substr(std::size_t(n) - 1);
                    put_result(result, from.substr(0, std::size_t(third.integer)));
                } else {
                    outcome = Outcome::Undefined;
                }
            }
        }
    }

    scratch_set_top(saved);
    // A failed call shows nothing (the work area may still hold the text of
    // the first argument).
    if ((outcome != Outcome::Done || !result.written) && dest.size > 0) dest.start[0] = '\0';
    switch (outcome) {
        case Outcome::Done:
            break;
        case Outcome::Failed:
            report_pending_error();
            break;
        case Outcome::Undefined:
            error_text().format("Undefined string function: $%s( )", name);
            report_pending_error();
            break;
        case Outcome::NonNumeric:
            error_text().format("Non-numeric argument for string function: $%s( )", name);
            report_pending_error();
            break;
    }
}

}  // namespace vexil
