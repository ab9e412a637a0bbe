// triple!: three signed 32-bit integers in words 1-3; it is only carried and printed.
#pragma once
#include "runtime/cell.hpp"

namespace zel::triple {

cell* init_cell(cell* slot, i32 a, i32 b, i32 c);

void register_type();

} // namespace zel::triple
