// Update form.
#include "db/update_form.hpp"

#include "db/results.hpp"
#include "template/scanner.hpp"

namespace vexil {

void write_form_end(OutputChannel& output) {
    const ResultItems& r = result_items();
    write_fragment("</TABLE>\n<INPUT NAME=\"database\" TYPE=\"hidden\" VALUE=\"", output);
    write_fragment(r.connection_text ? r.connection_text : "", output);
    write_fragment("\">\n<INPUT NAME=\"sql\" TYPE=\"hidden\" VALUE=\"", output);
    write_fragment(command_buffers().sql.view(), output);
    write_fragment("\">\n<P><INPUT TYPE=\"submit\" VALUE=\"Update\"></FORM>\n", output);
}

}  // namespace vexil
