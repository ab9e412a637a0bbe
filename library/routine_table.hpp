// Routines: C++ entries with an argument block, made into routine! values at start-up. An entry
// works on the current frame like a native: its arguments start at `stack::arguments`, and it
// leaves its result there with the stack top just above it.
#pragma once
#include <span>
#include <string_view>

#include "datatypes/function.hpp"
#include "runtime/cell.hpp"

namespace zel::routines {

struct definition {
    std::string_view name;
    std::string_view interface; // source text of the argument block
    routine::entry fn;
};

// A routine! for the argument block's text and entry, pushed on the data stack.
cell* push_routine(std::string_view interface, routine::entry fn);
// Makes each routine and binds it to its global word, in table order.
void bind_globals(std::span<const definition> table);

// The routines of the runtime bound to global words.
void bind_runtime_routines();
// The type predicates.
void bind_type_predicates();

// Result helpers for entries.
void answer(const cell& value);
void answer_logic(bool value);
void answer_integer(i32 value);
void answer_none();
void answer_unset();

// The word of the running routine's frame (for its error reports).
cell running_word();
// Raises script/expect-arg for an argument of the running routine.
[[noreturn]] void raise_expect_arg(const cell* value, std::string_view argument);

} // namespace zel::routines
