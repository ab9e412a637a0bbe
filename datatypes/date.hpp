// date!: a proleptic Gregorian date with an optional time and zone in one cell. Word 1 is the
// packed date, words 2-3 the stored time: the local time of day minus the zone offset, so that
// stored time + zone offset lies in [0, 86400).
#pragma once
#include "runtime/cell.hpp"

namespace zel::date {

// The packed date word.
namespace packed {
constexpr u32 has_time = 0x10000; // the date carries a time and a zone
constexpr u32 zone_mask = 0x7F;   // sign 0x40, hours << 2, quarter hours
constexpr u32 zone_west = 0x40;   // negative offset (-00:00 is a zone of its own)
inline i32 year(u32 p) {
    return static_cast<i32>(p) >> 17;
}
inline i32 month(u32 p) {
    return (p >> 12) & 15;
}
inline i32 day(u32 p) {
    return (p >> 7) & 31;
}
inline u32 zone(u32 p) {
    return p & zone_mask;
}
} // namespace packed

// Day numbers count days from 1 March of year 0 (day 0), for any year the cell can hold.
i32 day_number(i32 year, i32 month, i32 day);
i32 day_number_of(u32 packed_date);
// The packed word of a day number, with the zone bits and the has-time flag as given.
u32 from_day_number(i32 day_number, u32 zone_bits, bool has_time);
bool leap(i32 year);
// Zone offset in seconds (west negative).
i32 zone_offset(u32 zone_bits);
double to_local_time(double stored, u32 zone_bits);
double to_stored_time(double local, u32 zone_bits);

// The lexer's maker. Zone: hours (negative for west) and minutes; `west` marks a west zone whose
// hours are 0 (-00:30, -00:00). Minutes are kept in quarter hours. With a time the stored time
// is `time` (local seconds) minus the zone offset; without it the time is 0. No day wrap is
// applied. Answers false, writing nothing, when a field does not fit the packed word: a year
// outside -16384..16383, a month outside 1-12, a day outside 1-31, zone hours above 15 or zone
// minutes outside 0-59.
bool init_cell_fields(cell* slot, i32 year, i32 month, i32 day, double time, i32 zone_hours,
                      i32 zone_minutes, bool has_time, bool west = false);
// Moves a date (keeping zone and time) to: the Monday of ISO week `week` of its year; the given
// weekday (1 Monday .. 7 Sunday) of its Monday-based week; day `n` of its year.
void from_iso_week(cell* date, i32 week);
void from_weekday(cell* date, i32 weekday);
void from_day_of_year(cell* date, i32 n);
// A date with time, zone 0 (file dates).
cell* init_cell_hms(cell* slot, i32 year, i32 month, i32 day, i32 hours, i32 minutes, i32 seconds,
                    i64 nanoseconds);
// Cells from a packed word and a stored time (serialized values).
cell* init_cell(cell* slot, u32 packed_date, double stored_time);
cell* push_new(u32 packed_date, double stored_time);
void append_to_block(cell* block, u32 packed_date, double stored_time);

// Derived values of the local date.
i32 day_of_year(u32 packed_date);
i32 weekday(i32 day_number); // 1 Monday .. 7 Sunday
// The day number of the Monday that begins ISO week 1 of the year.
i64 iso_week_one_start(i32 year);
i32 iso_week(u32 packed_date);
i32 week(u32 packed_date); // weeks from Sunday; week 1 holds 1 January

// Brings a stored time back under the date invariant (stored time + zone offset in [0, 86400)),
// moving the day number by the days it carries.
void wrap_day_for_zone(i64& day_number, double& time, u32 zone_bits);
// Stores `time` in the date (first turned from local time into stored time when `as_local`) and
// moves the date by the days it carries. A date leaving the years the cell holds raises
// math `overflow`.
void normalize(cell* date, double time, bool as_local);
// Seconds since 1 January 1970 UTC; beyond the 32-bit range raises math `overflow`.
i32 unix_seconds(const cell* date);
// The time! between two dates (a - b), written into a.
void time_between(cell* a, const cell* b);

// Field n (1-14) of a date; the field of a word (-1 for none).
void field_value(cell* out, const cell* date, i32 field);
i32 field_index(const cell* word);

// The block of month names that the text reads (system/locale/months); 0 uses the English names.
void set_month_list(u32 block_node);

void register_type();

} // namespace zel::date
