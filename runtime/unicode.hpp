// Unicode encodings (UTF-8, UTF-16LE) and simple case mapping.
#pragma once
#include "runtime/arena.hpp"

namespace zel::case_ {

// Builds the dense upper- and lower-case tables (start-up, after the first frames).
void build_tables();
// The mapped code point, or the code point itself when it has no mapping.
u32 map_codepoint(u32 code_point, bool to_upper);
inline u32 to_upper(u32 cp) { return map_codepoint(cp, true); }
inline u32 to_lower(u32 cp) { return map_codepoint(cp, false); }

} // namespace zel::case_
