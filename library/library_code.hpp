// Library functions behave as compiled ones: once the embedded library has been evaluated, every
// function it made is marked (a header flag on the function and on its context's self cell) and
// the blocks of its body are marked as library code. Call listings leave marked calls out, the
// tracer sends no events for library code, and an error raised there keeps the user's position.
#pragma once
#include "evaluator/stack.hpp"
#include "runtime/cell.hpp"

namespace zel::library_code {

// Marks every function reachable from the global context (through objects, blocks and maps).
// Answers the number of functions marked.
u32 mark_reachable_functions();
// Marks one function value and its body.
void mark_function(cell* function);

bool is_library_function(const cell* function);
bool is_library_code(u32 block_node);
// A call that the call listings show: a function! call that is not the library's.
bool user_visible_call(const call_frame* frame);

} // namespace zel::library_code
