// The process-wide pseudo-random generator behind every `random` action: a Mersenne Twister
// computed in signed 32-bit arithmetic with arithmetic right shifts, so every draw is a
// non-negative 31-bit number. Secure draws come from the operating system instead.
#pragma once
#include "runtime/arena.hpp"

namespace zel::random {

void start_up();
void seed(u32 value);
i32 next_uint32();
i32 secure_int();
i32 int_range(bool secure, i32 n);

} // namespace zel::random
