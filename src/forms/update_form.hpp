// Update form: one edit form per result row, posting an UPDATE statement
// back to the page that receives it. The UPDATEFORM command builds the form
// here; the row loop (template layer) writes it once per row and closes each
// with write_form_end.
//
// An edit must never lose data: every value written into an attribute or a
// text area is HTML-escaped, and so are the statement in the hidden "sql"
// field and the connect text in "database", so a browser posts back exactly
// the stored values.
//
// In a locked web run each form is signed (request/signature.hpp), so that
// the statement it posts back is accepted for its own row only; without a
// site key no edit form is offered there.
#pragma once

#include "base/output.hpp"
#include "forms/forms_state.hpp"

namespace vexil {

// Builds the form header (in `header`), the field rows (in row_template, of
// kRowTemplateSize bytes) and the UPDATE statement (in the statement
// source), keeps the key names and input template for the signature, and
// sets form_mode; reports what is missing instead, and in a locked run
// without a site key refuses to build the form.
void build_update_form(char* options, char* row_template, TableHeader& header);

// Writes what closes one row's form: the table end, the hidden database and
// sql fields (in a locked run also the key names and the row's signature)
// and the Update button.
void write_form_end(OutputChannel& output);

}  // namespace vexil
