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

namespace {
constexpr std::size_t kOutputBlockSize = 65536;
}  // namespace

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
    // Pages are written in large blocks.
    std::setvbuf(opened.file.get(), nullptr, _IOFBF, kOutputBlockSize);
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

Status finish_output(OutputChannel& output) {
    if (output.stream == nullptr || output.is_standard()) return Status::ok();
    flush_output();
    OutputFileState& state = output_file_state();
    output.stream = standard_output();
    // Every write went through the stream: one that failed (a full disk, a
    // file size limit) shows in its error flag, the rest in the flush and
    // the close. A file with any of them is not complete.
    std::FILE* file = state.file.release();
    bool written = std::fflush(file) == 0 && !std::ferror(file);
    int error = written ? 0 : errno;
    if (std::fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        std::remove(state.temp_name.c_str());
        return Status::failure("Error writing the output file: %s %s", std::strerror(error ? error : EIO),
                               state.final_name.c_str());
    }
    // An output whose name expanded to nothing has no final name to take:
    // the page stays in its temporary file.
    if (state.final_name.empty()) return Status::ok();
    // An output named like its own temporary file is already in place; any
    // other replaces the file under its final name in one step, so that file
    // is either the old one or the complete new one.
    if (state.final_name.view() != state.temp_name.view() &&
        std::rename(state.temp_name.c_str(), state.final_name.c_str()) != 0) {
        error = errno;
        std::remove(state.temp_name.c_str());
        return Status::failure("Error writing the output file: %s %s", std::strerror(error),
                               state.final_name.c_str());
    }
    return Status::ok();
}

void discard_output(OutputChannel& output) {
    if (output.stream == nullptr || output.is_standard()) return;
    flush_output();
    OutputFileState& state = output_file_state();
    state.file.reset();
    std::remove(state.temp_name.c_str());
    output.stream = standard_output();
}

}  // namespace vexil
