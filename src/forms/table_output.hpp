// TABLE output: builds the heading row and a row template whose cells are
// $column$ references, for the row loop to run once per row. The headings
// (label_from_name) also label the fields of an update form.
#pragma once

#include <string>
#include <string_view>

#include "forms/forms_state.hpp"

namespace vexil {

// Writes the header and the row template (kRowTemplateSize bytes) from the
// columns of the latest result, and sets table_mode.
void build_table_template(const char* attributes, char* row_template, TableHeader& header);

// The heading of a column name: the first character upper case; every "_" a
// blank, with the letter after it upper case.
std::string label_from_name(std::string_view name);

}  // namespace vexil
