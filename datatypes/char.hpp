// char!: one Unicode code point (0 to 0x10FFFF) as a value, kept in payload word 2. It takes part
// in integer arithmetic through integer!'s core, and every result is range-checked.
#pragma once
#include "runtime/cell.hpp"

namespace zel::char_ {

cell* push_new(u32 code_point);
void append_to_block(cell* block, u32 code_point);

// make and to share one handler.
cell* make(cell* proto, cell* spec, u32 type);
i32 form(cell* value, cell* buffer, cell* part, i32 limit);
i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent);
i32 compare(cell* value, cell* other, i32 op);
// The arithmetic on the current frame (left operand in the result slot), with integer!'s
// operation codes: 0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder, 5 or, 6 and, 7 xor.
void math_op(i32 operation);

void register_type();

} // namespace zel::char_
