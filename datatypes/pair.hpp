// pair!: two signed 32-bit integers, x in word 2 and y in word 3 (word 1 is 0), written 10x20.
#pragma once
#include "runtime/cell.hpp"

namespace zel::pair {

// Sets the type keeping the slot's header bits 8-31.
cell* init_cell(cell* slot, i32 x, i32 y);
cell* push_new(i32 x, i32 y);
void append_to_block(cell* block, i32 x, i32 y);

void register_type();

} // namespace zel::pair
