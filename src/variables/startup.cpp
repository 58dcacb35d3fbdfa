// Start-up variables and the run settings of a CGI run.
#include "variables/startup.hpp"

#include "cgi/form_data.hpp"
#include "driver/driver.hpp"

namespace vexil {

bool load_cgi_variables() {
    bool read_ok = read_form_data() != 0;

    const char* path_info = getenv_copy("PATH_INFO");
    const char* path_translated = getenv_copy("PATH_TRANSLATED");
    if (path_info[0] != '\0' && path_translated[0] == '\0') path_translated = path_info;

    DriverState& driver = driver_state();
    driver.input_name = form_value("input");
    driver.output_name = form_value_or("output", driver.output_buffer.c_str());

    const char* translated_value = form_value_or("path_translated", path_translated);
    const char* path_info_value = form_value_or("path_info", path_info);

    if (driver.input_name[0] == '\0' && path_info_value[0] != '\0') {
        driver.input_name = translated_value;
    }
    if (!read_ok && driver.input_name[0] == '\0') return false;
    return true;
}

}  // namespace vexil
