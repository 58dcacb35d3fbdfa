// The variable table: the named text values of a run that are neither form
// fields nor result columns (built-ins, start-up variables, and everything
// DEFAULT, SET, the command line and cookies create), and the order in which
// a name is resolved: result columns, then form fields (web runs only), then
// this table. Result columns come from the database layer above, which
// registers itself as the table's column source.
#pragma once

#include <array>
#include <initializer_list>
#include <string_view>

namespace vexil {

// What a lookup gives for a name that exists with an empty value.
inline constexpr const char* kEmptyMark = " ";
inline constexpr int kMaxVariables = 128;
inline constexpr int kBuiltinVariables = 16;

struct VariableEntry {
    char* name = nullptr;   // as written; compared ignoring letter case
    char* value = nullptr;  // current value, or nullptr
    int capacity = 0;       // bytes of a value block the entry owns; 0: not owned
    bool outside = false;   // the value came from outside the template (request,
                            // cookie, environment, database) or was computed from one
    bool reserved = false;  // a name the program defines: a built-in or start-up variable
    bool filled_late = false;  // a built-in whose value the table's late_fill writes
};

// Gives the value of the latest result column of a name, with the same
// three-way result as get_variable.
using ColumnSource = const char* (*)(std::string_view name);

struct VariableTable {
    std::array<VariableEntry, kMaxVariables> entries{};
    int count = 0;
    bool full_reported = false;            // "Too many variables" was reported in this run
    ColumnSource column_source = nullptr;  // result columns, looked up first
    // Fills the built-ins marked filled_late; called (once) when the first
    // of them is looked up, so a run that shows none never pays for it.
    void (*late_fill)() = nullptr;
};

VariableTable& variable_table();

// A built-in: a name whose value is a buffer its producer owns and rewrites.
struct Builtin {
    const char* name;
    char* buffer;
    bool outside = false;      // shows text that may echo outside values (driver messages)
    bool filled_late = false;  // written by the table's late_fill when first looked up
};

// Appends built-ins to the table, in order. Built-ins are bound when a run
// is made, before any other entry.
void bind_builtins(VariableTable& table, std::initializer_list<Builtin> builtins);

// The value of the entry `name` (newest first): "" when there is none,
// kEmptyMark when its value is absent or empty.
const char* get_variable(std::string_view name);

// Gives the entry `name` a copy of value, creating it when needed, and
// records where the value came from. A new name on a full table is ignored
// and reported once per run. In a locked run a value from outside never
// replaces a reserved name's value.
void set_variable(std::string_view name, std::string_view value, bool outside = false);

// Appends a reserved entry that shares its texts (capacity 0): a start-up
// variable.
void append_shared_variable(const char* name, const char* value, bool outside);

// What a name resolves to, and whether its text came from outside the
// template.
struct FoundValue {
    const char* text;  // same three-way result as get_variable
    bool outside;
};

// The value a reference to `name` shows. The order: result columns, form
// fields (web runs), then variables. In a locked run a reserved name comes
// before form fields, so a request cannot shadow it, and a NULL column stays
// empty instead of falling back to a field or variable of its name.
FoundValue lookup(std::string_view name);
inline const char* lookup_value(std::string_view name) { return lookup(name).text; }

// Takes the next name=value item of a writable list; the text is cut in
// place and name and value point into it. Returns false when the list is
// exhausted.
bool next_assignment(char*& cursor, char*& name, char*& value, bool unquote_values);

// Cuts blanks and tabs from both ends (in place) and returns the first
// other character; with unquote, deletes every quote character of the kind
// the trimmed text begins with ("'" or, otherwise, '"').
char* trim_unquote(char* text, bool unquote);

// The DEFAULT command (and name=value command-line arguments, and the
// form's "default" fields).
void apply_default_list(char* text);

}  // namespace vexil
