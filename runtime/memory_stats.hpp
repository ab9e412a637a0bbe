// Memory statistics: the bytes the language uses, or a description of every frame, read from
// the memory manager's lists. Automatic collection is held off while the figures are gathered.
#pragma once
#include "runtime/cell.hpp"

namespace zel::memory {

// Mode 1 answers the bytes in use: 4 per used node, the used bytes of every series frame and the
// size of every big series (the parent is not touched). Modes 2 and 3 append five values to the
// parent block and answer its cell: a block of [free used total] blocks per node frame (in
// nodes), one per series frame in address order (in bytes), a block of the big series' sizes,
// then the bytes of all frames and blocks, and the bytes of the tracked allocator. Each per-frame
// block and each size starts on a new line. The parent must be a rooted cell.
cell usage_stats(cell* parent, u32 mode);

// integer! up to 2147483647, float! above.
cell number_cell(u64 n);

} // namespace zel::memory
