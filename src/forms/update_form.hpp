// Update form: one edit form per result row, posting an UPDATE statement
// back to the page that receives it. The UPDATEFORM command builds the form
// here; the row loop (template layer) writes it once per row and closes each
// with write_form_end.
//
// An edit must never lose data: every value written into an attribute or a
// text area is HTML-escaped, and so are the statement in the hidden "sql"
// field and the connect text in "database", so a browser posts back exactly
// the stored values.
#pragma once

#include "base/output.hpp"
#include "forms/forms_state.hpp"

namespace vexil {

// Builds the form header (in `header`), the field rows (in row_template, of
// kRowTemplateSize bytes) and the UPDATE statement (in the statement
// source), and sets form_mode; reports what is missing instead.
void build_update_form(char* options, char* row_template, TableHeader& header);

// Writes what closes one row's form: the table end, the hidden database and
// sql fields and the Update button.
void write_form_end(OutputChannel& output);

}  // namespace vexil
