// function! and routine!: functions written in the language (a spec, a body bound to the
// function's own stack context) and functions whose body is C++ code. Both keep a five-cell side
// series: 0 the body, 1 the argument descriptor (made on the first call), 2 the code entry or
// unset, 3 the op! made from the function or unset, 4 the owner context or unset.
#pragma once
#include "runtime/cell.hpp"

namespace zel::function {

namespace side {
constexpr u32 body = 0, descriptor = 1, code = 2, op = 3, owner = 4;
}
namespace flag {
constexpr u32 trace = 0x400, no_trace = 0x200;
constexpr u32 library = 0x800; // made by the embedded library: hidden from call listings
}

// Builds a function! from spec and body (a given context is used as it is and the body is not
// bound); answers the context node and leaves the function on top of the data stack.
u32 build_value(const cell* spec, const cell* body, u32 context, u32 owner, u32 header_flags);
// Validates a spec; answers its header flags.
u32 check_spec(const cell* spec);
i32 local_slot_count(const cell* spec, u32 start, bool require);
void push_local_slots(u32 count);
// The `function` native's collection of locals: extends the spec in place.
cell gather_spec_words(cell* spec, const cell* body);

cell* side_cell(const cell* fn, u32 index);

void register_types(); // function!; routine! registers at its own place
void register_routine();

} // namespace zel::function

namespace zel::routine {

using entry = void (*)();
// A routine! over a C++ entry (by index in the routine table); leaves it on the data stack top.
cell* build_value(const cell* spec, const cell* body, u32 entry_index, u32 number, bool flag);
u32 arity_bits(const cell* r);
u32 add_entry(entry fn);
entry entry_at(u32 index);

} // namespace zel::routine
