// Output files: a run may send its page to a file instead of standard
// output (-o, the OUTPUT command). A file is written under a temporary name
// and gets its final name only when it is finished, so a reader never sees
// half a page; a run that fails leaves no file behind under the final name.
#pragma once

#include <cstdio>
#include <memory>

#include "base/output.hpp"
#include "base/status.hpp"
#include "base/text.hpp"

namespace vexil {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The output file of a run.
struct OutputFileState {
    TextBuffer<kNameSize> final_name;        // the current output file's final name
    bool has_final_name = false;             // an output file was opened in this run
    TextBuffer<kNameSize> temp_name;         // the file being written
    FileHandle file;                         // the open temporary file
};

OutputFileState& output_file_state();

// An output file opened but not yet made the current output.
struct OpenedOutput {
    FileHandle file;
    TextBuffer<kNameSize> temp_name;
};

// The temporary name of an output: the name up to its last "." (directories
// included) with ".tmp" appended. False when it does not fit a name field.
bool temporary_name(const char* name, TextBuffer<kNameSize>& temp);

// Opens the temporary file for the output `name`; fails with "Error opening
// the output file: ..." (a name too long for its field is refused whole).
Status open_output_file(const char* name, OpenedOutput& opened);

// The failure of opening an output: the system's text for `error` and the
// name as shown to the reader.
Status output_open_failure(int error, const char* shown_name);

// Makes an opened file the current output, with `final_name` as the name it
// gets when it is finished.
void install_output(OpenedOutput& opened, const char* final_name, OutputChannel& output);

// When the current output is a file: closes it and renames the temporary
// file to its final name. The current output becomes standard output. When
// a write, the flush, the close or the rename failed, the temporary file is
// removed, the file under the final name stays as it was, and the failure
// names the system's reason.
Status finish_output(OutputChannel& output);

// When the current output is a file: closes and deletes it (a failed run).
// The current output becomes standard output.
void discard_output(OutputChannel& output);

}  // namespace vexil
