// The natives table: the built-in functions of the runtime, one entry per slot in the fixed slot
// order, each with its spec text. Every native works on the current frame: the first argument is
// the result slot at `stack::arguments`, the others follow in spec order; each refinement arrives
// as -1 when absent, else as the position (in cells from the first argument) of its first
// argument. The generic actions follow the same convention.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::natives {

using native_fn = void (*)(const i32* refinements);

struct definition {
    std::string_view name;
    std::string_view spec; // source text of the spec block
    native_fn fn;
};

constexpr u32 capacity = 120;

// The entry of slot n (1-based), or null past the last registered one.
native_fn entry(u32 slot);
u32 count();
const definition* definition_of(u32 slot);

// Registers the natives in slot order and binds each to its word as a native! value; needs the
// lexer (to load the specs).
void register_natives_table();

// A native whose body a later stage builds: raises `not-done`.
void not_done(const i32*);

} // namespace zel::natives

namespace zel::actions {
// The generic action entry of a slot (1-based; slot 8 has none).
natives::native_fn entry(u32 slot);
std::string_view spec_of(u32 slot);
std::string_view name_of(u32 slot);
// Registers the action words as action! values.
void register_action_table();
} // namespace zel::actions
