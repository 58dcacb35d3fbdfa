// Fuzz target: the QBE statement builder, with the search form's fields
// taken from a query string.
//
// Input: a query string line (the form), then the QBE command text. The
// first field's value is also put through the search condition alone.
#include <cstring>

#include "forms/qbe.hpp"
#include "support/fuzz_support.hpp"
#include "request/form_data.hpp"

using namespace vexil;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_standard_streams();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto [query, command] = fuzz::split_first(fuzz::as_view(data, size));
    std::string query_text = fuzz::c_text(query);
    std::string command_text = fuzz::c_text(command);

    fuzz::RequestParams request;
    request.set("REQUEST_METHOD", "GET");
    request.set("QUERY_STRING", query_text);
    fuzz::FreshRun fresh(RunIo{request.list()});
    (void)read_form_data();

    fuzz::Writable options(command_text);
    const char* statement = build_qbe_statement(options.data());
    if (statement == nullptr) std::abort();
    (void)std::strlen(statement);

    const FormState& form = form_state();
    if (form.fields != nullptr && form.fields[0].name != nullptr && form.fields[0].value != nullptr &&
        form.fields[0].value[0] != '\0') {
        std::string_view value = form.fields[0].value;
        for (bool text_column : {false, true}) {
            for (SqlDialect dialect : {SqlDialect{false, '"'}, SqlDialect{true, '`'}}) {
                std::string sql = "SELECT * FROM t WHERE ";
                std::string before = sql;
                Status added = append_search_condition(sql, form.fields[0].name, text_column, value, dialect);
                if (!added.is_ok() && sql != before) std::abort();  // a refused value leaves sql as it was
            }
        }
        (void)is_sql_literal(value);
    }
    return 0;
}
