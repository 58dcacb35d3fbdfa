// TABLE output: builds the heading row and a row template whose cells are
// $column$ references, for the row loop to run once per row.
#pragma once

#include <string_view>

namespace vexil {

inline constexpr std::size_t kTableHeaderSize = 1024;

// The text the row loop at `depth` writes before its rows (TABLE) or
// before every row (UPDATEFORM).
std::string_view table_header(int depth);
// Replaces the header of the current loop depth.
void set_table_header(std::string_view text);
// Appends to the header of the current loop depth (cut at its size).
void append_table_header(std::string_view text);

// Writes the header of the current depth and the row template from the
// columns of the latest result, and sets table_mode.
void build_table_template(const char* attributes, char* row_template);

// Makes a heading of a column name in place: the first character upper
// case; every "_" a blank, with the letter after it upper case.
void label_from_name(char* text);

}  // namespace vexil
