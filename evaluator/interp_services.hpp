// Evaluator services that the datatype units call: evaluating a spec block, running a change
// handler or a port actor's function, and listing the calls on the frame stack for error reports.
#pragma once
#include "evaluator/interp.hpp"

namespace zel::interp {

// Runs a function! whose arguments (and local slots) are already pushed in the innermost frame
// (a function frame opened by the caller), with `context` as the object context of the call;
// `name` is the word the call is known by. Flags: 8 on-change*, 16 on-deep-change*, 32 port
// actor functions.
void invoke_function(cell* function, u32 context, const cell* name, u32 flags);

} // namespace zel::interp

namespace zel::stack {

// The frame position of the first `throw` in flight (0: none); the `where` search starts there.
extern u32 throw_origin;

// The word of the innermost call that is not a `<body>` or `<anon>` frame (none! when there is
// none): the `where` of errors.
cell innermost_call_word();
// Records the frame-stack top in the error's `stack` field unless that holds a block! already.
void record_error_stack(cell* error);
// Appends the words of the calls from the bottom frame up to `end_position` (a frame count) to
// the block; a call is listed when level > 1 or its word's value is a function!.
void list_calls(i32 level, cell* block, u32 end_position);
// The same walk written into a string, each word followed by one space within the limit;
// answers what is left of the limit.
i32 calls_to_string(i32 level, u32 stack_record, cell* string, i32 limit);

} // namespace zel::stack
