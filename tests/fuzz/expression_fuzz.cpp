// Fuzz target: the expression evaluator, as SET and IF use it, with a few
// variables defined (numbers, text, an empty value, a FORMAT picture and a
// TRANSLATE table on them).
//
// Input: the expression text (up to the first NUL).
#include <cstring>

#include "base/scratch.hpp"
#include "expr/evaluator.hpp"
#include "support/fuzz_support.hpp"
#include "template/conditions.hpp"
#include "values/mappings.hpp"
#include "values/variable_table.hpp"

using namespace vexil;

namespace {
void define_variables() {
    fuzz::define_values("n=42&r=3.25&neg=-7&t=some text&e=&q='quoted'&big=2147483647&d=$n$",
                        "r=##9.99 n=$###,##9",
                        "t 'some text'=other");
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_standard_streams();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text = fuzz::c_text(fuzz::as_view(data, size));
    fuzz::FreshRun fresh;
    define_variables();

    // As SET evaluates: the text is cut in place and must be put back.
    fuzz::Writable work(text);
    const char* result = eval_expression(work.data());
    if (result == nullptr) std::abort();
    (void)std::strlen(result);
    if (text != work.data()) std::abort();  // the expression text was not restored
    reset_scratch();

    // As IF evaluates a condition.
    fuzz::Writable condition(text);
    (void)eval_if_condition(condition.data());
    reset_scratch();
    return 0;
}
