// The command handlers the scanner dispatches to. Each handler reads its
// argument text (where the command has one), does its work, leaves the
// source's position where the scan goes on, and returns the run status
// (0 to go on).
#pragma once

#include "template/scanner.hpp"

namespace vexil {

struct ScanContext {
    TemplateSource& source;
    OutputChannel& output;
    CommandPermissions permissions;
    int options;
    char* keyword;  // the command's keyword in the current text (upper-cased)
};

using CommandHandler = RunStatus (*)(ScanContext&);

RunStatus handle_if(ScanContext& scan);
RunStatus handle_else(ScanContext& scan);
RunStatus handle_endif(ScanContext& scan);
RunStatus handle_set(ScanContext& scan);
RunStatus handle_database(ScanContext& scan);
RunStatus handle_sql(ScanContext& scan);
RunStatus handle_qbe(ScanContext& scan);
RunStatus handle_eachrow(ScanContext& scan);
RunStatus handle_table(ScanContext& scan);
RunStatus handle_updateform(ScanContext& scan);
RunStatus handle_default(ScanContext& scan);
RunStatus handle_translate(ScanContext& scan);
RunStatus handle_format(ScanContext& scan);
RunStatus handle_exec(ScanContext& scan);
RunStatus handle_include(ScanContext& scan);
RunStatus handle_redirect(ScanContext& scan);
RunStatus handle_optionlist(ScanContext& scan);
RunStatus handle_output(ScanContext& scan);
RunStatus handle_exit(ScanContext& scan);

}  // namespace vexil
