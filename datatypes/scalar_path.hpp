// Field setting through paths on values held in the cell itself (time!, date!): the path walk
// works on a copy of the value, so the changed value has to be written back to where the walk
// took it from.
#pragma once
#include "datatypes/registry.hpp"

namespace zel::scalar_path {

// Stores `changed` where the path step found its parent: in the variable of the path's first
// word, or as the element of the value before the parent (through that value's own eval-path,
// so an object's on-change* handler and a series owner hear of it as for any other setting).
void store_back(const cell* changed, const path_step& step);

// True when the element is a word for the symbol (any case).
bool is_word_for(const cell* element, u32 symbol);

} // namespace zel::scalar_path
