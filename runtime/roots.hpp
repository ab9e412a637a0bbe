// The root block: a block whose buffer lies outside the series frames and never moves; it holds
// the data stack's and frame stack's blocks, the symbol series and the other values that live for
// the whole run. The collector marks from it.
#pragma once
#include "runtime/cell.hpp"

namespace zel::roots {

constexpr u32 root_cells = 8755;

void set_up();
// The root block's own cell (a global, not a member of any block).
cell* root_block();
// Appends a value to the root block; answers the slot. The root buffer never moves, so the
// address stays valid for the life of the process.
cell* append(const cell* value);

} // namespace zel::roots
