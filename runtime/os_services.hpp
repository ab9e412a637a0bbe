// OS services: the set-up done once at start-up, the current directory, sleeping, the time of
// day and the current date in the packed form of date! (year << 17 | month << 12 | day << 7 |
// zone; zone = sign 0x40 | whole hours << 2 | quarter hours, 0 for UTC).
#pragma once
#include <string>
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::os {

// Console detection; a write to a closed pipe fails with EPIPE instead of ending the process.
void set_up();

// The current directory as the OS gives it (UTF-8 bytes), empty when it cannot be read.
std::string current_dir_text();
bool change_dir(std::string_view path);

// Sleeps seconds x 1000 milliseconds truncated, at least 1 ms (also for a negative or NaN
// duration).
void sleep_seconds(double seconds);
// The milliseconds that sleep_seconds sleeps for a duration.
i64 sleep_milliseconds(double seconds);

// Seconds since midnight UTC; with `precise` the fraction of the second too (100 ns steps).
double utc_time_of_day(bool precise);
// Today's packed date: local with the zone, or UTC (zone 0).
u32 packed_date(bool utc);

// The zone bits of an offset in seconds east of UTC (whole quarter hours toward zero, hours at
// most 15).
u32 zone_bits(i64 offset_seconds);

// One reading of the clock as a date!: the packed date (without the has-time flag) and the
// stored time (the time of day less the zone offset, so that stored time + offset lies in
// [0, 86400)). Both come from the same instant, so the date and the time agree at midnight.
struct moment {
    u32 packed_date;
    double stored_time;
};
moment current_moment(bool utc, bool precise);
// The same for a given instant (seconds and nanoseconds since 1970 UTC) in the process's zone.
moment moment_at(i64 unix_seconds, i64 nanoseconds, bool utc, bool precise);

} // namespace zel::os
