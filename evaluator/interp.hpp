// The interpreter: evaluates blocks one expression at a time on the data stack. Code positions
// are (series node, index) pairs re-read at every step, since a code block may move or change
// while it runs. Non-local exits other than errors (break, continue, return, exit, throw) travel
// as a pending status that every evaluating loop checks after each step; errors, halt and quit
// travel as C++ exceptions.
#pragma once
#include "evaluator/slow_path.hpp"
#include "runtime/cell.hpp"

namespace zel::interp {

// The pending non-local exit (a throw code, 0 for none) and the value it carries.
inline u32& pending = slow.pending;
cell* pending_value();
cell* pending_name(); // the /name of a throw, or none

// The block being evaluated (for the `near` of errors): node and index of the expression.
extern u32 code_node;
extern u32 code_index;
cell current_code();

void start_up();
// Makes every error raised a real error! value with its near, where and stack.
void install_error_hooks();

// Evaluates a whole block in a block frame. The result stays on top of the caller's data stack;
// with pass_result it is also copied into the caller's result slot.
void evaluate_block(const cell* block, bool pass_result);
// Evaluates one expression at (node, index); answers the index after it. With push the value is
// pushed, else it becomes the current frame's result.
u32 step_expression(u32 node, u32 index, bool no_infix, bool push, bool no_call = false);
// One expression in a frame of its own (`reduce`, `any`, `all`, `case`).
u32 reduce_one(const cell* block, u32 index, bool push);
// `do/next`.
u32 step_for_do_next(const cell* block);

namespace apply_mode {
constexpr u32 values = 1; // arguments are taken as they stand, not evaluated; missing ones none
}

// Calls a function!, native!, action! or routine! whose arguments follow at (node, index); the
// refinements are those of the path from position `refinements` on (or none). Answers the index
// after the arguments.
u32 gather_arguments(const cell* callable, u32 node, u32 index, bool push, const cell* name,
                     u32 parent_context, const cell* path, u32 refinements, bool infix,
                     u32 mode = 0);

// Runs a function! whose arguments are in place in the current (function) frame; `name` is the
// cell that named the call (for the trace), or null.
void invoke_function(const cell* fn, u32 object_context, const cell* name = nullptr);

// Evaluates a path; answers the index after it (and after the arguments of a call it makes).
u32 evaluate_path(const cell* path, u32 node, u32 index, bool set, bool get, bool push,
                  const cell* set_value = nullptr, bool case_ = false);

// Calls a callable with arguments already pushed after it on the data stack by C++ code (sort
// comparators, change handlers, callbacks): a copy of the callable, then its arguments; the
// result replaces them. The call's frame is named by `name` (a word), `<anon>` when null.
void call_with_arguments(const cell* callable, u32 argument_count, const cell* name = nullptr);

// True when a non-local exit is pending; evaluating natives stop and return then.
inline bool unwinding() { return pending != 0; }

} // namespace zel::interp
