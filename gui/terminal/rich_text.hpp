// The styled cells of a rich-text face: one cell per character, then the face's `data` block of
// styles applied range by range (a pair start x length selects the range, counted in
// characters from 1).
#pragma once
#include <string>
#include <vector>

#include "gui/terminal/screen.hpp"
#include "runtime/cell.hpp"

namespace zel::tui {

// A tuple colour as a colour code (the palette rule; alpha 255 is the default colour).
u32 colour_of_tuple(const cell* tuple);

// Raises the draw error for a value that is no style.
std::vector<screen_cell> styled_cells(const std::u32string& text, const cell* styles, u32 fg,
                                      u32 bg);

} // namespace zel::tui
