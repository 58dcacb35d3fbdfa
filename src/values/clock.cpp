// The date and time variables: binds the ten built-ins (today, time, year,
// ...) to the run's clock buffers and fills them once a run from the local
// time when the first of them is used, or from a given time so tests need
// no real clock.
#include "values/clock.hpp"

namespace vexil {

namespace {
constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",
                                       "May",     "June",     "July",      "August",
                                       "September", "October", "November", "December"};
constexpr const char* kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
}  // namespace

void bind_clock_variables(VariableTable& table, ClockState& clock) {
    bind_builtins(table, {{"today", clock.today.data(), false, true},
                          {"time", clock.time.data(), false, true},
                          {"time24", clock.time24.data(), false, true},
                          {"date_short", clock.date_short.data(), false, true},
                          {"date_ymd", clock.date_ymd.data(), false, true},
                          {"year", clock.year.data(), false, true},
                          {"monthname", clock.monthname.data(), false, true},
                          {"month", clock.month.data(), false, true},
                          {"day", clock.day.data(), false, true},
                          {"weekday", clock.weekday.data(), false, true}});
}

void set_date_time_variables_at(const std::tm& local) {
    variable_table().late_fill = nullptr;
    ClockState& clock = clock_state();
    int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
    int weekday = local.tm_wday >= 0 && local.tm_wday < 7 ? local.tm_wday : 0;
    int year = local.tm_year + 1900;
    int hour = local.tm_hour;
    clock.monthname.assign(kMonthNames[month]);
    clock.weekday.assign(kDayNames[weekday]);
    clock.today.format("%s %d, %d", kMonthNames[month], local.tm_mday, year);
    if (hour < 12) {
        clock.time.format("%02d:%02dam", hour, local.tm_min);
    } else {
        clock.time.format("%02d:%02dpm", hour > 12 ? hour - 12 : hour, local.tm_min);
    }
    clock.time24.format("%02d:%02d", hour, local.tm_min);
    clock.date_short.format("%02d-%02d-%04d", month + 1, local.tm_mday, year);
    clock.date_ymd.format("%04d%02d%02d", year, month + 1, local.tm_mday);
    clock.year.assign_number(year);
    clock.month.assign_number(month + 1);
    clock.day.assign_number(local.tm_mday);
}

namespace {
void fill_from_clock() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    set_date_time_variables_at(local);
}
}  // namespace

void set_date_time_variables() {
    // The local time is read when a date or time variable is first used:
    // finding it reads the time zone file, which most pages never need.
    variable_table().late_fill = fill_from_clock;
}

}  // namespace vexil
