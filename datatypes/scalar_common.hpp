// Services shared by the value types held in one cell (pair!, point2D!/point3D!, tuple!, money!):
// the checked float-to-integer truncation, scanning a text into one value, axis names, and the
// store-back of a value changed through a path.
#pragma once
#include <string_view>

#include "datatypes/registry.hpp"
#include "runtime/cell.hpp"

namespace zel::scalar {

// A float truncated toward zero to 32 bits: infinity and NaN raise `invalid-arg` with `culprit`
// (the float itself when null), a value outside the 32-bit range raises `type-limit` with
// integer!. Truncating such a value in C++ is undefined, so every cast goes through here.
i32 truncate_checked(double d, const cell* culprit = nullptr);

// `bad-to-arg` with the datatype and the refused argument; `malconstruct` with that argument.
[[noreturn]] void raise_bad_to(u32 type, const cell* spec);
[[noreturn]] void raise_malconstruct(const cell* spec);

// Loads the text of an any-string! from its head: true with the value in `out` when it holds
// exactly one value of type `type`.
bool scan_as(const cell* text, u32 type, cell* out);

// Is the word's text `name` (case-insensitively)?
bool word_is(const cell* word, std::string_view name);
// An axis element: integer 1..count, or the word x, y or z within count; 0 for anything else.
u32 axis_of(const cell* element, u32 count);

// A value held in one cell is changed on a copy the path evaluator made: store the new value
// where the path took it from (the word of the first element, or the previous element of the
// owner, through the owner's own path set, which tells an object's change handler and a
// series' owner).
void store_back(const cell* changed, const path_step& step);

// True when the element is a word for the symbol (any case).
bool is_word_for(const cell* element, u32 symbol);

} // namespace zel::scalar
