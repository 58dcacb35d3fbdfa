// Command handlers: argument reading and the work of each command, or the
// hand-over to the subsystem that does it.
#include "template/commands.hpp"

#include <cstring>

#include "template/conditions.hpp"

namespace vexil {

namespace {
// Reads the argument text into the shared command buffer.
char* read_into_command_buffer(ScanContext& scan) {
    TextBuffer<8192>& buffer = command_buffers().command;
    read_command_text(scan.source, scan.keyword, buffer);
    return buffer.data();
}
}  // namespace

RunStatus handle_if(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_else(ScanContext& scan) {
    IfStack& levels = if_stack();
    if (levels.depth > 0) {
        int d = levels.depth;
        levels.enabled[d] = (!levels.enabled[d] && levels.enabled[d - 1]) ? 1 : 0;
    }
    TextBuffer<8192>& buffer = command_buffers().command;
    if (!read_command_text(scan.source, scan.keyword, buffer)) {
        report_error("Missing --> for ELSE statement");
    }
    return kRunGoesOn;
}

RunStatus handle_endif(ScanContext& scan) {
    close_if_level();
    char* close = std::strstr(scan.keyword, "-->");
    if (close != nullptr) {
        scan.source.position = close + 3;
    } else {
        report_error("Missing --> for ENDIF statement");
        scan.source.position = scan.keyword + 5;
    }
    return kRunGoesOn;
}

RunStatus handle_set(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_database(ScanContext& scan) {
    read_command_text(scan.source, scan.keyword, command_buffers().connection);
    return kRunGoesOn;
}

RunStatus handle_sql(ScanContext& scan) {
    read_command_text(scan.source, scan.keyword, command_buffers().sql);
    return kRunGoesOn;
}

RunStatus handle_qbe(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_eachrow(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_table(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_updateform(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_default(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_translate(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_format(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_exec(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_include(ScanContext& scan) {
    char* name = read_into_command_buffer(scan);
    RunStatus status = run_template_file(name, scan.output);
    return status == kRunEnd ? kRunGoesOn : status;
}

RunStatus handle_redirect(ScanContext& scan) {
    read_command_text(scan.source, scan.keyword, command_buffers().redirect_target);
    return kRunRedirect;
}

RunStatus handle_optionlist(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_output(ScanContext& scan) {
    read_into_command_buffer(scan);
    return kRunGoesOn;
}

RunStatus handle_exit(ScanContext&) {
    if_stack().depth = 0;
    return kRunExit;
}

}  // namespace vexil
