// Output files: opening under a temporary name, finishing by renaming.
//
// The driver (-o) and the OUTPUT command open a page's file here; it is
// written as "<stem>.tmp" and renamed to its final name only when finished,
// or deleted when the run fails, so a reader never sees half a page. The
// failure message of an open is made here too, the same for both callers.
#include "base/output_files.hpp"

#include <cerrno>
#include <cstring>
#include <string>

namespace vexil {

bool temporary_name(const char* name, TextBuffer<kNameSize>& temp) {
    std::string text(name);
    if (std::size_t dot = text.rfind('.'); dot != std::string::npos) text.erase(dot);
    text += ".tmp";
    temp.assign(text);
    return text.size() <= TextBuffer<kNameSize>::kCapacity;
}

Status output_open_failure(int error, const char* shown_name) {
    return Status::failure("Error opening the output file: %s %s\n", std::strerror(error), shown_name);
}

Status open_output_file(const char* name, OpenedOutput& opened) {
    if (!temporary_name(name, opened.temp_name)) {
        return output_open_failure(ENAMETOOLONG, opened.temp_name.c_str());
    }
    opened.file.reset(std::fopen(opened.temp_name.c_str(), "w"));
    if (!opened.file) return output_open_failure(errno, opened.temp_name.c_str());
    return Status::ok();
}

void install_output(OpenedOutput& opened, const char* final_name, OutputChannel& output) {
    OutputFileState& state = output_file_state();
    state.file = std::move(opened.file);
    state.temp_name.assign(opened.temp_name.view());
    state.final_name.assign(final_name);
    state.has_final_name = true;
    output.stream = state.file.get();
}

void finish_output(OutputChannel& output) {
    if (output.stream == nullptr || output.is_standard()) return;
    OutputFileState& state = output_file_state();
    state.file.reset();
    // An output named like its own temporary file is already in place.
    if (state.final_name.view() != state.temp_name.view()) {
        std::remove(state.final_name.c_str());
        std::rename(state.temp_name.c_str(), state.final_name.c_str());
    }
    output.stream = standard_output();
}

void discard_output(OutputChannel& output) {
    if (output.stream == nullptr || output.is_standard()) return;
    OutputFileState& state = output_file_state();
    state.file.reset();
    std::remove(state.temp_name.c_str());
    output.stream = standard_output();
}

}  // namespace vexil
