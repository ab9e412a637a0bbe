// String-to-number converters shared by the lexer and the datatypes' conversions.
#pragma once
#include "runtime/arena.hpp"

namespace zel::convert {

// Parses a 32-bit integer with an optional sign from text units of the given width (1, 2 or 4
// bytes); apostrophes are skipped; -2147483648 is accepted. `failed` is set when the text is not
// an integer (empty, a stray character, or out of range).
i32 string_to_integer(const u8* text, u32 length, u32 unit, bool& failed);

} // namespace zel::convert
