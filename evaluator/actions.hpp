// Generic actions: the handler lookup in the action row of the first argument's type, the typed
// stubs through which other units call an action with explicit values, and the comparison
// protocol shared by `compare`, the comparison natives, sorting and hashing.
#pragma once
#include "datatypes/registry.hpp"

namespace zel::actions {

namespace compare_op {
enum : i32 {
    equal = 0,
    not_equal = 1,
    strict_equal = 2,
    lesser = 3,
    lesser_or_equal = 4,
    greater = 5,
    greater_or_equal = 6,
    sort = 7,
    case_sort = 8,
    same = 9,
    equal_10 = 10,
    equal_11 = 11,
    find = 12,
};
}

// Raises `expect-arg` (the running action, the value's datatype, the first argument word) for a
// type without a handler in the slot.
[[noreturn]] void raise_no_handler(const cell* value, u32 slot);
// Raises `expect-arg` for a value that the running call refuses: the innermost call's word, the
// value's datatype and the word of the call's spec entry `argument` (0-based, refinements
// counted).
[[noreturn]] void raise_not_allowed(const cell* value, u32 argument);

template <u32 S> inline typename act::slot_type<S>::fn handler_of_value(const cell* value) {
    auto h = act::handler<S>(type_of(value));
    if (!h) raise_no_handler(value, S);
    return h;
}

// Typed stubs.
i32 form_typed(cell* value, cell* buffer, cell* part, i32 limit);
i32 mold_typed(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
               i32 indent);

// Three-way comparison: -1, 0, 1, or -2 when the values cannot be compared.
i32 compare_three_way(cell* a, cell* b, i32 op);
// The truth of a comparison op between two values; orderings of incomparable values raise
// `invalid-compare`.
bool compare(cell* a, cell* b, i32 op);

} // namespace zel::actions
