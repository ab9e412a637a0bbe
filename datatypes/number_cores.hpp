// The arithmetic cores of the number-like types. The integer! and float! cores hand mixed
// operations to the core of the other operand's type; a type's unit installs its core when it
// registers. Every core works on the current frame: the left operand in the result slot, the
// right operand in the next argument cell, the result left in the result slot.
#pragma once
#include "runtime/cell.hpp"

namespace zel::cores {

namespace op {
enum : i32 { add = 0, subtract = 1, multiply = 2, divide = 3, remainder = 4, or_ = 5, and_ = 6, xor_ = 7 };
}

using math_fn = void (*)(i32 operation);
// (operation, vector, scalar): the vector core's scalar operation; answers the new vector.
using vector_scalar_fn = void (*)(i32 operation, cell* vector, cell* scalar, cell* result);
// Compares a money! with another value under a compare op.
using money_compare_fn = i32 (*)(cell* money, cell* other, i32 op);
using money_of_fn = void (*)(cell* target, double value);

extern math_fn float_math;
extern math_fn money_math;
extern math_fn tuple_math;
extern math_fn pair_math;
extern math_fn point2d_math;
extern math_fn point3d_math;
extern math_fn date_math;
extern vector_scalar_fn vector_math;
extern money_compare_fn money_compare;
extern money_of_fn money_of_float;
extern money_of_fn money_of_integer;
// The seconds since 1970 of a date!, the integer part of a money!.
extern i32 (*date_unix_seconds)(const cell* date);
extern i32 (*money_as_integer)(const cell* money);
extern double (*money_as_double)(const cell* money);

// `not-related` with the action word and the datatype, `invalid-type` with the datatype.
[[noreturn]] void raise_not_related(const char* action, u32 type);
[[noreturn]] void raise_invalid_type(u32 type);

} // namespace zel::cores
