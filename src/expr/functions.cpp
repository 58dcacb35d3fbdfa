// Expression functions: what a name directly followed by "(" computes in an
// expression (sqrt ... abs, max/min/mod, rand, len, pos, char, isnumber,
// isalpha, isalphanum). The evaluator's primary level calls call_function
// with the cursor after the "("; the arguments are evaluated here with the
// evaluator's own levels, and failures come back as Status.
#include "expr/functions.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string_view>

#include "base/text.hpp"
#include "base/output.hpp"
#include "base/scratch.hpp"
#include "expr/expr_state.hpp"

namespace vexil {

namespace {

enum class Fn {
    Sqrt, Sin, Cos, Tan, Log10, Log, Exp, Abs, Max, Min, Mod, Rand,
    Len, Pos, Char, IsNumber, IsAlpha, IsAlphaNum
};

struct FunctionName {
    const char* name;
    Fn fn;
};

// Matched in this order, ignoring letter case.
constexpr FunctionName kFunctions[] = {
    {"sqrt", Fn::Sqrt},   {"sin", Fn::Sin},     {"cos", Fn::Cos},         {"tan", Fn::Tan},
    {"log10", Fn::Log10}, {"log", Fn::Log},     {"exp", Fn::Exp},         {"abs", Fn::Abs},
    {"max", Fn::Max},     {"min", Fn::Min},     {"mod", Fn::Mod},         {"rand", Fn::Rand},
    {"len", Fn::Len},     {"pos", Fn::Pos},     {"char", Fn::Char},       {"isnumber", Fn::IsNumber},
    {"isalpha", Fn::IsAlpha}, {"isalphanum", Fn::IsAlphaNum},
};

int draw_random() {
    ExprState& state = expr_state();
    if (!state.random_seeded) {
        state.random_state = static_cast<std::uint32_t>(std::time(nullptr));
        state.random_seeded = true;
    }
    state.random_state = state.random_state * 214013u + 2531011u;
    return int((state.random_state >> 16) & 0x7FFF);
}

bool is_numeric_kind(const ExprValue& v) {
    return v.kind == ValueKind::Integer || v.kind == ValueKind::Real;
}

// isnumber(): not empty; an optional "+" or "-", then digits and points, a
// point first only when a digit follows it; a sign alone counts.
bool is_signed_digits_and_points(std::string_view t) {
    if (t.empty()) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        char c = t[i];
        if (is_ascii_digit(c)) continue;
        if (c == '.' && (i > 0 || (t.size() > 1 && is_ascii_digit(t[1])))) continue;
        if ((c == '+' || c == '-') && i == 0) continue;
        return false;
    }
    return true;
}

bool all_chars(std::string_view t, bool digits_too) {
    if (t.empty()) return false;
    for (char c : t) {
        if (is_ascii_letter(c) || c == ' ' || (digits_too && is_ascii_digit(c))) continue;
        return false;
    }
    return true;
}

// One-argument mathematical functions (and abs).
Status call_math(char*& c, ExprValue& v, Fn fn, const char* name) {
    if (Status s = eval_sum(c, v); !s.is_ok()) return s;
    if (*c != ')') return report_function_error("Missing right parenthesis", name, &v);
    ++c;
    if (!is_numeric_kind(v)) return report_function_error("Non-numeric argument", name, &v);
    double x = v.real;
    switch (fn) {
        case Fn::Sqrt: set_real(v, std::sqrt(x)); break;
        case Fn::Sin: set_real(v, std::sin(x)); break;
        case Fn::Cos: set_real(v, std::cos(x)); break;
        case Fn::Tan: set_real(v, std::tan(x)); break;
        case Fn::Log10: set_real(v, std::log10(x)); break;
        case Fn::Log: set_real(v, std::log(x)); break;
        case Fn::Exp: set_real(v, std::exp(x)); break;
        case Fn::Abs:
            if (v.kind == ValueKind::Integer) {
                // The smallest integer has no positive counterpart: unchanged.
                std::int32_t n = v.integer;
                set_integer(v, n < 0 && n != INT32_MIN ? -n : n);
            } else {
                set_real(v, std::fabs(x));
            }
            break;
        default: break;
    }
    return Status::ok();
}

// max, min and mod.
Status call_pair(char*& c, ExprValue& v, Fn fn, const char* name) {
    if (Status s = eval_sum(c, v); !s.is_ok()) return s;
    if (*c != ',') return report_function_error("Missing second argument", name, &v);
    ++c;
    ExprValue second;
    if (Status s = eval_sum(c, second); !s.is_ok()) return s;
    if (*c != ')') return report_function_error("Missing right parenthesis", name, &v);
    ++c;
    if (!is_numeric_kind(v) || !is_numeric_kind(second)) {
        return report_function_error("Non-numeric argument", name, &v);
    }
    bool real = v.kind == ValueKind::Real || second.kind == ValueKind::Real;
    if (fn == Fn::Mod) {
        if (real) {
            set_real(v, std::fmod(v.real, second.real));
            return Status::ok();
        }
        if (second.integer == 0) return report_function_error("Division by zero", name, &v);
        // INT32_MIN % -1 overflows in the hardware; its remainder is 0.
        set_integer(v, second.integer == -1 ? 0 : v.integer % second.integer);
        return Status::ok();
    }
    bool take_second;
    if (real) {
        take_second = fn == Fn::Max ? second.real > v.real : second.real < v.real;
        if (take_second) set_real(v, second.real); else set_real(v, v.real);
    } else {
        take_second = fn == Fn::Max ? second.integer > v.integer : second.integer < v.integer;
        set_integer(v, take_second ? second.integer : v.integer);
    }
    return Status::ok();
}

Status call_rand(char*& c, ExprValue& v) {
    if (Status s = eval_sum(c, v); !s.is_ok()) return s;
    if (*c != ')') return report_function_error("Missing right parenthesis", "rand", nullptr);
    ++c;
    std::int64_t n = v.integer;
    int drawn = draw_random();
    if (n != 0) drawn = int(drawn % (n < 0 ? -n : n));
    set_integer(v, drawn);
    return Status::ok();
}

// len, isnumber, isalpha, isalphanum.
Status call_text1(char*& c, ExprValue& v, Fn fn, const char* name) {
    if (Status s = eval_or(c, v); !s.is_ok()) return s;
    value_text_at_top(v);
    if (*c != ')') return report_function_error("Missing right parenthesis", name, &v);
    ++c;
    std::string_view t(v.text, v.length);
    int result = 0;
    switch (fn) {
        case Fn::Len: result = int(t.size()); break;
        case Fn::IsNumber: result = is_signed_digits_and_points(t); break;
        case Fn::IsAlpha: result = all_chars(t, false); break;
        case Fn::IsAlphaNum: result = all_chars(t, true); break;
        default: break;
    }
    set_integer(v, result);
    return Status::ok();
}

// The second text argument of pos and char, after the first's ",".
Status second_text(char*& c, ExprValue& first, ExprValue& second, const char* name) {
    if (*c != ',') return report_function_error("Missing second argument", name, &first);
    ++c;
    if (Status s = eval_or(c, second); !s.is_ok()) return s;
    value_text_at_top(second);
    if (*c != ')') return report_function_error("Missing right parenthesis", name, &first);
    ++c;
    return Status::ok();
}

// pos (where the second text starts in the first) and char (where the
// first of its characters is); 0 for none.
Status call_text2(char*& c, ExprValue& v, Fn fn, const char* name) {
    if (Status s = eval_or(c, v); !s.is_ok()) return s;
    value_text_at_top(v);
    char* first = scratch_reserve(v.length + 1);
    std::string_view a(first, v.length);
    ExprValue second;
    Status status = second_text(c, v, second, name);
    if (status.is_ok()) {
        std::string_view b(second.text, second.length);
        std::size_t at = fn == Fn::Pos ? a.find(b) : b.empty() ? std::string_view::npos : a.find_first_of(b);
        set_integer(v, at == std::string_view::npos ? 0 : int(at) + 1);
    }
    scratch_set_top(first);
    return status;
}

}  // namespace

Status report_function_error(const char* message, const char* name, ExprValue* value) {
    if (value == nullptr) return Status::failure("%s for %s( )", message, name);
    value_to_text(*value);
    int n = int(value->length);
    return Status::failure("%s for %s(%*.*s)", message, name, n, n, value->text ? value->text : "");
}

Status call_function(char*& c, ExprValue& v, const char* name, std::size_t name_length) {
    char written[24];  // the name as written, cut to 23 characters
    copy_bounded(written, sizeof written, std::string_view(name, name_length));
    const FunctionName* found = nullptr;
    for (const FunctionName& f : kFunctions) {
        if (equals_nocase(written, f.name)) {
            found = &f;
            break;
        }
    }
    if (found == nullptr) return report_function_error("Undefined function", written, nullptr);
    if (!enter_expression_level()) return Status::failure("Expression nested too deeply");
    Status status;
    switch (found->fn) {
        case Fn::Max:
        case Fn::Min:
        case Fn::Mod: status = call_pair(c, v, found->fn, written); break;
        case Fn::Rand: status = call_rand(c, v); break;
        case Fn::Len:
        case Fn::IsNumber:
        case Fn::IsAlpha:
        case Fn::IsAlphaNum: status = call_text1(c, v, found->fn, found->name); break;
        case Fn::Pos:
        case Fn::Char: status = call_text2(c, v, found->fn, found->name); break;
        default: status = call_math(c, v, found->fn, written); break;
    }
    leave_expression_level();
    return status;
}

}  // namespace vexil
