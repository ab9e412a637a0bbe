// time!: a span or time of day as a float64 number of seconds (words 2-3), negative allowed; a
// float! in all but its text and fields. Its text also writes the time part of a date!.
#pragma once
#include "runtime/cell.hpp"

namespace zel::time {

// Hours truncated toward zero; minutes of the hour (0-59) of |t|.
i32 hours_of(double seconds);
i32 minutes_of(double seconds);

// Cell makers. init_cell writes the whole header (the new-line mark of the slot is kept).
cell* init_cell(cell* slot, double seconds);
cell* push_new(double seconds);
void append_to_block(cell* block, double seconds);

// The seconds the text shows: t, or the next whole minute when the seconds of t round up to 60
// in the text (so that 0:59:59.9999999 shows as 1:00:00, never as 0:59:60).
double shown_seconds(double seconds);
// Appends the text of the time ("-1:30:00", "1:02:03.5"); answers the limit less the characters
// written.
i32 append_text(double seconds, cell* buffer, i32 limit);

void register_type();

} // namespace zel::time
