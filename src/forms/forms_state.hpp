// The per-run state of the form commands: which kind of rows the row loop is
// to frame (TABLE or UPDATEFORM), what the last option list was named and
// what the last edit form's signature covers.
// It lives in the run object (driver/run.hpp); forms_state() reaches it. The
// sizes of the row templates and headers that TABLE and UPDATEFORM build are
// fixed here, for the row loop that receives them.
#pragma once

#include <string>
#include <vector>

#include "base/text.hpp"

namespace vexil {

// Row templates that TABLE and UPDATEFORM build hold at most this many bytes.
inline constexpr std::size_t kRowTemplateSize = 8192;
// A TABLE or UPDATEFORM header: the text written before the rows.
inline constexpr std::size_t kTableHeaderSize = 1024;
using TableHeader = TextBuffer<kTableHeaderSize>;

struct FormsState {
    bool table_mode = false;            // set by TABLE until the next SQL or QBE command
    bool form_mode = false;             // set by UPDATEFORM until the next SQL or QBE command
    int option_list_size = 1;           // SIZE of the option list being built
    TextBuffer<136> option_list_name;   // NAME of the option list being built
    // What the last UPDATEFORM's signature covers besides the statement and
    // the connect text (signed forms of a locked run).
    std::vector<std::string> form_keys;  // its KEY names, in order
    std::string form_input;              // its TEMPLATE= value; "" without one
};

FormsState& forms_state();

// SQL and QBE end the TABLE and UPDATEFORM framing of row loops.
inline void leave_row_modes() {
    forms_state().table_mode = false;
    forms_state().form_mode = false;
}

}  // namespace vexil
