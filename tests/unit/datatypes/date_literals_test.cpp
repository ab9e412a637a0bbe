// date!: day numbers and the lexer's makers against Python's datetime, the floor-division day
// numbers before year 1, and the date text with times and zones.
#include <gtest/gtest.h>

#include "datatypes/date.hpp"
#include "literal_helpers.hpp"

namespace zel {
namespace {

using test::mold_text;

cell fresh() {
    return cell{0, 0, 0, 0};
}

struct ymd {
    i32 y, m, d;
};
ymd fields_of(const cell& c) {
    return {date::packed::year(c.w1), date::packed::month(c.w1), date::packed::day(c.w1)};
}

TEST(DateDays, AgreeWithPythonOrdinalsIsoWeeksAndDaysOfYear) {
    auto lines = test::literal_oracle("days");
    if (lines.empty()) GTEST_SKIP() << "python3 not available";
    for (const std::string& line : lines) {
        auto f = test::fields(line);
        auto n = [&](std::size_t i) { return std::stoi(f[i]); };
        cell c = fresh();
        if (f[0] == "D") {
            EXPECT_EQ(date::day_number(n(1), n(2), n(3)), n(4)) << line;
            u32 p = date::from_day_number(n(4), 0x45, true);
            EXPECT_EQ(p, static_cast<u32>(n(1)) << 17 | u32(n(2)) << 12 | u32(n(3)) << 7 |
                             date::packed::has_time | 0x45)
                << line;
            continue;
        }
        ASSERT_TRUE(date::init_cell_fields(&c, n(1), 1, 1, 0, 0, 0, false));
        std::size_t at = 4; // where the expected date starts
        if (f[0] == "W") {
            date::from_iso_week(&c, n(2));
            date::from_weekday(&c, n(3));
        } else {
            date::from_day_of_year(&c, n(2));
            at = 3;
        }
        ymd got = fields_of(c);
        EXPECT_EQ(got.y, n(at)) << line;
        EXPECT_EQ(got.m, n(at + 1)) << line;
        EXPECT_EQ(got.d, n(at + 2)) << line;
    }
}

// Truncating division would give 29 February and 1 March of year 0 the same day number and shift
// every earlier date; floor division keeps consecutive days consecutive back to the lowest year.
TEST(DateDays, ConsecutiveAcrossYearZeroAndNegativeYears) {
    EXPECT_EQ(date::day_number(0, 3, 1), 0);
    EXPECT_EQ(date::day_number(0, 2, 29), -1);
    EXPECT_EQ(date::day_number(0, 1, 1), -60);
    EXPECT_EQ(date::day_number(-1, 12, 31), -61);
    i32 first = date::day_number(-16384, 1, 1);
    i32 last = date::day_number(16383, 12, 31);
    u32 previous = date::from_day_number(first, 0, false);
    EXPECT_EQ(date::packed::year(previous), -16384);
    for (i32 g = first + 1; g <= last; g++) {
        u32 p = date::from_day_number(g, 0, false);
        ASSERT_EQ(date::day_number_of(p), g);
        i32 y = date::packed::year(p), m = date::packed::month(p), d = date::packed::day(p);
        bool next_day = y == date::packed::year(previous) && m == date::packed::month(previous) &&
                        d == date::packed::day(previous) + 1;
        bool next_month =
            d == 1 &&
            ((m == date::packed::month(previous) + 1 && y == date::packed::year(previous)) ||
             (m == 1 && y == date::packed::year(previous) + 1));
        ASSERT_TRUE(next_day || next_month) << g;
        previous = p;
    }
    EXPECT_TRUE(date::leap(0));
    EXPECT_TRUE(date::leap(-4));
    EXPECT_FALSE(date::leap(-100));
}

struct date_row {
    i32 y, m, d;
    double time;
    i32 zone_hours, zone_minutes;
    bool has_time, west;
    const char* text;
};

TEST(DateText, DayMonthYearTimeAndZone) {
    date_row rows[] = {
        {2020, 1, 15, 0, 0, 0, false, false, "15-Jan-2020"},
        {2020, 1, 15, 37800, 0, 0, true, false, "15-Jan-2020/10:30:00"},
        {2020, 1, 15, 37800, 5, 30, true, false, "15-Jan-2020/10:30:00+05:30"},
        {2020, 1, 15, 3723.5, -3, 30, true, false, "15-Jan-2020/1:02:03.5-03:30"},
        {2020, 1, 15, 3600, 0, 0, true, true, "15-Jan-2020/1:00:00-00:00"},
        {2020, 1, 15, 3600, 0, 45, true, true, "15-Jan-2020/1:00:00-00:45"},
        {2020, 1, 15, 0, 15, 59, true, false, "15-Jan-2020/0:00:00+15:45"},
        {2020, 1, 15, 0, 5, 0, false, false, "15-Jan-2020"}, // no time: no zone shown
        {-5, 1, 1, 0, 0, 0, false, false, "1/Jan/-0005"},
        {99, 12, 31, 0, 0, 0, false, false, "31-Dec-0099"},
        {0, 2, 29, 0, 0, 0, false, false, "29-Feb-0000"},
        {100, 3, 1, 0, 0, 0, false, false, "1-Mar-100"},
        {-1234, 6, 30, 60, 1, 0, true, false, "30/Jun/-1234/0:01:00+01:00"},
        // Seconds that round up to the next day show as that day's 0:00:00.
        {2020, 12, 31, 86399.9999999, 0, 0, true, false, "1-Jan-2021/0:00:00"},
        {2020, 2, 28, 86399.9999999, 2, 0, true, false, "29-Feb-2020/0:00:00+02:00"},
    };
    for (const date_row& r : rows) {
        cell c = fresh();
        ASSERT_TRUE(date::init_cell_fields(&c, r.y, r.m, r.d, r.time, r.zone_hours, r.zone_minutes,
                                           r.has_time, r.west))
            << r.text;
        EXPECT_EQ(mold_text(c), r.text);
        EXPECT_EQ(test::form_text(c), r.text);
    }
}

TEST(DateText, StoredTimeIsLocalTimeMinusZone) {
    cell c = fresh();
    ASSERT_TRUE(date::init_cell_fields(&c, 2020, 1, 1, 1800, 1, 0, true));
    EXPECT_EQ(float_of(&c), -1800.0);
    EXPECT_EQ(date::packed::zone(c.w1), 1u << 2);
    ASSERT_TRUE(date::init_cell_fields(&c, 2020, 1, 1, 1800, 0, 30, true, true));
    EXPECT_EQ(float_of(&c), 3600.0);
    EXPECT_EQ(date::packed::zone(c.w1), date::packed::zone_west | 2u);
    ASSERT_TRUE(date::init_cell_fields(&c, 2020, 1, 1, 1800, 3, 0, false));
    EXPECT_EQ(float_of(&c), 0.0);
    EXPECT_EQ(c.w1 & date::packed::has_time, 0u);
}

TEST(DateText, MakerRefusesFieldsThatDoNotFit) {
    struct row {
        i32 y, m, d, zh, zm;
    } rows[] = {{2020, 13, 1, 0, 0}, {2020, 0, 1, 0, 0},   {2020, 1, 0, 0, 0},
                {2020, 1, 32, 0, 0}, {2020, 1, 1, 16, 0},  {2020, 1, 1, -16, 0},
                {2020, 1, 1, 0, 60}, {2020, 1, 1, 0, -15}, {16384, 1, 1, 0, 0},
                {-16385, 1, 1, 0, 0}};
    for (const row& r : rows) {
        cell c{type_id::integer, 0, 5, 0};
        EXPECT_FALSE(date::init_cell_fields(&c, r.y, r.m, r.d, 0, r.zh, r.zm, true));
        EXPECT_EQ(type_of(&c), type_id::integer);
    }
}

TEST(DateText, HmsMakerAndPackedMakers) {
    cell c = fresh();
    date::init_cell_hms(&c, 2024, 2, 29, 23, 59, 58, 500000000);
    EXPECT_EQ(mold_text(c), "29-Feb-2024/23:59:58.5");
    cell copy = fresh();
    date::init_cell(&copy, c.w1, float_of(&c));
    EXPECT_EQ(std::memcmp(&copy, &c, sizeof c), 0);
    test::held_cell block = test::block_of({});
    date::append_to_block(&block, c.w1, float_of(&c));
    EXPECT_EQ(mold_text(*head_cell(buffer_of(block.w2))), "29-Feb-2024/23:59:58.5");
}

TEST(DateText, AgreesWithPythonZones) {
    auto lines = test::literal_oracle("dates");
    if (lines.empty()) GTEST_SKIP() << "python3 not available";
    for (const std::string& line : lines) {
        auto halves = test::fields(line, '|');
        auto f = test::fields(halves[0]);
        auto n = [&](std::size_t i) { return std::stoi(f[i]); };
        u32 zone = (n(3) ? date::packed::zone_west : 0) | u32(n(4)) << 2 | u32(n(5));
        u32 packed = static_cast<u32>(n(0)) << 17 | u32(n(1)) << 12 | u32(n(2)) << 7 |
                     date::packed::has_time | zone;
        cell c = fresh();
        date::init_cell(&c, packed, std::strtod(f[6].c_str(), nullptr));
        EXPECT_EQ(mold_text(c), halves[1]) << line;
    }
}

TEST(DateText, MonthNamesComeFromTheList) {
    // The names are held on the data stack until the list holds them; the list is held here, as
    // the system object holds it in a running program. `names` keeps copies on the heap.
    gc::evacuation_hold hold;
    stack::mark m = stack::save();
    std::vector<cell> names;
    for (const char* name : {"Januar", "Februar", "Mä", "April", "Mai", "Juni", "Juli", "August",
                             "September", "Oktober", "November"}) {
        cell text = test::text_value(name);
        names.push_back(*stack::push_value(&text));
    }
    test::held_cell list = test::block_of(names);
    stack::restore(m);
    date::set_month_list(list.w2);
    cell c = fresh();
    ASSERT_TRUE(date::init_cell_fields(&c, 2021, 3, 1, 0, 0, 0, false));
    EXPECT_EQ(mold_text(c), "1-Mä-2021");
    ASSERT_TRUE(date::init_cell_fields(&c, 2021, 10, 1, 0, 0, 0, false));
    EXPECT_EQ(mold_text(c), "1-Okt-2021");
    // The list has no twelfth name.
    ASSERT_TRUE(date::init_cell_fields(&c, 2021, 12, 1, 0, 0, 0, false));
    EXPECT_EQ(test::raised([&] { mold_text(c); }), err::E("script", "invalid-months").code());
    date::set_month_list(0);
    EXPECT_EQ(mold_text(c), "1-Dec-2021");
}

} // namespace
} // namespace zel
