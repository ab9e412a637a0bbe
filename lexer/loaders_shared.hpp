// Helpers shared by the token loaders: escapes, text decoding and output of made values.
#pragma once
#include "lexer/lexer_state.hpp"

namespace zel::lexer {

struct escape_result {
    i32 code_point; // -1 when the escape is malformed
    const u8* next; // after the escape
    u32 unit;       // the text unit a ^(hex) escape asks for (1, 2 or 4)
};
// The escape after a ^ (p points after it): ^(name), ^(hex) or ^ and one character.
escape_result read_escape(const u8* p, const u8* end);

// Writes a made value into its reserved output cell with the new-line mark given (by default,
// whether a line break came before the token).
void put(scan_state& st, u32 index, const cell& value, bool newline);
void put(scan_state& st, u32 index, const cell& value);

// "1.#INF", "-1.#inf", "1.#NaN" (the letters in any case).
bool special_float(const u8* start, const u8* end, double& out);

} // namespace zel::lexer
