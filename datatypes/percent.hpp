// percent!: a float! shown as a percentage; words 2-3 hold the fraction (50% is 0.5).
#pragma once
#include "runtime/cell.hpp"

namespace zel::percent {

// Write the whole header word (flags cleared).
cell* init_cell(cell* slot, double fraction);
cell* init_cell_halves(cell* slot, u32 low, u32 high);
void append_to_block(cell* block, double fraction);
void append_to_block_halves(cell* block, u32 low, u32 high);

void register_type();

} // namespace zel::percent
