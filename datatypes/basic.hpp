// datatype!, unset!, none! and logic!: their cell makers, the truth rules every condition uses,
// and their action rows.
#pragma once
#include "runtime/cell.hpp"

namespace zel {

namespace datatype {
void append_to_block(cell* block, u32 type);
cell* push_new(u32 type);
void register_type();
} // namespace datatype

namespace unset {
extern const cell value; // the global unset cell
void set_result();
void append_to_block(cell* block);
cell* push_new();
void register_type();
} // namespace unset

namespace none {
void set_result();
void append_to_block(cell* block);
cell* push_new();
void register_type();
} // namespace none

namespace logic {
extern const cell true_value;
extern const cell false_value;
void set_result(bool truth);
void append_to_block(cell* block, bool truth);
cell* push_new(bool truth);
inline u32 payload(const cell* c) { return c->w1; }
// false for none! and logic! false, true for every other value; with check, an unset! value
// raises `no-value` with the word.
bool value_is_true(const cell* value, bool check = false, const cell* word = nullptr);
// The same test on the result slot; an unset! result raises `no-return`.
bool result_is_true_checked();
bool result_is_false();
bool top_is_true();
void register_type();
} // namespace logic

// Truth without checks: the rule of every condition.
inline bool is_truthy(const cell* v) {
    u32 t = type_of(v);
    return !(t == type_id::none || (t == type_id::logic && v->w1 == 0));
}

} // namespace zel
