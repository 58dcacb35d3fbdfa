// The run in progress and the accessors through which each subsystem
// reaches its part of it.
//
// The one mutable file-level variable of the program lives here: a pointer
// to the active Run, set by ActiveRun for the length of a run. Making a Run
// binds the built-ins and wires the result columns into the variable lookup.
#include "driver/run.hpp"

#include <cassert>

#include "db/columns.hpp"

namespace vexil {

namespace {
// The one mutable variable at file level: which run is in progress. A
// process serves one request at a time.
Run* g_active = nullptr;
}  // namespace

Run::Run(const RunIo& given, DbConnections* connections) : io(given) {
    db.connections = connections != nullptr ? connections : &own_connections;
    bind_result_variables(variables, results);
    bind_clock_variables(variables, clock);
    variables.column_source = &column_value;
}

ActiveRun::ActiveRun(Run& run) : previous_(g_active) { g_active = &run; }
ActiveRun::~ActiveRun() { g_active = previous_; }

Run& active_run() {
    assert(g_active != nullptr && "no run in progress");
    return *g_active;
}

RunIo& run_io() { return active_run().io; }
TrackedMemory& tracked_memory() { return active_run().memory; }
RunPolicy& run_policy() { return active_run().policy; }
OutputState& output_state() { return active_run().output; }
OutputFileState& output_file_state() { return active_run().output_file; }
ScratchArea& scratch_area() { return active_run().scratch; }
FormState& form_state() { return active_run().form; }
VariableTable& variable_table() { return active_run().variables; }
ClockState& clock_state() { return active_run().clock; }
MappingState& mapping_state() { return active_run().mappings; }
ExprState& expr_state() { return active_run().expr; }
DbSession& db_session() { return active_run().db; }
ResultItems& result_items() { return active_run().results; }
FormsState& forms_state() { return active_run().forms; }
ScannerState& scanner_state() { return active_run().scanner; }
IfState& if_state() { return active_run().conditions; }
RowLoopState& row_loop_state() { return active_run().loops; }
DriverState& driver_state() { return active_run().driver; }

}  // namespace vexil
