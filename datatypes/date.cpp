// date!. Day numbers use floor division throughout, so that dates before 1 March of year 0 keep
// their own day numbers (truncating division would fold them onto their neighbours).
#include "datatypes/date.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/random_values.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/scalar_common.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/time.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
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

// Day numbers of 1 January of the first and of the day after 31 December of the last year the
// packed word holds.
constexpr i64 first_day = -5984193; // 1-Jan--16384
constexpr i64 end_day = 5984073;    // 1-Jan-16384

// from_day_number for a day number that may leave the years the cell holds.
u32 pack_day(i64 day_number, u32 zone_bits, bool has_time) {
    if (day_number < first_day || day_number >= end_day) error::raise(err::E("math", "overflow"));
    return from_day_number(static_cast<i32>(day_number), zone_bits, has_time);
}

void move_to_day(cell* date, i64 day_number) {
    u32 p = date->w1;
    date->w1 = pack_day(day_number, packed::zone(p), p & packed::has_time);
}

i64 jan1(i32 year) {
    return day_number(year, 1, 1);
}

u32 month_list = 0;
const char* const english_months[12] = {"January",   "February", "March",    "April",
                                        "May",       "June",     "July",     "August",
                                        "September", "October",  "November", "December"};
} // namespace

namespace {
// Month 1-12; any year and day.
i64 day_number64(i64 year, i64 month, i64 day) {
    i64 m = (month + 9) % 12;
    i64 y = year - m / 10;
    return year_start(y) + (306 * m + 5) / 10 + (day - 1);
}
} // namespace

i32 day_number(i32 year, i32 month, i32 day) {
    return static_cast<i32>(day_number64(year, month, day));
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

i32 day_of_year(u32 p) {
    return static_cast<i32>(day_number_of(p) - jan1(packed::year(p)) + 1);
}

i32 weekday(i32 g) {
    return static_cast<i32>(floor_mod(i64(g) + 2, 7) + 1);
}

i64 iso_week_one_start(i32 year) {
    i64 j = jan1(year);
    i64 w = floor_mod(j + 2, 7) + 1;
    return w <= 4 ? j + 1 - w : j + 8 - w;
}

i32 iso_week(u32 p) {
    i32 year = packed::year(p);
    i64 g = day_number_of(p);
    i64 start = iso_week_one_start(year);
    if (g < start) return static_cast<i32>((g - iso_week_one_start(year - 1)) / 7 + 1);
    if (g >= iso_week_one_start(year + 1)) return 1;
    return static_cast<i32>((g - start) / 7 + 1);
}

i32 week(u32 p) {
    i64 j = jan1(packed::year(p));
    i64 e = floor_mod(j + 3, 7);
    i64 yd = day_of_year(p);
    return yd <= 7 - e ? 1 : static_cast<i32>((yd + e - 1) / 7 + 1);
}

void wrap_day_for_zone(i64& d, double& time, u32 zone_bits) {
    i32 offset = zone_offset(zone_bits);
    double h = std::trunc(time / 3600 + offset / 3600.0);
    if (!std::isfinite(h) || std::fabs(h) > 1e15) error::raise(err::E("math", "overflow"));
    i64 k = static_cast<i64>(h) / 24;
    time -= static_cast<double>(k) * 86400;
    d += k;
    if (time + offset < 0) {
        time += 86400;
        d -= 1;
    }
}

void normalize(cell* date, double time, bool as_local) {
    u32 p = date->w1;
    if (as_local) time = to_stored_time(time, packed::zone(p));
    i64 d = day_number_of(p);
    wrap_day_for_zone(d, time, packed::zone(p));
    date->w1 = pack_day(d, packed::zone(p), p & packed::has_time);
    set_float_payload(date, time);
}

i32 unix_seconds(const cell* date) {
    i64 days = i64(day_number_of(date->w1)) - day_number(1970, 1, 1);
    // Rounded half up: the stored time is negative in zones east of UTC.
    double rest = std::floor(float_of(date) + 0.5);
    if (!(std::fabs(rest) < 1e15)) error::raise(err::E("math", "overflow"));
    i64 seconds = days * 86400 + static_cast<i64>(rest);
    if (seconds < INT32_MIN || seconds > INT32_MAX) error::raise(err::E("math", "overflow"));
    return static_cast<i32>(seconds);
}

void time_between(cell* a, const cell* b) {
    double days = static_cast<double>(i64(day_number_of(a->w1)) - day_number_of(b->w1));
    double seconds = days * 86400 + (float_of(a) - float_of(b));
    a->header = 0;
    time::init_cell(a, seconds);
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

void field_value(cell* out, const cell* date, i32 field) {
    u32 p = date->w1;
    bool timed = p & packed::has_time;
    u32 zone = packed::zone(p);
    double local = to_local_time(float_of(date), zone);
    switch (field) {
    case 1:
        out->header = 0;
        write_cell(out, p & ~(packed::has_time | packed::zone_mask), 0.0);
        break;
    case 2: init_integer(out, packed::year(p)); break;
    case 3: init_integer(out, packed::month(p)); break;
    case 4: init_integer(out, packed::day(p)); break;
    case 5:
    case 12:
        if (!timed) init_none(out);
        else time::init_cell(out, zone_offset(zone));
        break;
    case 6:
        if (!timed) init_none(out);
        else time::init_cell(out, local);
        break;
    case 7:
    case 8:
    case 9: time::field_value(out, local, field - 6); break;
    case 10: init_integer(out, weekday(day_number_of(p))); break;
    case 11: init_integer(out, day_of_year(p)); break;
    case 13: init_integer(out, week(p)); break;
    default: init_integer(out, iso_week(p)); break;
    }
}

i32 field_index(const cell* word) {
    static const u32* const fields[] = {&sym::date,    &sym::year,     &sym::month,   &sym::day,
                                        &sym::zone,    &sym::time,     &sym::hour,    &sym::minute,
                                        &sym::second,  &sym::weekday,  &sym::yearday, &sym::timezone,
                                        &sym::week,    &sym::isoweek};
    for (i32 i = 0; i < 14; i++)
        if (scalar::is_word_for(word, *fields[i])) return i + 1;
    if (scalar::is_word_for(word, sym::julian)) return 11;
    return -1;
}

namespace {
// The year and month of a month count that may run past either end of the year.
void set_month(cell* date, i64 month) {
    u32 p = date->w1;
    i64 year = packed::year(p) + floor_div(month - 1, 12);
    month = floor_mod(month - 1, 12) + 1;
    move_to_day(date, day_number64(year, month, packed::day(p)));
}

// Zone bits of an integer (hours, rem 16) or a time! (reduced mod 16 hours; whole quarters).
u32 zone_bits_from(const cell* value) {
    i64 hours, minutes;
    bool west;
    if (type_of(value) == type_id::integer) {
        hours = int_of(value) % 16;
        minutes = 0;
        west = hours < 0;
    } else {
        double t = std::fmod(float_of(value), 57600);
        hours = time::hours_of(t);
        minutes = time::minutes_of(t);
        // The sign comes from the time, so that -0:30 is a west zone.
        west = t < 0;
    }
    if (hours < 0) hours = -hours;
    u32 bits = static_cast<u32>(hours << 2 | ((minutes / 15) & 3));
    if (west && bits) bits |= packed::zone_west;
    return bits;
}

void set_field(cell* date, i32 field, const cell* value) {
    u32 vt = type_of(value);
    bool accepted;
    switch (field) {
    case 1: accepted = vt == type_id::date; break;
    case 5:
    case 12: accepted = vt == type_id::integer || vt == type_id::time; break;
    case 6: accepted = vt == type_id::time || vt == type_id::none; break;
    case 9: accepted = vt == type_id::integer || vt == type_id::float_; break;
    default: accepted = vt == type_id::integer; break;
    }
    if (!accepted) error::raise(err::E("script", "invalid-arg"), value);
    u32 p = date->w1;
    u32 zone = packed::zone(p);
    i64 n = vt == type_id::integer ? int_of(value) : 0;
    switch (field) {
    case 1: {
        u32 q = value->w1;
        bool timed = q & packed::has_time;
        date->w1 = (q & ~(packed::has_time | packed::zone_mask)) | zone |
                   (timed ? packed::has_time : 0);
        // A date without time keeps no hidden time that arithmetic would bring back.
        if (!timed) set_float_payload(date, 0.0);
        break;
    }
    case 2:
        move_to_day(date, day_number64(n, packed::month(p), packed::day(p)));
        break;
    case 3: set_month(date, n); break;
    case 4: move_to_day(date, day_number64(packed::year(p), packed::month(p), 1) - 1 + n); break;
    case 5:
    case 12: {
        date->w1 |= packed::has_time;
        u32 bits = zone_bits_from(value);
        double stored = float_of(date);
        date->w1 = (date->w1 & ~packed::zone_mask) | bits;
        if (field == 5) {
            // The local time stays; the instant moves.
            set_float_payload(date, to_stored_time(to_local_time(stored, zone), bits));
        } else {
            // The instant stays; the local date and time move into the new zone.
            normalize(date, to_local_time(stored, bits), true);
        }
        break;
    }
    case 6:
        if (vt == type_id::none) {
            date->w1 &= ~packed::has_time;
            set_float_payload(date, 0.0);
        } else {
            date->w1 |= packed::has_time;
            normalize(date, float_of(value), true);
        }
        break;
    case 7:
    case 8:
    case 9: {
        // Set on the local time, so that quarter-hour zones keep their minutes.
        double local = time::set_field(to_local_time(float_of(date), zone), field - 6, value);
        date->w1 |= packed::has_time;
        normalize(date, local, true);
        break;
    }
    case 10: from_weekday(date, static_cast<i32>(n)); break;
    case 11: from_day_of_year(date, static_cast<i32>(n)); break;
    case 13: {
        i64 j = jan1(packed::year(p));
        i64 e = floor_mod(j + 3, 7);
        move_to_day(date, n > 1 ? j + 7 * n - e - 7 : j);
        break;
    }
    default: from_iso_week(date, static_cast<i32>(n)); break;
    }
}

cell path_value;

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    i32 n = -1;
    if (type_of(element) == type_id::integer) {
        if (int_of(element) >= 1 && int_of(element) <= 14) n = int_of(element);
    } else {
        n = field_index(element);
    }
    if (n < 0) {
        cell path;
        if (step.path) path = *step.path;
        else init_none(&path);
        error::raise(err::E("script", "invalid-path"), &path, element);
    }
    if (!value) {
        field_value(&path_value, parent, n);
        return &path_value;
    }
    path_value = *value;
    cell changed = *parent;
    set_field(&changed, n, &path_value);
    *parent = changed;
    scalar::store_back(parent, step);
    return &path_value;
}

cell* pick(cell* value, i32, cell* index) {
    i32 n = -1;
    if (type_of(index) == type_id::integer) {
        if (int_of(index) >= 1 && int_of(index) <= 14) n = int_of(index);
    } else {
        n = field_index(index);
    }
    if (n < 0) error::raise(err::E("script", "out-of-range"), index);
    field_value(&path_value, value, n);
    return &path_value;
}

[[noreturn]] void bad_to(const cell* value) {
    cell t;
    init_datatype(&t, type_id::date);
    error::raise(err::E("script", "bad-to-arg"), &t, value);
}

// [day month year], then a time! or hour [minute [second]], then a zone as a time! or zone
// hours [zone minutes]. make refuses a date that needed normalising; to accepts it.
void from_block(cell* out, const cell* spec, bool check) {
    series_buffer* b = buffer_of(spec->w2);
    u32 len = used_units(b);
    u32 head = spec->w1 < len ? spec->w1 : len;
    u32 count = len - head;
    const cell* values = head_cell(b) + head;
    // next[state][kind]: kinds integer!, time!, float!; -1 refuses the value.
    static const signed char next[14][3] = {{1, -1, -1}, {2, -1, -1},  {3, -1, -1}, {8, 4, -1},
                                   {6, 5, -1},  {-1, -1, -1}, {7, -1, -1}, {-1, -1, -1},
                                   {9, -1, -1}, {10, -1, 10}, {12, 11, -1}, {-1, -1, -1},
                                   {13, -1, -1}, {-1, -1, -1}};
    i64 day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0, zone_hours = 0,
        zone_minutes = 0;
    double fsecond = 0, time_value = 0, zone_time = 0;
    bool hms = false, time_given = false, zone_as_time = false;
    i32 state = 0;
    if (count < 3) bad_to(spec);
    for (u32 i = 0; i < count; i++) {
        const cell* v = values + i;
        u32 vt = type_of(v);
        i32 kind = vt == type_id::integer ? 0 : vt == type_id::time ? 1 : vt == type_id::float_ ? 2 : -1;
        if (kind < 0) bad_to(spec);
        i32 to = next[state][kind];
        if (to < 0) bad_to(spec);
        i64 n = kind == 0 ? int_of(v) : 0;
        switch (to) {
        case 1: day = n; break;
        case 2: month = n; break;
        case 3: year = n; break;
        case 4: time_value = float_of(v); time_given = true; break;
        case 5:
        case 11: zone_time = float_of(v); zone_as_time = true; break;
        case 6:
        case 12: zone_hours = n; break;
        case 7:
        case 13: zone_minutes = n; break;
        case 8: hour = n; hms = true; break;
        case 9: minute = n; break;
        default:
            if (kind == 2) fsecond = float_of(v);
            else second = n;
            break;
        }
        state = to;
    }
    if (day > 99 && year < day) std::swap(day, year);
    bool west = zone_hours < 0;
    if (zone_as_time) {
        zone_hours = time::hours_of(zone_time);
        zone_minutes = time::minutes_of(zone_time);
        west = zone_time < 0;
    }
    if (zone_hours < 0) zone_hours = -zone_hours;
    // Zones of 16 hours and more, or minutes outside the hour, do not fit the zone bits.
    if (zone_hours > 15 || zone_minutes < 0 || zone_minutes > 59) bad_to(spec);
    u32 zone = static_cast<u32>(zone_hours << 2 | zone_minutes / 15);
    if (west && zone) zone |= packed::zone_west;
    double t = 0;
    if (hms) t = hour * 3600.0 + minute * 60.0 + (fsecond != 0 ? fsecond : static_cast<double>(second));
    else if (time_given) t = time_value;
    if (!std::isfinite(t)) bad_to(spec);
    out->header = 0;
    write_cell(out, pack(0, 1, 1, 0, count > 3), 0.0);
    i64 y = year + floor_div(month - 1, 12);
    i64 m = floor_mod(month - 1, 12) + 1;
    if (y < -16384 || y > 16383) error::raise(err::E("math", "overflow"));
    move_to_day(out, day_number64(y, m, 1) - 1 + day);
    normalize(out, t, false);
    if (check) {
        u32 p = out->w1;
        double stored = float_of(out);
        i64 given_minute = time_given ? time::minutes_of(time_value) : minute;
        bool same_date = packed::year(p) == year && packed::month(p) == month && packed::day(p) == day;
        bool time_ok = t != 0 ? time::hours_of(stored) >= 0 && time::hours_of(stored) <= 23 &&
                                    time::minutes_of(stored) == given_minute
                              : hour == 0 && minute == 0;
        if (!same_date || !time_ok) bad_to(spec);
    }
    out->w1 = (out->w1 & ~packed::zone_mask) | zone;
    normalize(out, float_of(out), true);
}

cell* make(cell* proto, cell* spec, u32) {
    u32 st = type_of(spec);
    if (st == type_id::date) return spec;
    if (st != type_id::block && st != type_id::paren && st != type_id::hash) bad_to(spec);
    cell result;
    from_block(&result, spec, true);
    *proto = result;
    return proto;
}

cell* to(cell* proto, cell* spec, u32) {
    u32 st = type_of(spec);
    if (st == type_id::date) return spec;
    cell result;
    result.header = 0;
    if (st == type_id::block || st == type_id::paren || st == type_id::hash) {
        from_block(&result, spec, false);
    } else if (st == type_id::integer) {
        i64 n = int_of(spec);
        write_cell(&result, from_day_number(static_cast<i32>(n / 86400 + day_number(1970, 1, 1)), 0, true),
                   static_cast<double>(n % 86400));
        if (n < 0) normalize(&result, float_of(&result), false);
    } else {
        bad_to(spec);
    }
    *proto = result;
    return proto;
}

i32 compare(cell* a, cell* b, i32 op) {
    if (type_of(b) != type_id::date) return -2;
    i32 ya = static_cast<i32>(a->w1 & ~packed::has_time) >> 7;
    i32 yb = static_cast<i32>(b->w1 & ~packed::has_time) >> 7;
    double ta = float_of(a), tb = float_of(b);
    namespace cop = actions::compare_op;
    if (op == cop::same) return ya == yb && a->w2 == b->w2 && a->w3 == b->w3 ? 0 : 1;
    bool equal = ya == yb && float_::near_equal(ta, tb);
    if (op == cop::equal || op == cop::not_equal || op == cop::strict_equal || op == cop::find)
        return equal ? 0 : 1;
    if (equal) return 0;
    if (ya != yb) return ya < yb ? -1 : 1;
    return ta < tb ? -1 : 1;
}

// The date arithmetic on the current frame: the date, then days (integer!), seconds (time!) or,
// for subtraction, another date.
void math_op(i32 operation) {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    u32 rt = type_of(right);
    u32 p = left->w1;
    bool timed = p & packed::has_time;
    i64 days = 0;
    double seconds = 0;
    switch (rt) {
    case type_id::integer: days = int_of(right); break;
    case type_id::time:
        seconds = float_of(right);
        timed = true;
        break;
    case type_id::date:
        if (operation == cores::op::add) cores::raise_not_related("add", type_id::date);
        days = day_number_of(right->w1);
        seconds = float_of(right);
        break;
    default: cores::raise_invalid_type(rt);
    }
    bool subtract = operation == cores::op::subtract;
    i64 d = day_number_of(p) + (subtract ? -days : days);
    double t = float_of(left) + (subtract ? -seconds : seconds);
    if (rt == type_id::date) {
        // Whole days between the two instants, rounded down; the zones are already in the
        // stored times.
        double whole = std::floor(t / 86400);
        i64 result = d + static_cast<i64>(whole);
        if (!std::isfinite(whole) || result < INT32_MIN || result > INT32_MAX)
            error::raise(err::E("math", "overflow"));
        init_integer(left, static_cast<i32>(result));
        return;
    }
    u32 zone = packed::zone(p);
    wrap_day_for_zone(d, t, zone);
    u32 q = pack_day(d, zone, timed);
    write_cell(left, q, t);
}

template <i32 Op> void math_entry() { math_op(Op); }
} // namespace

void register_type() {
    cores::date_math = math_op;
    cores::date_unix_seconds = unix_seconds;
    datatype::register_row(action_row{.type = type_id::date,
                                      .parent = 0,
                                      .name = "date!",
                                      .make = make,
                                      .random = random_values::date,
                                      .to = to,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = eval_path,
                                      .compare = compare,
                                      .add = math_entry<cores::op::add>,
                                      .subtract = math_entry<cores::op::subtract>,
                                      .pick = pick});
}

} // namespace zel::date
