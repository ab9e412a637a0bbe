// Scanning one value from a string, for the conversions of the datatypes (word!, pair!, time! ...).
#pragma once
#include "runtime/cell.hpp"

namespace zel::scan_hook {

// Scans the whole text of the string with the lexer; answers false when the text is not exactly
// one value's worth of source (text left after the value, nothing scanned, or a syntax error).
// The value goes to `out`.
bool value_from_string(const cell* string, cell* out);

} // namespace zel::scan_hook
