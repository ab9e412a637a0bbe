// Language errors and non-local exits. Every error is named by its catalog category and id;
// raising one builds the error! value and unwinds with the error throw code. All non-local exits
// (errors, break, continue, return, exit, throw, halt, quit) travel as one C++ exception type.
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
constexpr u32 halt = 0x7FFFFFF9;  // the console's halt: back to the prompt
constexpr u32 quit = 0x7FFFFFF8;  // end of the process with a status
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

// The code of the error most recently raised (for code that runs before the error! datatype).
u32 last_code();

} // namespace error
} // namespace zel
