// Helpers shared by the families of natives that evaluate code, loop or assign words. A native
// that evaluates code checks `interp::pending` after every evaluation and returns at once when a
// non-local exit is under way, closing the frames it opened.
#pragma once
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"

namespace zel::natives {

// Leaves the current frame's result slot as the native's result.
inline void keep_result() {
    stack::top = stack::arguments + 1;
}

// The value cell of a word, or null when the word has no slot to read (bound to no context, or
// to the context of a function that is not running).
cell* word_value_or_null(const cell* word);
// Sets a word through its context, so that change handlers fire; a word bound to no context
// raises `not-defined`.
void set_word(const cell* word, const cell* value);

// The block assignment of `set` and `foreach`: entry i of `words` (from its index) gets element i
// of `values` when that is a block or path kind and `only` is not given (none! past its tail),
// else `values` itself. Every entry is checked before any is assigned: a non-word entry raises
// `invalid-arg`, an unset! element without `any` raises `need-value`. With `some`, a none!
// element leaves its word as it was.
void assign_block(const cell* words, const cell* values, bool any, bool only, bool some);

// After a loop pass: takes a break or continue meant for the innermost loop frame. Answers true
// when the loop must end (a break, or another exit passing through).
inline bool loop_must_end() {
    u32 p = interp::pending;
    if (!p) return false;
    if (p == throw_code::continue_) {
        interp::pending = 0;
        init_unset(stack::result());
        return false;
    }
    if (p == throw_code::break_) {
        interp::pending = 0;
        *stack::result() = *interp::pending_value();
    }
    return true;
}

// A word cell of the runtime's own symbols, bound to nothing (for error arguments and frames).
inline cell plain_word(u32 symbol) {
    return cell{type_id::word, 0, symbol, 0xFFFFFFFF};
}

} // namespace zel::natives
