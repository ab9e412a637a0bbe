// Decimal text to double, correctly rounded (ties to even). Short texts take exact
// floating-point paths; the rest start from an approximation and are settled by comparing the
// exact decimal value with the halfway points between neighbouring doubles.
#include <cfloat>
#include <cmath>
#include <limits>

#include "runtime/float_text.hpp"
#include "runtime/float_text_internal.hpp"

namespace zel::float_text {

using detail::big;

namespace {

// Halfway points between doubles have at most 767 significant digits, so digits past this
// many change the result only through whether any of them is non-zero.
constexpr int kept_digits = 800;
// An exponent this large already over- or underflows whatever the digits are.
constexpr i64 exponent_clamp = 100000;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
char lower(char c) {
    return static_cast<char>(c | 0x20);
}

// The exact value D * 10^e of the digits, held so that it can be compared with doubles.
struct decimal {
    big scaled;       // D * 5^e for e >= 0, else D
    int twos = 0;     // power of two on the decimal side (e for e >= 0)
    big fives;        // 5^-e for e < 0: the binary side is multiplied by it
    int bin_twos = 0; // power of two on the binary side (-e for e < 0)
    bool has_fives = false;

    decimal(const char* d, int n, int e) {
        for (int i = 0; i < n;) {
            u32 chunk = 0, scale = 1;
            for (int j = 0; j < 9 && i < n; ++j, ++i) {
                chunk = chunk * 10 + static_cast<u32>(d[i] - '0');
                scale *= 10;
            }
            scaled.mul_add(scale, chunk);
        }
        if (e >= 0) {
            scaled.mul_pow5(e);
            twos = e;
        } else {
            fives.set(1);
            fives.mul_pow5(-e);
            has_fives = true;
            bin_twos = -e;
        }
    }

    // Sign of D * 10^e - m * 2^q.
    int compare_with(u64 m, int q) const {
        big right(m);
        if (has_fives) {
            right = fives;
            right.mul_u64(m);
        }
        int t = twos - (q + bin_twos);
        if (t >= 0) {
            big left = scaled;
            left.shift_left(t);
            return compare(left, right);
        }
        right.shift_left(-t);
        return compare(scaled, right);
    }
};

double next_up(double v) {
    return std::bit_cast<double>(std::bit_cast<u64>(v) + 1);
}
double next_down(double v) {
    return std::bit_cast<double>(std::bit_cast<u64>(v) - 1);
}

// Moves the approximation z one double at a time until it is the correctly rounded value of
// the decimal. The approximation is within a few units, so this takes a step or two.
double settle(const decimal& x, double z) {
    for (;;) {
        auto [m, q] = detail::split(z);
        int c = x.compare_with(2 * m + 1, q - 1);
        if (c > 0 || (c == 0 && (m & 1))) {
            if (z == DBL_MAX) return std::numeric_limits<double>::infinity();
            z = next_up(z);
            continue;
        }
        if (m == 0) return z;
        // Below a power of two the gap to the next lower double is half as wide.
        c = m == detail::hidden_bit && q > detail::min_exponent ? x.compare_with(4 * m - 1, q - 2)
                                                                : x.compare_with(2 * m - 1, q - 1);
        if (c < 0 || (c == 0 && (m & 1))) {
            z = next_down(z);
            continue;
        }
        return z;
    }
}

// Within a few units of D * 10^e, from the leading digits.
double approximate(const char* d, int n, int e) {
    int used = n < 19 ? n : 19;
    u64 top = 0;
    for (int i = 0; i < used; ++i) top = top * 10 + static_cast<u64>(d[i] - '0');
    e += n - used;
    double z = static_cast<double>(top);
    for (; e > detail::max_exact_ten; e -= detail::max_exact_ten) z *= 1e22;
    for (; e < -detail::max_exact_ten; e += detail::max_exact_ten) z /= 1e22;
    z = e >= 0 ? z * detail::tens[e] : z / detail::tens[-e];
    return std::isinf(z) ? DBL_MAX : z;
}

double to_double(const char* d, int n, int e) {
    if (n <= 15) {
        // Exact operands and one rounding: correctly rounded as it stands.
        double v = 0;
        for (int i = 0; i < n; ++i) v = v * 10 + (d[i] - '0');
        if (e == 0) return v;
        if (e > 0 && e <= detail::max_exact_ten) return v * detail::tens[e];
        if (e > 0 && e <= detail::max_exact_ten + 15 - n)
            return v * detail::tens[e - detail::max_exact_ten] * 1e22;
        if (e < 0 && e >= -detail::max_exact_ten) return v / detail::tens[-e];
    }
    decimal x(d, n, e);
    return settle(x, approximate(d, n, e));
}

} // namespace

double text_to_float(const char* start, const char* end, int extra_exponent, std::size_t& left) {
    const char* s = start;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) negative = *s++ == '-';
    double sign = negative ? -1.0 : 1.0;

    char d[kept_digits + 1];
    int n = 0;
    bool dropped = false; // a non-zero digit past the kept ones
    i64 e = 0;            // value = digits * 10^e
    bool any = false;
    std::size_t before_point = 0;
    auto take = [&](char c, bool fraction) {
        any = true;
        if (n == 0 && c == '0') {
            e -= fraction;
        } else if (n < kept_digits) {
            d[n++] = c;
            e -= fraction;
        } else {
            dropped |= c != '0';
            e += !fraction;
        }
    };
    for (; s < end && is_digit(*s); ++s, ++before_point) take(*s, false);
    if (s < end && *s == '.') {
        if (before_point == 1 && end - s >= 3 && s[1] == '#') {
            const char* word = nullptr;
            double special = 0;
            if (lower(s[2]) == 'i') {
                word = "inf";
                special = sign * std::numeric_limits<double>::infinity();
            } else if (lower(s[2]) == 'n') {
                word = "nan";
                special = std::numeric_limits<double>::quiet_NaN();
            }
            if (word) {
                s += 2;
                for (; *word && s < end && lower(*s) == *word; ++word) ++s;
                left = static_cast<std::size_t>(end - s);
                return special;
            }
        }
        const char* after = s + 1;
        for (; after < end && is_digit(*after); ++after) take(*after, true);
        if (any) s = after;
    }
    if (!any) {
        left = static_cast<std::size_t>(end - start);
        return 0.0;
    }
    if (s < end && (*s == 'e' || *s == 'E') && end - s >= 2) {
        const char* t = s + 1;
        bool exp_negative = false;
        if (*t == '+' || *t == '-') exp_negative = *t++ == '-';
        if (t < end && is_digit(*t)) {
            i64 x = 0;
            for (; t < end && is_digit(*t); ++t)
                if (x < exponent_clamp) x = x * 10 + (*t - '0');
            e += exp_negative ? -x : x;
            s = t;
        }
    }
    left = static_cast<std::size_t>(end - s);

    if (n == 0) return sign * 0.0;
    if (dropped) { // stands for the dropped digits without touching a halfway point
        d[n++] = '1';
        --e;
    }
    while (d[n - 1] == '0') {
        --n;
        ++e;
    }
    e += extra_exponent;
    i64 lead = n + e - 1; // the value lies in [10^lead, 10^(lead + 1))
    if (lead > 309) return sign * std::numeric_limits<double>::infinity();
    if (lead < -325) return sign * 0.0;
    return sign * to_double(d, n, static_cast<int>(e));
}

} // namespace zel::float_text
