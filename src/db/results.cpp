// Result items of the SQL command.
#include "db/results.hpp"

namespace vexil {

namespace {
ResultItems g_results;
}  // namespace

ResultItems& result_items() { return g_results; }

void reset_result_items() {
    g_results.connection_text = nullptr;
    g_results.connection_expanded = false;
    g_results.result_text.clear();
    g_results.table_mode = false;
    g_results.form_mode = false;
}

}  // namespace vexil
