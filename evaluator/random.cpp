// Random generator.
#include "evaluator/random.hpp"

#include <cerrno>
#include <sys/random.h>

#include "runtime/errors.hpp"
#include "runtime/murmur3.hpp"

namespace zel::random {

namespace {
constexpr int n = 624;
constexpr int offset = 397;
i32 state[n];
int index = n;

inline i32 wrap(i64 v) { return static_cast<i32>(static_cast<u32>(v)); }

void regenerate() {
    for (int k = 0; k < n; k++) {
        i32 next = state[(k + 1) % n];
        i32 y = wrap((i64(static_cast<u32>(state[k]) & 0x80000000u)) |
                     (static_cast<u32>(next) & 0x7FFFFFFFu));
        i32 v = state[(k + offset) % n] ^ (y >> 1);
        if (y & 1) v ^= wrap(0x9908B0DFu);
        state[k] = v;
    }
    index = 0;
}
} // namespace

void start_up() {
    seed(19650218);
    // One hash seed for the whole run, fixed before the first index is made.
    hash_index::set_seed(0x2F6B1D35);
}

void seed(u32 value) {
    state[0] = static_cast<i32>(value);
    for (int i = 1; i < n; i++) {
        i32 prev = state[i - 1];
        u32 x = static_cast<u32>(prev ^ (prev >> 30));
        state[i] = static_cast<i32>(x * 1812433253u + static_cast<u32>(i));
    }
    index = 0;
}

i32 next_uint32() {
    if (index >= n) regenerate();
    i32 y = state[index++];
    y ^= y >> 11;
    y ^= wrap(i64(static_cast<u32>(y) << 7) & 0x9D2C5680);
    y ^= wrap(i64(static_cast<u32>(y) << 15) & 0xEFC60000);
    y ^= y >> 18;
    return y;
}

i32 secure_int() {
    u32 v = 0;
    for (;;) {
        ssize_t got = getrandom(&v, sizeof v, 0);
        if (got == static_cast<ssize_t>(sizeof v)) break;
        // A signal may cut the wait for entropy short: ask again. Any other failure (a kernel
        // without the call) would repeat forever, so it is reported instead.
        if (got < 0 && errno != EINTR) error::raise(err::E("internal", "feature-na"));
    }
    return static_cast<i32>(v & 0x7FFFFFFFu);
}

i32 int_range(bool secure, i32 range) {
    if (range == 0) return 0;
    if (range == INT32_MIN) return ~(secure ? secure_int() : next_uint32());
    i32 m = range < 0 ? -range : range;
    i32 limit = (2147483647 / m) * m;
    i32 draw;
    do draw = secure ? secure_int() : next_uint32();
    while (draw >= limit);
    i32 r = draw % m + 1;
    return range > 0 ? r : -r;
}

} // namespace zel::random
