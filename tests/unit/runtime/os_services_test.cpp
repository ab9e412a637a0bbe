// OS services: zone packing, sleeping, the clock and the current directory. Local dates are
// checked against Python's datetime for the same instants in the same time zone.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "datatypes/date.hpp"
#include "runtime/os_services.hpp"
#include "tests/unit/command_output.hpp"

using namespace zel;

namespace {
constexpr u32 west = 0x40;

std::string python_lines(const std::string& script, const std::string& args) {
    std::string command = "python3 -c '" + script + "' " + args;
    return test::command_output(command);
}

// Sets TZ for this process (and the children it starts) while in scope.
struct zone_setting {
    std::string saved;
    bool had;
    explicit zone_setting(const char* tz) {
        const char* old = std::getenv("TZ");
        had = old != nullptr;
        if (had) saved = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~zone_setting() {
        if (had)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
};

struct fields {
    i64 year, month, day, local_seconds, offset;
    bool operator==(const fields&) const = default;
};

fields fields_of(const os::moment& m) {
    u32 zone = date::packed::zone(m.packed_date);
    return {date::packed::year(m.packed_date), date::packed::month(m.packed_date),
            date::packed::day(m.packed_date),
            static_cast<i64>(std::floor(date::to_local_time(m.stored_time, zone))),
            date::zone_offset(zone)};
}

std::ostream& operator<<(std::ostream& o, const fields& f) {
    return o << f.year << "-" << f.month << "-" << f.day << " " << f.local_seconds << "s "
             << f.offset;
}
} // namespace

TEST(OsServices, ZoneBitsFromOffsets) {
    struct row {
        i64 offset;
        u32 bits;
    };
    const row rows[] = {
        {0, 0},
        {19800, 5 << 2 | 2},          // +5:30
        {20700, 5 << 2 | 3},          // +5:45
        {-12600, west | 3 << 2 | 2},  // -3:30
        {-17100, west | 4 << 2 | 3},  // -4:45: three quarters, not one
        {-11700, west | 3 << 2 | 1},  // -3:15
        {49500, 13 << 2 | 3},         // +13:45
        {50400, 14 << 2},             // +14:00
        {-600, 0},                    // less than a quarter west is no zone, not -00:00
        {20760, 5 << 2 | 3},          // +5:46 is kept in whole quarters
        {-59400, west | 15 << 2 | 3}, // beyond the field: the largest zone
    };
    for (const row& r : rows) EXPECT_EQ(os::zone_bits(r.offset), r.bits) << r.offset;
}

TEST(OsServices, LocalDatesMatchPython) {
    const char* zones[] = {
        "Asia/Kathmandu", "America/St_Johns", "Pacific/Chatham", "Australia/Eucla", "UTC",
        "<-0445>4:45"};
    const i64 instants[] = {
        0,
        951854400,  // 2000-02-29 20:00 UTC: past midnight east of UTC
        1704067199, // 2023-12-31 23:59:59 UTC: a new year east
        1719792000, // 2024-07-01 00:00 UTC: the day before west, summer time
        1705320000, // 2024-01-15 12:00 UTC
        1710054000, // 2024-03-10 07:00 UTC
        std::time(nullptr),
    };
    // One Python run answers for every zone: it sets TZ itself the way this process does.
    std::string args;
    for (const char* tz : zones) args += std::string("\"") + tz + "\" ";
    args += "--";
    for (i64 t : instants) args += " " + std::to_string(t);
    const std::string script =
        "import os, sys, time, datetime\n"
        "cut = sys.argv.index(\"--\")\n"
        "for tz in sys.argv[1:cut]:\n"
        "    os.environ[\"TZ\"] = tz\n"
        "    time.tzset()\n"
        "    for a in sys.argv[cut + 1:]:\n"
        "        d = datetime.datetime.fromtimestamp(int(a), datetime.timezone.utc).astimezone()\n"
        "        print(d.year, d.month, d.day, d.hour * 3600 + d.minute * 60 + d.second,\n"
        "              int(d.utcoffset().total_seconds()))\n";
    std::istringstream expected(python_lines(script, args));
    for (const char* tz : zones) {
        zone_setting setting(tz);
        for (i64 t : instants) {
            fields want{};
            ASSERT_TRUE(expected >> want.year >> want.month >> want.day >> want.local_seconds >>
                        want.offset)
                << tz;
            EXPECT_EQ(fields_of(os::moment_at(t, 0, false, false)), want) << tz << " " << t;
        }
    }
}

TEST(OsServices, UtcMomentsHaveNoZone) {
    zone_setting setting("Asia/Kathmandu");
    os::moment m = os::moment_at(951854400, 0, true, false);
    EXPECT_EQ(date::packed::zone(m.packed_date), 0u);
    EXPECT_EQ(fields_of(m), (fields{2000, 2, 29, 72000, 0}));
    EXPECT_EQ(date::packed::zone(os::packed_date(true)), 0u);
}

TEST(OsServices, PreciseTimeAddsTheFractionIn100nsSteps) {
    os::moment plain = os::moment_at(1705320000, 123456789, true, false);
    os::moment precise = os::moment_at(1705320000, 123456789, true, true);
    EXPECT_EQ(plain.stored_time, 43200.0);
    EXPECT_DOUBLE_EQ(precise.stored_time, 43200.1234567);

    double p = os::utc_time_of_day(true);
    double q = os::utc_time_of_day(false);
    EXPECT_EQ(q, std::floor(q));
    double step = std::fmod(q - std::floor(p) + 86400, 86400);
    EXPECT_TRUE(step == 0 || step == 1) << p << " " << q;
    double clock = static_cast<double>(std::time(nullptr) % 86400);
    EXPECT_LT(std::fmod(clock - q + 86400 + 2, 86400), 5) << clock << " " << q;
}

TEST(OsServices, SleepDurations) {
    struct row {
        double seconds;
        i64 ms;
    };
    const row rows[] = {{0.0004, 1}, {0.0005, 1}, {0.0015, 1},       {0.999, 999},
                        {2.5, 2500}, {-3, 1},     {std::nan(""), 1}, {1e300, 1000000000000000}};
    for (const row& r : rows) EXPECT_EQ(os::sleep_milliseconds(r.seconds), r.ms) << r.seconds;

    auto start = std::chrono::steady_clock::now();
    os::sleep_seconds(0.0004);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1));
}

TEST(OsServices, CurrentDirectory) {
    std::string before = os::current_dir_text();
    ASSERT_FALSE(before.empty());
    char pattern[] = "/tmp/zel-dir-é-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    ASSERT_TRUE(os::change_dir(pattern));
    char* real = realpath(pattern, nullptr);
    EXPECT_EQ(os::current_dir_text(), real);
    free(real);
    EXPECT_FALSE(os::change_dir("/nonexistent/zel"));
    EXPECT_FALSE(os::change_dir(std::string_view(".\0/tmp", 6)));
    ASSERT_TRUE(os::change_dir(before));
    rmdir(pattern);
}
