// Update form: one edit form per result row, posting an UPDATE statement
// back to the page that receives it.
#pragma once

#include "driver/output.hpp"

namespace vexil {

// Writes what closes one row's form: the table end, the hidden database and
// sql fields and the Update button.
void write_form_end(OutputChannel& output);

}  // namespace vexil
