// Fuzz target: substitution of references in a text, with a few variables
// defined, under every combination of options, into a destination of a
// chosen size.
//
// Input: an options byte, a destination size byte, then the text.
#include <cstring>

#include "base/scratch.hpp"
#include "expr/substitute.hpp"
#include "support/fuzz_support.hpp"
#include "values/mappings.hpp"
#include "values/variable_table.hpp"

using namespace vexil;

namespace {
void define_variables() {
    fuzz::define_values("a=1&b=two words&c=it's&e=&n=1234.5&nested=$a$+$b$&deep=$nested$$nested$&pct=100%",
                        "n=$##,##9.99 a=999",
                        "b 'two words'=<b>bold</b> 1=one");
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_standard_streams();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int options = data[0] & 127;
    const std::size_t dest_size = std::size_t(data[1]) * 4 + 1;
    std::string text = fuzz::c_text(fuzz::as_view(data + 2, size - 2));

    fuzz::FreshRun fresh;
    define_variables();

    // A destination of exactly dest_size bytes: AddressSanitizer catches a
    // write past it.
    fuzz::Writable source(text);
    std::vector<char> dest(dest_size, '\x7f');
    substitute_variables(source.data(), dest.data(), dest.size(), options);
    if (std::memchr(dest.data(), '\0', dest.size()) == nullptr) std::abort();  // not terminated
    reset_scratch();

    // The same text as a statement and as a command line: refused whole
    // when it does not fit, never cut.
    fuzz::Writable statement(text);
    std::vector<char> sql(dest_size);
    Status placed = substitute_statement(statement.data(), sql.data(), sql.size(), (options & 1) != 0);
    if (placed.is_ok() && std::memchr(sql.data(), '\0', sql.size()) == nullptr) std::abort();
    reset_scratch();

    fuzz::Writable line(text);
    std::vector<char> command(dest_size);
    Status quoted = substitute_command_line(line.data(), command.data(), command.size());
    if (quoted.is_ok() && std::memchr(command.data(), '\0', command.size()) == nullptr) std::abort();
    reset_scratch();
    return 0;
}
