// Start-up of a run: in a CGI run, the form data, the run settings taken
// from the form (template, output and connection) and the start-up
// variables.
#pragma once

namespace vexil {

// The CGI start-up. Returns false when the form data could not be read and
// no template is named (by the form or the CGI path).
bool load_cgi_variables();

}  // namespace vexil
