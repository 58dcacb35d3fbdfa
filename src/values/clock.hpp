// The date and time variables: ten built-ins that show the local date and
// time, read once per run when the first of them is used.
#pragma once

#include <ctime>

#include "base/text.hpp"
#include "values/variable_table.hpp"

namespace vexil {

// The fixed buffers the date and time built-ins show.
struct ClockState {
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

ClockState& clock_state();

// Binds the ten built-ins to the buffers of `clock`.
void bind_clock_variables(VariableTable& table, ClockState& clock);

// Has the date and time built-ins written from the local clock when the
// first of them is looked up (once per run).
void set_date_time_variables();
// Writes them now from a given local time (the clock is injected for tests).
void set_date_time_variables_at(const std::tm& local);

}  // namespace vexil
