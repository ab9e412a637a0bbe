// binary!: the byte series (a string-family series cell whose buffer has 1-byte units; word 1 the
// head index, word 2 the buffer's node). The bytes of a value run from its head to the tail.
#pragma once
#include "runtime/cell.hpp"

namespace zel::binary {

// An empty binary! with room for `capacity` bytes (16 when 0), head 0.
cell* init_cell_bytes(cell* slot, u32 capacity);
// A binary! over an existing byte series (a decoder's result), head 0.
cell* init_cell_series(cell* slot, u32 node);
// A binary! of exactly these bytes: in the slot, at a block's tail (null: on the data stack).
cell* init_cell_from_bytes(cell* slot, const u8* bytes, u32 count);
cell* new_from_bytes(cell* block, const u8* bytes, u32 count);
cell* push_from_bytes(const u8* bytes, u32 count);

void register_type();

} // namespace zel::binary
