// The per-run state of references and expressions: how deep the evaluator
// and the reference expansion are nested, the reference being expanded and
// the random-number generator.
#pragma once

#include <cstdint>

#include "base/status.hpp"
#include "base/text.hpp"

namespace vexil {

inline constexpr std::size_t kReferenceBufferSize = 257;

// Where the text being built goes, so that a locked run can place each value
// from outside as data: into the page (HTML-escaped), into a statement (one
// literal inside quotes, a number outside them) or into a shell command line
// (quoted). Nested expansions of the template's own values carry the place
// on, with the quoting in force where their reference stands.
struct Placement {
    enum Kind { kPage, kSql, kShell } kind = kPage;
    bool backslash_escapes = false;  // kSql: the database reads "\" in quotes as an escape
    char quote = '\0';               // the quote character in force, or none
    bool escape_string = false;      // the SQL literal in force is written E'...'
    char last = '\0', before_last = '\0';  // the last two characters built
    Status* refusal = nullptr;       // where the first refusal goes (kSql)
};

struct ExprState {
    int eval_depth = 0;                           // evaluation levels in progress
    int expansion_depth = 0;                      // expand_reference calls in progress
    bool nesting_exceeded = false;                // the expansion in progress passed the
                                                  // nesting limit: the rest of it gives nothing
    TextBuffer<kReferenceBufferSize> reference;   // the reference being expanded
    bool random_seeded = false;                   // rand() has drawn in this run
    std::uint32_t random_state = 0;               // the generator's last value
    bool outside_seen = false;                    // a value from outside went into the
                                                  // text being expanded (see OriginProbe)
    Placement* placement = nullptr;               // the place of the reference being expanded
    bool value_outside = false;                   // expand_reference returned a value from
                                                  // outside that its place must treat as data
    bool value_placed = false;                    // ... or a template value whose values from
                                                  // outside were placed inside it already
};

ExprState& expr_state();

// Tells whether an expansion used a value from outside the template (a
// request field, cookie, environment or database value): the probe clears
// the run's flag for its lifetime and hands what it saw on to any probe
// around it.
class OriginProbe {
public:
    OriginProbe() : saved_(expr_state().outside_seen) { expr_state().outside_seen = false; }
    ~OriginProbe() { expr_state().outside_seen = expr_state().outside_seen || saved_; }
    OriginProbe(const OriginProbe&) = delete;
    OriginProbe& operator=(const OriginProbe&) = delete;
    bool outside() const { return expr_state().outside_seen; }

private:
    bool saved_;
};

}  // namespace vexil
