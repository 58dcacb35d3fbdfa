// Result items of the SQL command: the built-ins that show them.
#include "db/results.hpp"

namespace vexil {

void bind_result_variables(VariableTable& table, ResultItems& results) {
    bind_builtin(table, "row", results.row_text.data());
    bind_builtin(table, "rows_affected", results.rows_affected_text.data());
    bind_builtin(table, "sql_statement", results.statement_text.data());
    bind_builtin(table, "sql_error", results.result_text.data());
    bind_builtin(table, "sql_result", results.result_text.data());
    bind_builtin(table, "sql_status", results.status_text.data());
}

}  // namespace vexil
