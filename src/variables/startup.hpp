// Start-up of a run: in a CGI run the form data, the run settings taken from
// the form (template, output, connection), the eleven start-up variables,
// the form's default/translate/format lists and the cookies; in every run
// the ten date and time variables.
#pragma once

#include <ctime>
#include <string_view>

#include "cgi/text.hpp"

namespace vexil {

// The fixed buffers the date and time built-ins show.
struct DateTimeBuffers {
    TextBuffer<32> today;       // "January 5, 1998"
    TextBuffer<8> time;         // "01:07pm"
    TextBuffer<8> time24;       // "13:07"
    TextBuffer<16> date_short;  // "01-05-1998"
    TextBuffer<16> date_ymd;    // "19980105"
    TextBuffer<8> year;         // "1998"
    TextBuffer<12> monthname;   // "January"
    TextBuffer<4> month;        // "1"
    TextBuffer<4> day;          // "5"
    TextBuffer<12> weekday;     // "Monday"
};

DateTimeBuffers& date_time_buffers();

// The CGI start-up. Returns false when the form data could not be read and
// no template is named (by the form or the CGI path).
bool load_cgi_variables();

// The start-up value of script_name in a CGI run (the form field, else the
// CGI variable); "" in a command-line run.
const char* startup_script_name();

// Writes the date and time built-ins from the local clock, once per run.
void set_date_time_variables();
// The same from a given local time (the clock is injected for tests).
void set_date_time_variables_at(const std::tm& local);

// Copies source into dest (dest_size bytes, cut to fit), turning "+" into a
// blank and "%" with two hexadecimal digits into that byte.
void url_decode_copy(std::string_view source, char* dest, std::size_t dest_size);

}  // namespace vexil
