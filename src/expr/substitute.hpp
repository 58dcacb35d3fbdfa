// Variable substitution: the copy of a text with every reference replaced,
// and the expansion of one reference into the text it stands for, under
// option bits that say how the place of use wants values (SQL quoting,
// empty values, FORMAT, unknown names). References are found by the
// reference scanner (reference.hpp); the template scanner and the
// evaluator's operands expand them through expand_reference.
#pragma once

#include <cstddef>

#include "base/scratch.hpp"
#include "base/status.hpp"
#include "expr/expr_state.hpp"

namespace vexil {

// SubstOptions bits.
inline constexpr int kSubstSqlQuotes = 1;     // double "'" in a value inserted after "'"
inline constexpr int kSubstEmptyNbsp = 2;     // an empty value becomes "&nbsp;"
inline constexpr int kSubstFormat = 4;        // apply the FORMAT picture of the name
inline constexpr int kSubstDropUnknown = 8;   // an undefined reference gives nothing
inline constexpr int kSubstEmptyNothing = 16; // an empty value becomes "" (wins over 2)
// The scanner writes each reference's text HTML-escaped (used for the rows of
// an update form, so that a browser posts back exactly the stored value).
inline constexpr int kSubstHtmlEscape = 32;
// A value is shown as stored: no TRANSLATE and no expansion of references
// inside it (update-form rows, so an edit posts back exactly what is stored).
inline constexpr int kSubstAsStored = 64;

inline constexpr int kOptionsTemplate = kSubstFormat;                       // 4
inline constexpr int kOptionsLoopBody = kSubstFormat | kSubstEmptyNbsp;     // 6
inline constexpr int kOptionsFileName = kSubstDropUnknown;                  // 8
inline constexpr int kOptionsSql = kSubstSqlQuotes | kSubstDropUnknown | kSubstEmptyNothing;  // 25
inline constexpr int kOptionsPlain = 0;
// Update-form rows: empty values stay empty, values are escaped, no picture
// changes what is posted back.
inline constexpr int kOptionsFormRow = kSubstEmptyNothing | kSubstHtmlEscape | kSubstAsStored;

inline constexpr int kMaxExpansionDepth = 16;

// The text one reference stands for. `reference` is the text after the
// opening "$" up to the closing "$" (or the ")" of a function call),
// NUL-terminated and writable. The result is either built in `work` (cut to its size) or
// a text stored elsewhere; callers use it before the next expansion.
const char* expand_reference(char* reference, int options, WorkArea work);

// Writes text into dest (dest_size bytes, result cut to fit) with every
// reference replaced. The source text is working material: terminators are
// written into it while scanning.
void substitute_variables(char* text, char* dest, std::size_t dest_size, int options);

// substitute_variables with a place: values from outside (in a locked run)
// are placed as data there. Returns whether dest was filled, so the result
// may have been cut.
bool substitute_in_place(char* text, char* dest, std::size_t dest_size, int options, const Placement* place);

// Appends a value from outside as page text in a locked run: HTML-escaped,
// apostrophes included, and every "$" as "&#36;", so that a file a page
// writes and another page includes holds no reference the visitor wrote.
void append_page_escaped(std::string& dest, std::string_view text);

// A reference written into the page: its text, and whether that text is a
// value from outside that a locked run must escape. Values from outside
// inside the template's own values are escaped where they stand.
struct PageValue {
    const char* text;
    bool outside;
};
PageValue expand_page_reference(char* reference, int options, WorkArea work);

// substitute_variables with the options of SQL statements, for a statement
// that will run. In a locked run a value from outside stays data: inside a
// quoted literal its quotes are doubled (and its backslashes, where the
// database treats them as escapes), outside quotes it must be a number. A
// statement that does not fit dest is refused whole, in every run.
Status substitute_statement(char* text, char* dest, std::size_t dest_size, bool backslash_escapes);

// substitute_variables for a command line that the shell will run. In a
// locked run a value from outside is quoted for the shell, so it can never
// become shell syntax. A line that does not fit dest is refused whole.
Status substitute_command_line(char* text, char* dest, std::size_t dest_size);

}  // namespace vexil
