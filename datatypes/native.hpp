// native!, action! and op!: built-in functions found through the natives table or the generic
// action table by index, and infix operators made from a two-argument callable. A native! or
// action! cell holds its table index (word 1), its spec block's node (word 2) and a two-cell side
// series (word 3: its stack context's cell and the argument descriptor once made).
#pragma once
#include "runtime/cell.hpp"

namespace zel::native_value {

// Makes a native! or action! over table index `index` (0-based) with the spec block in the given
// cell (which stays on the data stack meanwhile); pushes the new value.
void make_callable(u32 type, u32 index, cell* spec);

void register_types(); // native!, action!, op!

} // namespace zel::native_value
