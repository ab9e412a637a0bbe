// vector!: a packed series of numbers of one element kind (word 3: char!, integer!, float! or
// percent!) and one width (the buffer's unit: 1, 2 or 4 bytes for char! and integer!, 4 or 8 for
// float! and percent!). A stored element always reads back as the value written: a value that
// does not fit the kind and width is refused, never truncated.
#pragma once
#include "runtime/cell.hpp"

namespace zel::vector {

// The element at a unit index as a value of the element kind.
void element_value(const cell* vector, u32 index, cell* out);
// Stores a value of exactly the element kind at a unit index (`invalid-arg` for another type,
// `out-of-range` for a value the element cannot hold).
void store_element(const cell* vector, u32 index, const cell* value);
// A new block! in `slot` holding the elements from the head.
cell* elements_to_block(cell* slot, const cell* vector);

void register_type();

} // namespace zel::vector
