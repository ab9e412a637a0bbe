// Output helpers of the form and mold handlers: each appends text to the output string and
// answers the part limit less the characters written.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::out {

// Appends ASCII (or Latin-1 byte) text.
i32 text(cell* buffer, std::string_view s, i32 limit);
// Appends one code point.
i32 codepoint(cell* buffer, u32 cp, i32 limit);
// A new empty string! in the given cell (room for n bytes).
cell* new_string(cell* target, u32 n = 16);

} // namespace zel::out
