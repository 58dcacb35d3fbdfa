// TABLE output: builds the heading row and a row template whose cells are
// $column$ references, for the row loop to run once per row.
#pragma once

#include "forms/forms_state.hpp"

namespace vexil {

// Writes the header and the row template (kRowTemplateSize bytes) from the
// columns of the latest result, and sets table_mode.
void build_table_template(const char* attributes, char* row_template, TableHeader& header);

// Makes a heading of a column name in place: the first character upper
// case; every "_" a blank, with the letter after it upper case.
void label_from_name(char* text);

}  // namespace vexil
