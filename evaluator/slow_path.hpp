// What takes an expression off the fast path: a pending non-local exit and an active trace share
// one word, so that the evaluator tests both with one load at each expression.
#pragma once
#include <cstring>

#include "runtime/cell.hpp"

namespace zel::interp {

struct slow_path {
    u32 pending; // the throw code of the pending non-local exit, 0 for none
    bool trace;  // trace events are sent
    u8 unused[3];
};
static_assert(sizeof(slow_path) == 8);
extern slow_path slow;

// True when either is set.
inline bool off_fast_path() {
    u64 word;
    std::memcpy(&word, &slow, sizeof word);
    return word != 0;
}

} // namespace zel::interp
