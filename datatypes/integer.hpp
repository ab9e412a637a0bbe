// integer!: the 32-bit signed integer. Its math core computes integer results itself, turns
// results that leave the 32-bit range (or inexact divisions) into float!, and hands mixed
// operations to the cores of the other number-like types.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::integer {

// The integer kernel: answers the 32-bit result; when the result does not fit (or a division is
// inexact) and a result cell is given, that cell becomes a float! and 0 is answered.
i32 arith_op(i32 a, i32 b, i32 operation, cell* result);
i32 absolute_checked(i32 n);
inline i32 sign_of(i32 n) { return (n > 0) - (n < 0); }
bool float_out_of_range(const cell* f);
bool float_out_of_range(double d);
// The decimal text (valid until the next call).
std::string_view to_decimal_text(i32 n);

cell* init_cell(cell* c, i32 n);
void append_to_block(cell* block, i32 n);
cell* push_new(i32 n);
void set_result(i32 n);
inline i32 payload(const cell* c) { return int_of(c); }

// The math core on the current frame (left operand in the result slot).
void math(i32 operation);

// Shared by char!.
i32 compare(cell* a, cell* b, i32 op);
i32 form(cell* value, cell* buffer, cell* part, i32 limit);
i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent);

void register_type();

} // namespace zel::integer
