// string!: the text value and the action handlers that file!, url!, tag!, email! and ref! inherit.
// Handlers work on a cell of the data stack (the result slot) and leave their result there; a
// buffer address is never held across anything that may allocate or run language code.
#pragma once
#include "runtime/cell.hpp"

namespace zel {

struct path_step;

namespace string {

// Appends one code point of a molded text: "^(HEX)", "^" with its escape letter, "^~", or the
// code point itself (with `all`, everything above 0x7F in the hexadecimal form).
void append_escaped_codepoint(cell* buffer, u32 code_point, bool all);

// The set natives on texts: the two series are the first two argument cells of the current
// frame. op: 8 unique, 9 union, 10 intersect, 11 exclude, 12 difference. `skip` is null or an
// integer! cell. Answers the result slot.
cell* set_operation(bool case_, cell* skip, i32 op);

} // namespace string

namespace string_type {

cell* make(cell* proto, cell* spec, u32 type);
cell* to(cell* proto, cell* spec, u32 type);
i32 form(cell* value, cell* buffer, cell* part, i32 limit);
i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent);
i32 compare(cell* value, cell* other, i32 op);
cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step);

// Search. The series cell is rewritten with the result (the position found, the selected
// element, or none) and answered.
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);

// Modification. `part` is a unit count (-1 when absent), `dup` a count (1 when absent).
void append(cell* series, cell* value, i32 part, bool only, i32 dup, bool notify);
void insert(cell* series, cell* value, i32 part, bool only, i32 dup, bool unused);
void change(cell* series, cell* value, i32 part, bool only, i32 dup);
cell* take(cell* series, cell* part, bool deep, bool last);
void swap(cell* series, cell* other);
void trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);
cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable);

void register_type();

} // namespace string_type
} // namespace zel
