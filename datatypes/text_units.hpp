// Text units: a text buffer holds code points in units of 1, 2 or 4 bytes, never mixed, and only
// widens (emptying resets it to 1). Everything that reads or writes units by width, and the one
// widening routine, lives here so that every width shares one implementation.
#pragma once
#include <cstring>

#include "runtime/memory.hpp"

namespace zel::text_units {

// A unit size other than 1, 2 or 4 in a text buffer: a fault of the runtime.
[[noreturn]] void bad_unit(u32 unit);

template <class U> inline u32 load(const u8* p) {
    U v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class U> inline void store(u8* p, u32 cp) {
    U v = static_cast<U>(cp);
    std::memcpy(p, &v, sizeof v);
}

inline u32 read(const u8* p, u32 unit) {
    switch (unit) {
    case 1:
        return *p;
    case 2:
        return load<u16>(p);
    case 4:
        return load<u32>(p);
    }
    bad_unit(unit);
}
inline void write(u8* p, u32 unit, u32 cp) {
    switch (unit) {
    case 1:
        *p = static_cast<u8>(cp);
        return;
    case 2:
        store<u16>(p, cp);
        return;
    case 4:
        store<u32>(p, cp);
        return;
    }
    bad_unit(unit);
}

// Calls f.template operator()<U>() with the unit type of the width.
template <class F> inline decltype(auto) with_unit(u32 unit, F&& f) {
    switch (unit) {
    case 1:
        return f.template operator()<u8>();
    case 2:
        return f.template operator()<u16>();
    case 4:
        return f.template operator()<u32>();
    }
    bad_unit(unit);
}

// The smallest unit that holds a code point when it is appended (a 1-byte buffer takes only
// ASCII), and when it is written or inserted at a position (Latin-1 stays in 1 byte).
inline u32 unit_for_append(u32 cp) {
    return cp <= 0x7F ? 1 : cp <= 0xFFFF ? 2 : 4;
}
inline u32 unit_for_write(u32 cp) {
    return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4;
}

inline u32 checked_unit(series_buffer* b) {
    u32 u = unit_of(b);
    if (u != 1 && u != 2 && u != 4) bad_unit(u);
    return u;
}

// Converts `n` units of width From at `src` into width To at `dst`. The ranges may overlap when
// dst == src and To is not narrower (the copy runs from the end backwards).
template <class From, class To> inline void convert(const u8* src, u8* dst, u32 n) {
    for (u32 i = n; i-- > 0;) store<To>(dst + i * sizeof(To), load<From>(src + i * sizeof(From)));
}
void convert_units(const u8* src, u32 src_unit, u8* dst, u32 dst_unit, u32 n);

} // namespace zel::text_units

namespace zel::text_buffer {

// Widening in place: the buffer grows (and may move) to hold its used units in the new width,
// every unit is rewritten from the end backwards, then the unit size in the flags changes.
// Each answers the buffer to continue with.
series_buffer* widen_1_to_2(series_buffer* b);
series_buffer* widen_1_to_4(series_buffer* b);
series_buffer* widen_2_to_4(series_buffer* b);
// Widens to `unit` when the buffer's unit is smaller; otherwise answers it unchanged.
series_buffer* widen_to(series_buffer* b, u32 unit);

} // namespace zel::text_buffer
