// time!: a span or time of day as a float64 number of seconds (words 2-3), negative allowed; a
// float! in all but its text and fields. Its text also writes the time part of a date!.
#pragma once
#include "runtime/cell.hpp"

namespace zel::time {

// Hours truncated toward zero; minutes of the hour (0-59) of |t|. A time whose hour count does
// not fit 32 bits (or that is not finite) raises `type-limit`.
i32 hours_of(double seconds);
i32 minutes_of(double seconds);

// Fields: 1 hour (integer!), 2 minute (integer!), 3 second (float!).
void field_value(cell* out, double seconds, i32 field);
// The field of a word (hour, minute, second), else -1; when `value` is a time! another word
// raises `cannot-use` with the word and that value.
i32 field_index(const cell* word, const cell* value);
// The time with one field set. hour and minute take an integer!, second an integer! or float!;
// another value raises `invalid-arg`. A negative time keeps its sign: its magnitude is split,
// the field replaced (hour and second by the magnitude of the value, as they read back signed)
// and the sign put back, so that setting a field to the value it reads changes nothing.
double set_field(double seconds, i32 field, const cell* value);

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
