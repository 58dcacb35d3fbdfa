// Row loops: EACHROW ... ENDROW, and the rows of TABLE and UPDATEFORM. The
// body is raw template text, run as an in-memory template once per result
// row; at most three loops run inside each other.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "base/status.hpp"
#include "forms/forms_state.hpp"
#include "template/scanner.hpp"

namespace vexil {

inline constexpr int kMaxLoopDepth = 3;
inline constexpr std::size_t kLoopBufferSize = kRowTemplateSize;

struct RowLoopState {
    int loop_depth = 0;  // row loops running
    std::array<std::unique_ptr<char[]>, kMaxLoopDepth> buffers;  // one per depth, made on first use
    std::array<TableHeader, kMaxLoopDepth> headers;  // TABLE / UPDATEFORM text before the rows
};

RowLoopState& row_loop_state();

// The loop buffer for the current depth (emptied when created); fails when
// three loops already run or the buffer cannot be made.
Status get_loop_buffer(char*& body);
// The header of the loop that the current depth is about to run.
TableHeader& loop_header();

// Copies the body of an EACHROW (from after its "-->" to the matching
// ENDROW) into buffer and sets the source's position after the ENDROW.
void read_loop_body(TemplateSource& source, char* keyword, char* buffer);

// The "<!--" of the ENDROW that closes a body, or nullptr; `nesting` counts
// inner EACHROW/ENDROW pairs across calls for the same body.
char* find_loop_end(char* text, int& nesting);

// Runs the body once per row of the current statement, framed as a table
// or as update forms when TABLE or UPDATEFORM built it. Returns the status
// of the last run of the body, or kRunGoesOn when it never ran.
RunStatus run_row_loop(char* body, OutputChannel& output, CommandPermissions permissions);

}  // namespace vexil
