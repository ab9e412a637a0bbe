// String-to-number converters.
#include "lexer/convert.hpp"

#include <cstring>

namespace zel::convert {

namespace {
u32 unit_at(const u8* p, u32 unit) {
    switch (unit) {
    case 1: return *p;
    case 2: {
        u16 v;
        std::memcpy(&v, p, 2);
        return v;
    }
    default: {
        u32 v;
        std::memcpy(&v, p, 4);
        return v;
    }
    }
}
} // namespace

i32 string_to_integer(const u8* text, u32 length, u32 unit, bool& failed) {
    failed = true;
    u32 i = 0;
    bool negative = false;
    if (i < length) {
        u32 c = unit_at(text, unit);
        if (c == '+' || c == '-') {
            negative = c == '-';
            i++;
        }
    }
    u64 value = 0;
    bool digits = false;
    for (; i < length; i++) {
        u32 c = unit_at(text + i * unit, unit);
        if (c == '\'') continue;
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > 2147483648ull) return 0;
        digits = true;
    }
    if (!digits) return 0;
    if (!negative && value > 2147483647ull) return 0;
    failed = false;
    return negative ? static_cast<i32>(-static_cast<i64>(value)) : static_cast<i32>(value);
}

} // namespace zel::convert
