// Copies of block-kind series: one level, or deep (nested blocks, parens and paths copied too).
#pragma once
#include "runtime/cell.hpp"

namespace zel::block_copy {

// A new block of the same type holding the cells from the head to the tail.
cell shallow(const cell* block);
// The same, every nested block, paren and path copied too.
cell deep(const cell* block);

} // namespace zel::block_copy
