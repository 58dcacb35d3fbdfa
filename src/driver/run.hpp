// The run: everything one run of a template reads and changes, in one
// object made fresh for each run, so nothing one run leaves behind can
// reach the next (a visitor's form fields, variables, open statements).
//
// Each subsystem defines its state struct in its own header, with an
// accessor (`variable_table()`, `if_state()`, ...) declared there too. The
// accessors are defined in run.cpp and return the member of the run in
// progress, so a lower layer reaches its own state without knowing the
// layers above it. Only the driver (and tests) make runs.
#pragma once

#include "base/output.hpp"
#include "base/output_files.hpp"
#include "base/policy.hpp"
#include "base/run_io.hpp"
#include "base/scratch.hpp"
#include "base/tracked_memory.hpp"
#include "db/odbc_session.hpp"
#include "db/results.hpp"
#include "driver/driver.hpp"
#include "expr/expr_state.hpp"
#include "forms/forms_state.hpp"
#include "request/form_data.hpp"
#include "template/conditions.hpp"
#include "template/row_loop.hpp"
#include "template/scanner.hpp"
#include "values/clock.hpp"
#include "values/mappings.hpp"
#include "values/variable_table.hpp"

namespace vexil {

// Members are destroyed in reverse order: the database handles and files go
// before the tracked memory that other members may point into.
struct Run {
    RunIo io;                     // base: the request's environment, input and answer
    TrackedMemory memory;         // base: blocks released when the run ends
    RunPolicy policy;             // base: what the run may do, and its limits
    OutputState output;           // base: header, blank-line rule, report location
    OutputFileState output_file;  // base: the current output file
    ScratchArea scratch;          // base: temporary texts
    FormState form;               // request: the decoded form fields
    VariableTable variables;      // values: named values and the lookup order
    ClockState clock;             // values: the date and time built-ins
    MappingState mappings;        // values: TRANSLATE tables, FORMAT pictures
    ExprState expr;               // expr: nesting depths, random numbers
    DbConnections own_connections;  // db: a CGI run's connections, closed at its end
    DbSession db;                 // db: statements, bound columns, the connections used
    ResultItems results;          // db: the SQL command's outcome
    FormsState forms;             // forms: TABLE/UPDATEFORM framing, option list
    ScannerState scanner;         // template: command texts, open files
    IfState conditions;           // template: the IF stack, IFNEW's values
    RowLoopState loops;           // template: loop bodies and headers
    DriverState driver;           // driver: input and output names

    // A run with the built-ins bound and the result columns wired to the
    // variable lookup, answering the request that `io` names, with the
    // database connections of `connections` (a persistent worker's) or
    // its own.
    explicit Run(const RunIo& io = {}, DbConnections* connections = nullptr);
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
};

// Makes a run the one in progress for the lifetime of this object, and the
// previous one (if any) again afterwards.
class ActiveRun {
public:
    explicit ActiveRun(Run& run);
    ~ActiveRun();
    ActiveRun(const ActiveRun&) = delete;
    ActiveRun& operator=(const ActiveRun&) = delete;

private:
    Run* previous_;
};

// The run in progress; there must be one.
Run& active_run();

}  // namespace vexil
