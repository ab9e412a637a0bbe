// Text-to-value parsers: the float syntax automaton shared with the lexer's number tokens, and
// the converters of a string's own units (1, 2 or 4 bytes each) to an integer, a float or a
// money! value. The converters report a bad form through an error code and never raise.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::convert {

// Texts of this many characters or more are never floats.
constexpr u32 float_text_limit = 313;

// Whether ASCII text passes the float syntax automaton: signs, digits with single apostrophes,
// one point, an exponent with an optional sign (apostrophes are removed before conversion).
bool float_syntax_ok(std::string_view text);

// A decimal float read from ASCII text, correctly rounded, with `extra_exponent` added to its
// exponent; false when the text is not wholly a number.
bool text_to_double(std::string_view text, int extra_exponent, double& out);

// Error codes: 0 done; -1 a bad character or form; -2 out of range (integers).
i32 string_to_integer(const u8* text, u32 count, u32 unit, i32& error);
double string_to_float(const u8* text, u32 count, u32 unit, i32& error);
// The money! value goes to `result` only when `error` is 0.
void string_to_money(const u8* text, u32 count, u32 unit, i32& error, cell* result);

// The older form: `failed` is set when the error code is not 0.
inline i32 string_to_integer(const u8* text, u32 count, u32 unit, bool& failed) {
    i32 error;
    i32 value = string_to_integer(text, count, unit, error);
    failed = error != 0;
    return value;
}

} // namespace zel::convert
