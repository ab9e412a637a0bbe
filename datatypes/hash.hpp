// hash!: a block whose cells are also indexed by a hash index (hash kind, equal values chained)
// in word 3; the index covers the whole buffer, not only the part after the head.
#pragma once
#include "runtime/cell.hpp"

namespace zel::hash {

// Makes the slot a hash! over the block `block_node` (0: a new empty block of `size` cells, at
// least 1), indexing every cell of its buffer. The slot's head index is kept.
cell* init_cell(cell* slot, u32 block_node, u32 size);

void register_type();

} // namespace zel::hash
