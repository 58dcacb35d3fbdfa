// The built-in variables that show the SQL command's result items: each is
// bound to its buffer once per run, so a reference reads the current text
// without copying it.
#include "db/results.hpp"

namespace vexil {

void bind_result_variables(VariableTable& table, ResultItems& results) {
    bind_builtins(table, {{"row", results.row_text.data()},
                          {"rows_affected", results.rows_affected_text.data()},
                          {"sql_statement", results.statement_text.data(), true},
                          {"sql_error", results.result_text.data(), true},
                          {"sql_result", results.result_text.data(), true},
                          {"sql_status", results.status_text.data()}});
}

}  // namespace vexil
