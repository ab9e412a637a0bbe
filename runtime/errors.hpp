// Language errors and non-local exits. Every error is named by its catalog category and id;
// raising one builds the error! value and unwinds with the error throw code. All non-local exits
// (errors, break, continue, return, exit, throw, halt, quit, interrupt) travel as one C++
// exception type.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"
#include "runtime/error_catalog.hpp"

namespace zel {

namespace throw_code {
constexpr u32 error = 0x7FFFFFFF;
constexpr u32 break_ = 0x7FFFFFFE;
constexpr u32 continue_ = 0x7FFFFFFD;
constexpr u32 return_ = 0x7FFFFFFC;
constexpr u32 exit_ = 0x7FFFFFFB;
constexpr u32 throw_ = 0x7FFFFFFA;
constexpr u32 halt = 0x7FFFFFF9;      // the console's halt: back to the prompt
constexpr u32 quit = 0x7FFFFFF8;      // end of the process with a status
constexpr u32 interrupt = 0x7FFFFFF7; // the user interrupted (SIGINT): ends the process with 130
} // namespace throw_code

// The one exception of the runtime. The value that travels with it lies on the data stack (or in
// the error's own rooted slot before the stacks exist); `status` is the exit status of a quit.
struct unwind {
    u32 code;
    int status = 0;
};

namespace error {

// Builds the error! value of `id` with up to three arguments and throws it. Never returns.
[[noreturn]] void raise(err::id id, const cell* arg1 = nullptr, const cell* arg2 = nullptr,
                        const cell* arg3 = nullptr);

// `script`/`bad-make-arg` with the two arguments.
[[noreturn]] void raise_with_args(const cell* arg1, const cell* arg2);

// The code of the error most recently raised.
u32 last_code();

// The error! value in flight (a rooted cell): the catcher of an error takes it from here.
cell* thrown();
// Throws an error! value that already exists (a re-raise, `cause-error`).
[[noreturn]] void raise_value(const cell* value, u32 code);
// The same without the on-raise hook, which may allocate: for running out of memory while the
// out-of-memory error itself is being raised.
[[noreturn]] void raise_value_unhooked(const cell* value, u32 code);

// Builds the error! value of an id with its arguments; installed by the error! datatype.
using builder_fn = cell (*)(err::id id, const cell* arg1, const cell* arg2, const cell* arg3);
extern builder_fn builder;
// Called with the error just before it is thrown (the evaluator records `where` and the stack).
extern void (*on_raise)(cell* error);

} // namespace error
} // namespace zel
