// Comparator functions of `sort/compare`: the block and string sorts call the function through
// the interpreter, in a frame of its own named <compare-callback>. A non-local exit that the
// function starts (break, throw ...) ends the sort at once: the call throws `abandoned`, the sort
// leaves its series as it was, and the exit stays pending for the evaluator to carry on.
#pragma once
#include "runtime/cell.hpp"

namespace zel::sort_comparator {

struct abandoned {};

// Calls the function with the two values (copied first, so they may lie anywhere) and answers
// what it returned. A trace steps into the call only when system/state/callbacks/sort? is set.
cell call(const cell* function, const cell* a, const cell* b);

} // namespace zel::sort_comparator
