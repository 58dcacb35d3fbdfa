// Expression evaluator: the grammar levels from OR down to the operand
// tokenizer, value formatting and truth. Every level returns a Status; a
// failure's message is in error_text, and only the outermost callers
// (eval_expression, IF conditions, string functions) report it.
//
// Levels, lowest precedence first: eval_or, eval_and, eval_comparison
// (with an optional "NOT " prefix), eval_sum, eval_product, eval_unary,
// eval_primary (an operand read by OperandReader, which expands references
// found by the reference scanner, or a function call). Every level parses its left operand with the next level,
// skips blanks and tabs, then looks for its operator; the right operand is
// the whole rest of its own level, so all binary operators group to the right.
//
// WARNING: temporary texts live in the ScratchArea. eval_or releases what was
// made inside it when it ends; a token's buffer stays reserved until then.
#include "expr/evaluator.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/text.hpp"
#include "base/output.hpp"
#include "base/status.hpp"
#include "expr/expr_state.hpp"
#include "expr/functions.hpp"
#include "expr/reference.hpp"
#include "base/scratch.hpp"
#include "expr/skip_operand.hpp"
#include "expr/substitute.hpp"

namespace vexil {

namespace {

// Counts one level of recursion; refuses past the limit so that deeply
// nested input ends with a message instead of exhausting the stack.
class LevelGuard {
public:
    LevelGuard() : ok_(enter_expression_level()) {}
    ~LevelGuard() {
        if (ok_) leave_expression_level();
    }
    bool ok() const { return ok_; }

private:
    bool ok_;
};

Status fail_too_deep() { return Status::failure("Expression nested too deeply"); }

void skip_blanks(char*& c) {
    while (*c == ' ' || *c == '\t') ++c;
}

// NOT, with the blank that must follow it (AND and OR: reference.hpp).
constexpr std::string_view kNotOperator = "NOT ";

// Moves the cursor past the keyword when the text starts with it.
bool skip_keyword(char*& c, std::string_view keyword) {
    if (!starts_with_keyword(c, keyword)) return false;
    c += keyword.size();
    return true;
}

std::string_view text_of(const ExprValue& v) {
    return v.text ? std::string_view(v.text, v.length) : std::string_view();
}

constexpr std::size_t kMaxNumberSpelling = 9;

// 1 to 9 characters: an optional "-", then digits and points, a point first
// only when a digit follows it; "-" alone counts (as 0), "1.2.3" too (as 1.2).
bool is_short_number_spelling(std::string_view token) {
    std::size_t length = token.size();
    if (length < 1 || length > kMaxNumberSpelling) return false;
    std::size_t i = token[0] == '-' ? 1 : 0;
    std::size_t first = i;
    for (; i < length; ++i) {
        char c = token[i];
        if (is_ascii_digit(c)) continue;
        if (c == '.' && (i > first || (i + 1 < length && is_ascii_digit(token[i + 1])))) continue;
        return false;
    }
    return true;
}

// 32-bit two's-complement arithmetic without undefined behaviour.
std::int32_t wrap(std::uint32_t u) { return static_cast<std::int32_t>(u); }

Status eval_and(char*& c, ExprValue& v);
Status eval_comparison(char*& c, ExprValue& v);
Status eval_product(char*& c, ExprValue& v);
Status eval_unary(char*& c, ExprValue& v);
Status eval_primary(char*& c, ExprValue& v);

enum class CompareOp { None, Eq, Ne, Lt, Le, Gt, Ge };

template <typename T>
bool holds(CompareOp op, T left, T right) {
    switch (op) {
        case CompareOp::Eq: return left == right;
        case CompareOp::Ne: return left != right;
        case CompareOp::Lt: return left < right;
        case CompareOp::Le: return left <= right;
        case CompareOp::Gt: return left > right;
        case CompareOp::Ge: return left >= right;
        case CompareOp::None: break;
    }
    return false;
}

// Whether the comparison holds for two evaluated operands. Texts compare
// byte by byte (equality looks at the lengths first); numbers compare their
// real fields when either is Real (so a not-a-number equals nothing), else
// their integers.
bool compare_values(CompareOp op, ExprValue& left, ExprValue& right) {
    if (left.kind == ValueKind::Text || right.kind == ValueKind::Text) {
        char* saved = scratch_top();
        char* l = value_text_keep(left);
        std::size_t llen = left.length;
        value_to_text(right);
        std::string_view r = text_of(right);
        int order;
        if ((op == CompareOp::Eq || op == CompareOp::Ne) && llen != r.size()) {
            order = 1;
        } else {
            std::size_t n = llen < r.size() ? llen : r.size();
            int diff = n ? std::memcmp(l, r.data(), n) : 0;
            order = diff != 0 ? diff : (llen < r.size() ? -1 : (llen > r.size() ? 1 : 0));
        }
        scratch_set_top(saved);
        return holds(op, order, 0);
    }
    if (left.kind == ValueKind::Real || right.kind == ValueKind::Real) {
        return holds(op, left.real, right.real);
    }
    return holds(op, left.integer, right.integer);
}

Status eval_and(char*& c, ExprValue& v) {
    LevelGuard guard;
    if (!guard.ok()) return fail_too_deep();
    if (Status s = eval_comparison(c, v); !s.is_ok()) return s;
    skip_blanks(c);
    if (!skip_keyword(c, kAndOperator)) return Status::ok();
    if (!value_is_true(v)) {
        skip_operand(c);
        v = ExprValue{};
        return Status::ok();
    }
    if (Status s = eval_and(c, v); !s.is_ok()) return s;
    set_logical(v, value_is_true(v));
    return Status::ok();
}

CompareOp read_compare_op(char*& c) {
    switch (*c) {
        case '=':
            c += 1;
            return CompareOp::Eq;
        case '<':
            if (c[1] == '=') { c += 2; return CompareOp::Le; }
            if (c[1] == '>') { c += 2; return CompareOp::Ne; }
            c += 1;
            return CompareOp::Lt;
        case '>':
            if (c[1] == '=') { c += 2; return CompareOp::Ge; }
            c += 1;
            return CompareOp::Gt;
        case '!':
            if (c[1] == '=') { c += 2; return CompareOp::Ne; }
            return CompareOp::None;
        default:
            return CompareOp::None;
    }
}

Status eval_comparison(char*& c, ExprValue& v) {
    LevelGuard guard;
    if (!guard.ok()) return fail_too_deep();
    skip_blanks(c);
    bool negate = skip_keyword(c, kNotOperator);
    if (Status s = eval_sum(c, v); !s.is_ok()) return s;
    skip_blanks(c);
    CompareOp op = read_compare_op(c);
    if (op != CompareOp::None) {
        ExprValue right;
        if (Status s = eval_comparison(c, right); !s.is_ok()) return s;
        set_logical(v, compare_values(op, v, right));
    }
    if (negate) set_logical(v, !value_is_true(v));
    return Status::ok();
}

// Applies + - * / to two evaluated operands; the result goes into left.
Status arithmetic(ExprValue& left, char op, ExprValue& right) {
    if (left.kind == ValueKind::Text || right.kind == ValueKind::Text ||
        (op == '/' && right.real == 0.0)) {
        Status s = report_nonnumeric(left, op, right);
        left.text = nullptr;
        left.length = 0;
        return s;
    }
    if (op == '/') {
        set_real(left, left.real / right.real);
        return Status::ok();
    }
    if (left.kind == ValueKind::Real || right.kind == ValueKind::Real) {
        double r = op == '+' ? left.real + right.real
                 : op == '-' ? left.real - right.real
                             : left.real * right.real;
        set_real(left, r);
        return Status::ok();
    }
    std::uint32_t a = static_cast<std::uint32_t>(left.integer);
    std::uint32_t b = static_cast<std::uint32_t>(right.integer);
    std::uint32_t r = op == '+' ? a + b : op == '-' ? a - b : a * b;
    set_integer(left, wrap(r), left.kind);
    return Status::ok();
}

using Level = Status (*)(char*& c, ExprValue& v);

// One arithmetic level (sum or product): an operand of the next level up,
// then optionally one of the level's two operators and the rest of the
// level, so the operators group to the right.
Status eval_arithmetic_level(char*& c, ExprValue& v, Level operand, Level rest, char op1, char op2) {
    LevelGuard guard;
    if (!guard.ok()) return fail_too_deep();
    if (Status s = operand(c, v); !s.is_ok()) return s;
    skip_blanks(c);
    if (*c != op1 && *c != op2) return Status::ok();
    char op = *c++;
    ExprValue right;
    if (Status s = rest(c, right); !s.is_ok()) return s;
    return arithmetic(v, op, right);
}

Status eval_product(char*& c, ExprValue& v) {
    return eval_arithmetic_level(c, v, eval_unary, eval_product, '*', '/');
}

// A text produced by an inner OR-expression lies above the scratch top,
// where the next token would overwrite it: keep it reserved.
void keep_if_released(ExprValue& v) {
    if (v.text == nullptr) return;
    const char* top = scratch_top();
    if (v.text >= top && v.text < scratch_end()) value_text_keep(v);
}

// A parenthesised OR-expression.
Status eval_parenthesis(char*& c, ExprValue& v) {
    ++c;
    if (Status s = eval_or(c, v); !s.is_ok()) return s;
    if (*c != ')') return Status::failure("Missing right parenthesis ')'");
    ++c;
    keep_if_released(v);
    return Status::ok();
}

Status eval_unary(char*& c, ExprValue& v) {
    LevelGuard guard;
    if (!guard.ok()) return fail_too_deep();
    skip_blanks(c);
    bool negate = *c == '-';
    if (negate) ++c;
    Status s = *c == '(' ? eval_parenthesis(c, v) : eval_primary(c, v);
    if (!s.is_ok() || !negate) return s;
    if (v.kind == ValueKind::Text) {
        return Status::failure("Non-numeric negation: -%.*s", int(v.length), v.text ? v.text : "");
    }
    v.integer = wrap(0u - static_cast<std::uint32_t>(v.integer));
    v.real = -v.real;
    v.text = nullptr;
    v.length = 0;
    return Status::ok();
}

// The token buffer of one operand, built at the scratch top.
class TokenBuffer {
public:
    TokenBuffer() : start_(scratch_top()) {}
    char* start() const { return start_; }
    std::size_t size() const { return length_; }
    bool used() const { return used_; }
    char* end() const { return start_ + length_; }
    std::size_t room() const {
        std::size_t total = std::size_t(scratch_end() - start_);
        return total > length_ ? total - length_ : 0;
    }
    void append(std::string_view piece) {
        used_ = true;
        if (room() == 0) return;
        length_ += copy_bounded(end(), room(), piece);
    }
    // The expansion of one reference, built in place at the buffer's end.
    void append_reference(char* reference) {
        used_ = true;
        if (room() <= 1) return;
        // Nested evaluations (string-function arguments) must not overwrite
        // what is built so far: they start at the work area.
        ScratchGuard guard(end());
        const char* value = expand_reference(reference, kSubstDropUnknown, WorkArea{end(), room()});
        if (value == end()) {
            length_ += std::strlen(value);
        } else {
            length_ += copy_bounded(end(), room(), value);
        }
    }

private:
    char* start_;
    std::size_t length_ = 0;
    bool used_ = false;
};

// Finds the closing quote of a quoted text (the same quote character, not
// preceded by a backslash), or nullptr.
char* find_closing_quote(char* open) {
    for (char* p = open + 1; *p != '\0'; ++p) {
        if (*p == *open && p[-1] != '\\') return p;
    }
    return nullptr;
}

const char kDelimiters[] = " \"+-*/=<>!()$,'";

// Reads one operand token: plain stretches, quoted texts and references,
// up to a delimiter that ends it. Quoted texts and expanded references go
// into the token buffer; a token without them stays in the expression text.
class OperandReader {
public:
    explicit OperandReader(char* start) : pending_(start), p_(start) {}

    // Reads up to the end of the token; returns where it ended.
    char* read() {
        for (;;) {
            p_ += std::strcspn(p_, kDelimiters);
            bool goes_on = false;
            switch (*p_) {
                case ' ': goes_on = at_blank(); break;
                case '"':
                case '\'': goes_on = at_quote(); break;
                case '$': goes_on = at_dollar(); break;
                default: break;
            }
            if (!goes_on) return p_;
        }
    }

    // The token's text and length, from the token buffer (then kept
    // reserved) or from the expression text; trailing blanks are dropped.
    std::string_view finish() {
        char* stretch_end = p_;
        while (stretch_end > pending_ && (stretch_end[-1] == ' ' || stretch_end[-1] == '\t')) --stretch_end;
        std::string_view stretch(pending_, std::size_t(stretch_end - pending_));
        if (!token_.used()) return stretch;
        token_.append(stretch);
        scratch_reserve(token_.size() + 1);
        return {token_.start(), token_.size()};
    }

    bool had_quote() const { return had_quote_; }

private:
    void flush_to(const char* end) { token_.append(std::string_view(pending_, std::size_t(end - pending_))); }

    // A blank followed by "AND " or "OR " ends the token.
    bool at_blank() {
        if (is_blank_before_and_or(p_)) return false;
        ++p_;
        return true;
    }

    // A quoted text is taken without its quotes and with "\" dropped
    // before an escaped quote; without its closing quote the rest of the
    // expression, quote included, is taken literally.
    bool at_quote() {
        flush_to(p_);
        had_quote_ = true;
        char* close = find_closing_quote(p_);
        if (close == nullptr) {
            token_.append(p_);
            p_ += std::strlen(p_);
            pending_ = p_;
            return false;
        }
        for (char* q = p_ + 1; q < close; ++q) {
            if (*q == '\\' && q[1] == *p_) continue;
            token_.append(std::string_view(q, 1));
        }
        p_ = pending_ = close + 1;
        return true;
    }

    // An escaped dollar loses its backslash; a reference is expanded into
    // the token; any other "$" is plain text.
    bool at_dollar() {
        if (is_escaped_dollar(pending_, p_)) {
            flush_to(p_ - 1);
            pending_ = p_++;  // the dollar starts the next plain stretch
            return true;
        }
        ReferenceScan found = scan_reference(p_, ReferenceContext::kExpression);
        if (found.kind == ReferenceScan::kNone) {
            ++p_;
            return true;
        }
        flush_to(p_);
        char* close = p_ + found.close;
        if (found.kind == ReferenceScan::kUnclosedFunction) {
            token_.append("[String function missing right paren ')']");
            p_ = pending_ = close;
            return false;
        }
        char closing = *close;
        *close = '\0';
        token_.append_reference(p_ + 1);
        *close = closing;
        p_ = pending_ = close + 1;
        return true;
    }

    TokenBuffer token_;
    bool had_quote_ = false;
    char* pending_;  // the plain stretch not yet appended
    char* p_;        // scan position
};

// An operand's value: a number when it is spelled as one (and was not
// quoted), otherwise a text; the spelling is kept either way.
void set_operand(ExprValue& v, std::string_view text, bool quoted) {
    v = ExprValue{};
    v.text = text.data();
    v.length = static_cast<std::uint32_t>(text.size());
    if (quoted || !is_short_number_spelling(text)) {
        v.kind = ValueKind::Text;
        return;
    }
    char number[16];
    copy_bounded(number, sizeof number, text);
    if (text.find('.') != std::string_view::npos) {
        v.kind = ValueKind::Real;
        v.real = std::strtod(number, nullptr);
        v.integer = static_cast<std::int32_t>(v.real);
    } else {
        v.kind = ValueKind::Integer;
        v.integer = static_cast<std::int32_t>(std::strtol(number, nullptr, 10));
        v.real = v.integer;
    }
}

// An operand, or a function call when the operand is directly followed by "(".
Status eval_primary(char*& c, ExprValue& v) {
    skip_blanks(c);
    OperandReader reader(c);
    c = reader.read();
    std::string_view text = reader.finish();
    if (*c == '(') {
        ++c;
        return call_function(c, v, text.data(), text.size());
    }
    set_operand(v, text, reader.had_quote());
    return Status::ok();
}

}  // namespace

bool enter_expression_level() {
    int& depth = expr_state().eval_depth;
    if (depth >= kMaxExpressionDepth) return false;
    ++depth;
    return true;
}

void leave_expression_level() { --expr_state().eval_depth; }

void set_integer(ExprValue& v, std::int32_t n, ValueKind kind) {
    v.kind = kind;
    v.integer = n;
    v.real = n;
    v.text = nullptr;
    v.length = 0;
}

void set_real(ExprValue& v, double r) {
    v.kind = ValueKind::Real;
    v.real = r;
    // Truncation toward zero; values beyond 32 bits saturate instead of
    // being undefined.
    if (std::isnan(r)) {
        v.integer = 0;
    } else if (r >= 2147483647.0) {
        v.integer = 2147483647;
    } else if (r <= -2147483648.0) {
        v.integer = -2147483647 - 1;
    } else {
        v.integer = static_cast<std::int32_t>(r);
    }
    v.text = nullptr;
    v.length = 0;
}

void set_logical(ExprValue& v, bool truth) { set_integer(v, truth ? 1 : 0, ValueKind::Logical); }

bool value_is_true(const ExprValue& v) {
    switch (v.kind) {
        case ValueKind::Logical:
        case ValueKind::Integer:
            return v.integer != 0;
        case ValueKind::Real:
            return v.real != 0.0;
        case ValueKind::Text:
            if (v.text == nullptr || v.length == 0) return false;
            return !(v.length == 1 && v.text[0] == ' ');
    }
    return false;
}

void value_to_text(ExprValue& v) {
    if (v.text != nullptr) return;
    char* top = scratch_top();
    std::size_t room = scratch_room();
    if (v.kind == ValueKind::Logical || v.kind == ValueKind::Integer) {
        std::snprintf(top, room, "%d", int(v.integer));
    } else if (v.kind == ValueKind::Real) {
        std::snprintf(top, room, "%f", v.real);
        char* point = std::strchr(top, '.');
        if (point != nullptr && std::isfinite(v.real)) {
            std::size_t n = std::strlen(top);
            while (n > 0 && top[n - 1] == '0') top[--n] = '\0';
            if (n > 0 && top[n - 1] == '.') top[--n] = '\0';
        }
    } else {
        top[0] = '\0';
    }
    v.text = top;
    v.length = static_cast<std::uint32_t>(std::strlen(top));
}

void value_text_at_top(ExprValue& v) {
    value_to_text(v);
    char* top = scratch_top();
    std::size_t room = scratch_room();
    // At most room - 2 characters, so that keeping the text (its length
    // plus the terminator) still fits below the end of the area.
    std::size_t limit = room > 2 ? room - 2 : 0;
    std::size_t n = v.length < limit ? v.length : limit;
    if (v.text != top && n > 0) std::memmove(top, v.text, n);
    top[n] = '\0';
    v.text = top;
    v.length = static_cast<std::uint32_t>(n);
}

char* value_text_keep(ExprValue& v) {
    value_text_at_top(v);
    char* text = scratch_top();
    scratch_reserve(v.length + 1);
    return text;
}

Status report_nonnumeric(ExprValue& left, char op, ExprValue& right) {
    char* saved = scratch_top();
    char* l = value_text_keep(left);
    int llen = int(left.length);
    value_to_text(right);
    int rlen = int(right.length);
    Status failure = Status::failure("Non-numeric expression: %*.*s %c %*.*s", llen, llen, l, op, rlen,
                                     rlen, right.text ? right.text : "");
    scratch_set_top(saved);
    return failure;
}

namespace {
// The OR level: what follows a true left operand is skipped unevaluated.
Status eval_or_level(char*& c, ExprValue& v, char* saved) {
    if (Status s = eval_and(c, v); !s.is_ok()) return s;
    skip_blanks(c);
    if (!skip_keyword(c, kOrOperator)) return Status::ok();
    if (value_is_true(v)) {
        skip_operand(c);
        set_logical(v, true);
        return Status::ok();
    }
    scratch_set_top(saved);
    if (Status s = eval_or(c, v); !s.is_ok()) return s;
    set_logical(v, value_is_true(v));
    return Status::ok();
}
}  // namespace

Status eval_or(char*& c, ExprValue& v) {
    LevelGuard guard;
    if (!guard.ok()) return fail_too_deep();
    char* saved = scratch_top();
    Status s = eval_or_level(c, v, saved);
    scratch_set_top(saved);
    return s;
}

Status eval_sum(char*& c, ExprValue& v) {
    return eval_arithmetic_level(c, v, eval_product, eval_sum, '+', '-');
}

const char* eval_expression(char* text) {
    error_text().clear();
    ExprValue v;
    char* c = text;
    Status s = eval_or(c, v);
    if (s.is_ok()) {
        skip_blanks(c);
        if (*c != '\0') s = Status::failure("Expected end of expression at %s", c);
    }
    if (!s.is_ok()) {
        report_error(s.message());
        char* top = scratch_top();
        top[0] = '\0';
        return top;
    }
    value_text_at_top(v);
    return scratch_top();
}

}  // namespace vexil
