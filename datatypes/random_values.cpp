// Random values of pair!, point!, tuple!, date! and money!.
#include "datatypes/random_values.hpp"

#include <bit>
#include <cmath>

#include "datatypes/date.hpp"
#include "datatypes/money.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/random.hpp"
#include "runtime/murmur3.hpp"

namespace zel::random_values {

namespace {
i32 draw(bool secure) {
    return secure ? random::secure_int() : random::next_uint32();
}

// A fraction of 0 to 1, as float! draws it.
double unit_fraction(bool secure) {
    if (!secure) return random::next_uint32() / 2147483647.0;
    double r1 = random::secure_int(), r2 = random::secure_int();
    return (r1 / 2147483647.0 + r2) / 2147483648.0;
}

void seeded(cell* value, u32 seed) {
    random::seed(seed);
    init_unset(value);
}
} // namespace

void pair(cell* value, bool seed, bool secure, bool) {
    i32 x = static_cast<i32>(value->w2), y = static_cast<i32>(value->w3);
    if (seed) return seeded(value, static_cast<u32>(x ^ y));
    value->w2 = static_cast<u32>(random::int_range(secure, x));
    value->w3 = static_cast<u32>(random::int_range(secure, y));
}

void point(cell* value, bool seed, bool secure, bool) {
    u32 n = type_of(value) == type_id::point3d ? 3 : 2;
    u32* words[3] = {&value->w1, &value->w2, &value->w3};
    if (seed) {
        const u32 bytes[3] = {value->w1, value->w2, value->w3};
        return seeded(value, hash_index::murmur3(bytes, n * 4));
    }
    for (u32 i = 0; i < n; i++) {
        float v = std::bit_cast<float>(*words[i]);
        if (v == 0.0f) continue;
        *words[i] = std::bit_cast<u32>(static_cast<float>(v * unit_fraction(secure)));
    }
}

void tuple(cell* value, bool seed, bool secure, bool) {
    if (seed) return seeded(value, value->w1 ^ value->w2 ^ value->w3);
    u32 n = tuple::length_of(value);
    if (n > tuple::max_length) n = tuple::max_length;
    u8* bytes = reinterpret_cast<u8*>(&value->w1);
    for (u32 i = 0; i < n; i++)
        bytes[i] = static_cast<u8>(random::int_range(secure, bytes[i] + 1) - 1);
}

void date(cell* value, bool seed, bool secure, bool) {
    u32 p = value->w1;
    double stored = float_of(value);
    if (seed) return seeded(value, p + static_cast<u32>(static_cast<i64>(stored)));
    // A day from 1 March of year 0 up to the day before the date.
    i32 day = random::int_range(secure, date::day_number_of(p)) - 1;
    bool timed = p & date::packed::has_time;
    u32 zone = date::packed::zone(p);
    double local = 0.0;
    if (timed) {
        zone = static_cast<u32>(draw(secure)) & date::packed::zone_mask;
        double t = secure ? (random::secure_int() / 2147483647.0 + random::secure_int()) /
                                (2147483648.0 / 3600.0)
                          : random::next_uint32() / 2147483647.0 * 3600.0;
        // Steps of 24 seconds; the top draw lands on midnight of the next day.
        local = std::floor(t) * 24.0;
        if (local >= 86400.0) {
            local -= 86400.0;
            day++;
        }
    }
    date::init_cell(value, date::from_day_number(day, zone, timed),
                    timed ? date::to_stored_time(local, zone) : stored);
}

void money(cell* value, bool seed, bool secure, bool) {
    bool negative = value->header & money::sign_bit;
    if (seed) return seeded(value, value->w1 ^ value->w2 ^ value->w3 ^ (negative ? 1u : 0u));
    // Digits 1 (highest integral) to 22 (fifth fractional), two to a byte, high nibble first.
    u8* digits = reinterpret_cast<u8*>(&value->w1) + 1;
    auto digit_at = [&](u32 i) { return i & 1 ? digits[i / 2] & 15 : digits[i / 2] >> 4; };
    auto set_digit = [&](u32 i, u32 d) {
        u8& b = digits[i / 2];
        b = static_cast<u8>(i & 1 ? (b & 0xF0) | d : (b & 0x0F) | d << 4);
    };
    constexpr u32 count = money::digit_bytes * 2;
    u32 first = 0;
    while (first < count && digit_at(first) == 0) first++;
    // While every digit so far equals the value's, the next one may not exceed its own; the
    // value's digit itself is taken only when two more draws agree, which keeps the top rare.
    bool bounded = true;
    for (u32 i = first; i < count; i++) {
        if (!bounded) {
            set_digit(i, static_cast<u32>(draw(secure)) % 10);
            continue;
        }
        u32 f = digit_at(i), g;
        for (;;) {
            g = static_cast<u32>(draw(secure)) % (f + 1);
            if (g != f) break;
            u32 a = static_cast<u32>(draw(secure)) % 1000;
            if (a == static_cast<u32>(draw(secure)) % 1000) break;
        }
        set_digit(i, g);
        if (g < f) bounded = false;
    }
}

} // namespace zel::random_values
