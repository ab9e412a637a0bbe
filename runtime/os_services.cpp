// OS services on POSIX: clock_gettime, localtime_r with tm_gmtoff, nanosleep, getcwd and chdir.
// The date and the time of day of one call always come from one reading of the clock.
#include "runtime/os_services.hpp"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <ctime>
#include <unistd.h>

#include "datatypes/date.hpp"
#include "runtime/console_output.hpp"
#include "runtime/process.hpp"

namespace zel::os {

namespace {
i64 floor_div(i64 a, i64 b) {
    i64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

timespec read_clock() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts;
}

// Whole seconds plus, when precise, the fraction in 100 ns steps.
double fraction_of(i64 nanoseconds, bool precise) {
    return precise ? static_cast<double>(nanoseconds / 100 * 100) / 1e9 : 0.0;
}
} // namespace

void set_up() {
    conout::detect_console();
    // `zel script | head` must not kill the process: lost output is ignored instead.
    std::signal(SIGPIPE, SIG_IGN);
}

std::string current_dir_text() {
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
}

bool change_dir(std::string_view path) {
    std::string p(path);
    if (p.find('\0') != std::string::npos) return false;
    return ::chdir(p.c_str()) == 0;
}

i64 sleep_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;
    // A duration beyond any real wait (about 31,000 years) is capped instead of overflowing.
    if (ms > 1e15) ms = 1e15;
    return static_cast<i64>(ms);
}

void sleep_seconds(double seconds) {
    i64 ms = sleep_milliseconds(seconds);
    timespec want{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec left{};
    // An interrupt ends the wait: the evaluator takes it right after.
    while (nanosleep(&want, &left) != 0 && errno == EINTR && !runtime::interrupt_requested)
        want = left;
}

u32 zone_bits(i64 offset_seconds) {
    i64 minutes = (offset_seconds < 0 ? -offset_seconds : offset_seconds) / 60;
    i64 hours = minutes / 60;
    i64 quarter = minutes % 60 / 15;
    if (hours > 15) {
        hours = 15;
        quarter = 3;
    }
    u32 bits = static_cast<u32>(hours << 2 | quarter);
    // The quarter comes from the magnitude: -4:45 is 4 hours and 3 quarters west.
    if (offset_seconds < 0 && bits) bits |= date::packed::zone_west;
    return bits;
}

moment moment_at(i64 unix_seconds, i64 nanoseconds, bool utc, bool precise) {
    u32 zone = 0;
    if (!utc) {
        time_t t = static_cast<time_t>(unix_seconds);
        tm local{};
        if (localtime_r(&t, &local)) zone = zone_bits(local.tm_gmtoff);
    }
    i64 offset = date::zone_offset(zone);
    i64 local_seconds = unix_seconds + offset;
    i64 days = floor_div(local_seconds, 86400);
    i64 time_of_day = local_seconds - days * 86400;
    u32 packed =
        date::from_day_number(static_cast<i32>(date::day_number(1970, 1, 1) + days), zone, false);
    double stored = static_cast<double>(time_of_day - offset) + fraction_of(nanoseconds, precise);
    return {packed, stored};
}

moment current_moment(bool utc, bool precise) {
    timespec ts = read_clock();
    return moment_at(ts.tv_sec, ts.tv_nsec, utc, precise);
}

double utc_time_of_day(bool precise) {
    timespec ts = read_clock();
    i64 seconds = ts.tv_sec - floor_div(ts.tv_sec, 86400) * 86400;
    return static_cast<double>(seconds) + fraction_of(ts.tv_nsec, precise);
}

u32 packed_date(bool utc) {
    return current_moment(utc, false).packed_date;
}

} // namespace zel::os
