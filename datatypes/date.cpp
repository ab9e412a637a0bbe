// date!. Day numbers use floor division throughout, so that dates before 1 March of year 0 keep
// their own day numbers (truncating division would fold them onto their neighbours).
#include "datatypes/date.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "datatypes/integer.hpp"
#include "datatypes/random_values.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/time.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::date {

namespace {
i64 floor_div(i64 a, i64 b) {
    i64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
i64 floor_mod(i64 a, i64 b) {
    return a - floor_div(a, b) * b;
}

// Days from 1 March of year 0 to 1 March of the year y'.
i64 year_start(i64 y) {
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

u32 zone_bits_of(i32 zone_hours, i32 zone_minutes, bool west) {
    u32 hours = static_cast<u32>(zone_hours < 0 ? -zone_hours : zone_hours);
    u32 bits = hours << 2 | static_cast<u32>(zone_minutes / 15);
    if (zone_hours < 0 || west) bits |= packed::zone_west;
    return bits;
}

u32 pack(i32 year, i32 month, i32 day, u32 zone_bits, bool has_time) {
    return static_cast<u32>(year) << 17 | static_cast<u32>(month) << 12 |
           static_cast<u32>(day) << 7 | (has_time ? packed::has_time : 0) |
           (zone_bits & packed::zone_mask);
}

cell* write_cell(cell* slot, u32 packed_date, double stored_time) {
    u32 newline = slot->header & cell_flag::newline;
    *slot = {newline | type_id::date, packed_date, 0, 0};
    set_float_payload(slot, stored_time);
    return slot;
}

void move_to_day(cell* date, i64 day_number) {
    u32 p = date->w1;
    date->w1 = from_day_number(static_cast<i32>(day_number), packed::zone(p), p & packed::has_time);
}

i64 jan1(i32 year) {
    return day_number(year, 1, 1);
}

u32 month_list = 0;
const char* const english_months[12] = {"January",   "February", "March",    "April",
                                        "May",       "June",     "July",     "August",
                                        "September", "October",  "November", "December"};
} // namespace

i32 day_number(i32 year, i32 month, i32 day) {
    i64 m = (month + 9) % 12;
    i64 y = i64(year) - m / 10;
    return static_cast<i32>(year_start(y) + (306 * m + 5) / 10 + (day - 1));
}

i32 day_number_of(u32 p) {
    return day_number(packed::year(p), packed::month(p), packed::day(p));
}

u32 from_day_number(i32 g, u32 zone_bits, bool has_time) {
    i64 y = floor_div(10000 * i64(g) + 14780, 3652425);
    i64 r = g - year_start(y);
    if (r < 0) {
        y--;
        r = g - year_start(y);
    }
    i64 mi = (100 * r + 52) / 3060;
    i64 month = (mi + 2) % 12 + 1;
    i64 year = y + (mi + 2) / 12;
    i64 day = r - (306 * mi + 5) / 10 + 1;
    return pack(static_cast<i32>(year), static_cast<i32>(month), static_cast<i32>(day), zone_bits,
                has_time);
}

bool leap(i32 year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

i32 zone_offset(u32 zone_bits) {
    i32 seconds =
        static_cast<i32>((zone_bits >> 2) & 15) * 3600 + static_cast<i32>(zone_bits & 3) * 900;
    return zone_bits & packed::zone_west ? -seconds : seconds;
}

double to_local_time(double stored, u32 zone_bits) {
    return stored + zone_offset(zone_bits);
}
double to_stored_time(double local, u32 zone_bits) {
    return local - zone_offset(zone_bits);
}

bool init_cell_fields(cell* slot, i32 year, i32 month, i32 day, double time, i32 zone_hours,
                      i32 zone_minutes, bool has_time, bool west) {
    if (year < -16384 || year > 16383 || month < 1 || month > 12 || day < 1 || day > 31)
        return false;
    if (zone_hours < -15 || zone_hours > 15 || zone_minutes < 0 || zone_minutes > 59) return false;
    u32 zone = zone_bits_of(zone_hours, zone_minutes, west);
    write_cell(slot, pack(year, month, day, zone, has_time),
               has_time ? to_stored_time(time, zone) : 0.0);
    return true;
}

void from_iso_week(cell* date, i32 week) {
    i64 j = jan1(packed::year(date->w1));
    i64 w = floor_mod(j + 2, 7) + 1;
    i64 start = w <= 4 ? j + 1 - w : j + 8 - w;
    move_to_day(date, start + 7 * i64(week) - 7);
}

void from_weekday(cell* date, i32 weekday) {
    i64 d = day_number_of(date->w1);
    move_to_day(date, d + weekday - 1 - floor_mod(d + 2, 7));
}

void from_day_of_year(cell* date, i32 n) {
    move_to_day(date, jan1(packed::year(date->w1)) + n - 1);
}

cell* init_cell_hms(cell* slot, i32 year, i32 month, i32 day, i32 hours, i32 minutes, i32 seconds,
                    i64 nanoseconds) {
    double t = hours * 3600.0 + minutes * 60.0 + seconds + nanoseconds * 0.000000001;
    return write_cell(slot, pack(year, month, day, 0, true), t);
}

cell* init_cell(cell* slot, u32 packed_date, double stored_time) {
    return write_cell(slot, packed_date, stored_time);
}

cell* push_new(u32 packed_date, double stored_time) {
    cell* c = stack::reserve_slot();
    c->header = 0;
    return write_cell(c, packed_date, stored_time);
}

void append_to_block(cell* block, u32 packed_date, double stored_time) {
    cell* c = memory::append_cell_slot(block);
    c->header = 0;
    write_cell(c, packed_date, stored_time);
}

void set_month_list(u32 block_node) {
    month_list = block_node;
}

namespace {
// Appends the first three characters of the month's name.
i32 append_month(cell* buffer, i32 month, i32 limit) {
    if (!month_list) {
        if (month < 1 || month > 12) error::raise(err::E("script", "invalid-months"));
        return out::text(buffer, std::string_view(english_months[month - 1], 3), limit);
    }
    series_buffer* b = buffer_of(month_list);
    if (month < 1 || static_cast<u32>(month) > used_units(b))
        error::raise(err::E("script", "invalid-months"));
    cell name = head_cell(b)[month - 1];
    if (type_of(&name) != type_id::string) error::raise(err::E("script", "invalid-months"));
    i32 length = static_cast<i32>(string::units_from_head(&name));
    string::append_text_part(buffer, &name, 3, true);
    return limit - (length < 3 ? length : 3);
}

i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    u32 p = value->w1;
    bool has_time = p & packed::has_time;
    double local = 0;
    if (has_time) {
        // A time whose seconds round up to the next day shows as 0:00:00 of that day.
        local = time::shown_seconds(to_local_time(float_of(value), packed::zone(p)));
        if (local >= 86400) {
            local -= 86400;
            p = from_day_number(day_number_of(p) + 1, packed::zone(p), true);
        }
    }
    i32 year = packed::year(p);
    const char* separator = year < 0 ? "/" : "-";
    limit = out::text(buffer, integer::to_decimal_text(packed::day(p)), limit);
    limit = out::text(buffer, separator, limit);
    limit = append_month(buffer, packed::month(p), limit);
    limit = out::text(buffer, separator, limit);
    char text[16];
    // Years up to 99 take four digits so that they read back as years, not as short years.
    i32 magnitude = year < 0 ? -year : year;
    std::snprintf(text, sizeof text, magnitude <= 99 ? "%s%04d" : "%s%d", year < 0 ? "-" : "",
                  magnitude);
    limit = out::text(buffer, text, limit);
    if (!has_time) return limit;
    limit = out::text(buffer, "/", limit);
    limit = time::append_text(local, buffer, limit);
    u32 zone = packed::zone(p);
    if (zone == 0) return limit;
    std::snprintf(text, sizeof text, "%c%02u:%02u", zone & packed::zone_west ? '-' : '+',
                  (zone >> 2) & 15, (zone & 3) * 15);
    return out::text(buffer, text, limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::date,
                                      .parent = 0,
                                      .name = "date!",
                                      .random = random_values::date,
                                      .form = form,
                                      .mold = mold});
}

} // namespace zel::date
