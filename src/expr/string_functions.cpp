// String functions: the references $name(arguments) that compute a text.
// Each argument is an expression (evaluator.hpp); the functions are found
// by name in a table and fill the work area the reference expansion gives
// them (substitute.cpp). A failure is reported once, here, and leaves the
// result empty.
#include "expr/string_functions.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/policy.hpp"
#include "base/text.hpp"
#include "base/output.hpp"
#include "base/status.hpp"
#include "expr/evaluator.hpp"
#include "expr/expr_state.hpp"
#include "values/mappings.hpp"

namespace vexil {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

// One call in progress: the evaluated first argument, the cursor on the
// rest of the argument list and where the result goes.
struct StringCall {
    const char* name;
    ExprValue first;
    char* kept;             // the first argument's text, kept in the scratch area
    std::string_view text;  // the same with its length
    char* cursor;           // after the first argument: "," or the end
    WorkArea dest;
    bool written = false;   // a result was put

    void put(std::string_view result) {
        if (dest.size > 0) copy_bounded(dest.start, dest.size, result);
        written = true;
    }
};

Status undefined(const StringCall& call) {
    return Status::failure("Undefined string function: $%s( )", call.name);
}
Status non_numeric(const StringCall& call) {
    return Status::failure("Non-numeric argument for string function: $%s( )", call.name);
}

// The functions of one argument (later arguments are not evaluated).
Status call_url(StringCall& call) {
    url_encode(call.text.data(), scratch_top(), scratch_room());
    call.put(scratch_top());
    return Status::ok();
}

Status call_hex(StringCall& call) {
    char* out = scratch_top();
    std::size_t room = scratch_room(), n = 0;
    for (unsigned char b : call.text) {
        if (n + 2 >= room) break;
        out[n++] = kHexDigits[b >> 4];
        out[n++] = kHexDigits[b & 0xF];
    }
    out[n] = '\0';
    call.put(out);
    return Status::ok();
}

// A text is evaluated once more; a failure there is not reported and gives
// the text itself.
Status call_eval(StringCall& call) {
    // A value from outside is data: it is never evaluated as an expression.
    if (is_locked_run() && expr_state().outside_seen) {
        call.put(call.text);
        return Status::ok();
    }
    ExprValue again;
    char* cursor = call.kept;
    if (call.first.kind == ValueKind::Text && eval_or(cursor, again).is_ok()) {
        value_to_text(again);
        call.put(std::string_view(again.text, again.length));
    } else {
        call.put(call.text);
    }
    error_text().clear();
    return Status::ok();
}

// raw: the text as it is; in a locked run, what a reference writes into the
// page is escaped unless it is a raw call (for columns that hold HTML).
Status call_raw(StringCall& call) {
    call.put(call.text);
    return Status::ok();
}

Status call_asc(StringCall& call) {
    if (call.first.kind == ValueKind::Text) return non_numeric(call);
    char code = static_cast<char>(call.first.integer & 0xFF);
    call.put(code ? std::string_view(&code, 1) : std::string_view());
    return Status::ok();
}

// The functions of a text and a count (and, for mid, a second count): each
// returns whether it took the arguments; otherwise the call is undefined.
std::string_view from_position(std::string_view t, std::int32_t n) {
    return std::size_t(n) > t.size() ? std::string_view() : t.substr(std::size_t(n) - 1);
}

bool left_of(StringCall& call, std::int32_t n) {
    if (n < 0) return false;
    call.put(call.text.substr(0, std::size_t(n)));
    return true;
}

bool right_of(StringCall& call, std::int32_t n) {
    if (n < 0) return false;
    std::size_t len = call.text.size();
    call.put(std::size_t(n) >= len ? call.text : call.text.substr(len - std::size_t(n)));
    return true;
}

// mid with two arguments: nothing at all for a start before 1.
bool mid_from(StringCall& call, std::int32_t n) {
    if (*call.cursor != '\0') return false;
    if (n >= 1) call.put(from_position(call.text, n));
    return true;
}

bool mid_of(StringCall& call, std::int32_t n, std::int32_t count) {
    if (count < 0 || n < 1) return false;
    call.put(from_position(call.text, n).substr(0, std::size_t(count)));
    return true;
}

struct StringFunction {
    std::string_view name;
    Status (*one_argument)(StringCall&);                          // url, hex, eval, asc
    bool (*with_count)(StringCall&, std::int32_t);                 // left, right, mid
    bool (*with_two_counts)(StringCall&, std::int32_t, std::int32_t);  // mid
};

// Matched ignoring letter case; format (a picture and a text) is the one
// function of two texts and is handled on its own.
constexpr StringFunction kStringFunctions[] = {
    {"url", call_url, nullptr, nullptr},     {"hex", call_hex, nullptr, nullptr},
    {"eval", call_eval, nullptr, nullptr},   {"asc", call_asc, nullptr, nullptr},
    {"raw", call_raw, nullptr, nullptr},
    {"left", nullptr, left_of, nullptr},     {"right", nullptr, right_of, nullptr},
    {"mid", nullptr, mid_from, mid_of},
};

const StringFunction* find_string_function(const char* name) {
    for (const StringFunction& f : kStringFunctions) {
        if (equals_nocase(name, f.name)) return &f;
    }
    return nullptr;
}

// The next argument after a ",": the call is undefined without one.
Status next_argument(StringCall& call, ExprValue& value) {
    if (*call.cursor != ',') return undefined(call);
    ++call.cursor;
    return eval_or(call.cursor, value);
}

Status call_format(StringCall& call, ExprValue& second) {
    value_to_text(second);
    TextBuffer<8192> value(std::string_view(second.text, second.length));
    call.put(format_picture(call.text.data(), value.c_str()));
    return Status::ok();
}

// Functions of more than one argument, and names that are no function
// (which still have their arguments evaluated and checked first).
Status call_with_arguments(StringCall& call, const StringFunction* fn) {
    ExprValue second;
    if (Status s = next_argument(call, second); !s.is_ok()) return s;
    if (equals_nocase(call.name, "format")) return call_format(call, second);
    if (second.kind == ValueKind::Text) return non_numeric(call);
    if (fn != nullptr && fn->with_count != nullptr && fn->with_count(call, second.integer)) return Status::ok();
    ExprValue third;
    if (Status s = next_argument(call, third); !s.is_ok()) return s;
    if (third.kind == ValueKind::Text) return non_numeric(call);
    if (fn != nullptr && fn->with_two_counts != nullptr && fn->with_two_counts(call, second.integer, third.integer)) {
        return Status::ok();
    }
    return undefined(call);
}

// Evaluates the arguments and runs the function.
Status run_string_function(StringCall& call, char* arguments) {
    call.cursor = arguments;
    if (Status s = eval_or(call.cursor, call.first); !s.is_ok()) return s;
    call.kept = value_text_keep(call.first);
    call.text = std::string_view(call.kept, call.first.length);
    const StringFunction* fn = find_string_function(call.name);
    if (fn != nullptr && fn->one_argument != nullptr) return fn->one_argument(call);
    return call_with_arguments(call, fn);
}
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
    error_text().clear();
    StringCall call{name, ExprValue{}, nullptr, {}, arguments, dest};
    char* saved = scratch_top();
    Status status = run_string_function(call, arguments);
    scratch_set_top(saved);
    // A failed call shows nothing (the work area may still hold what an
    // evaluation left there); its message is reported once.
    if ((!status.is_ok() || !call.written) && dest.size > 0) dest.start[0] = '\0';
    if (!status.is_ok()) {
        report_error(status.message());
        error_text().clear();
    }
}

}  // namespace vexil
