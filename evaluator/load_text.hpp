// Loading source text into a block of values, bound to the global context (the start-up code
// loads the specs of natives and actions, and the embedded library, through it).
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::load_text {

// The values of the text in a new block (the cell), words bound to the global context; false
// when the text does not load.
bool block_from_text(std::string_view utf8, cell* out);
// The one block that the text holds (a spec written as "[...]").
bool spec_from_text(std::string_view utf8, cell* out);

} // namespace zel::load_text
