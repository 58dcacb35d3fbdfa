// Start-up of a web run: the form data, the run settings taken from the
// request (template, output, connection), the eleven start-up variables,
// the form's default/translate/format lists and the cookies.
#pragma once

#include "base/status.hpp"

namespace vexil {

// The web start-up. Fails with the form-reading failure when the form data
// could not be read and no template is named (by the form or the path).
Status load_cgi_variables();

}  // namespace vexil
