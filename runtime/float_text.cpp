// Double to decimal text: exact digit generation over big integers, and the two layouts built on
// it. Digits are exact: the shortest ones read back to the same double, limited ones are the
// correctly rounded prefix of the exact value (ties to even).
#include "runtime/float_text.hpp"

#include <cmath>
#include <cstring>

#include "runtime/float_text_internal.hpp"

namespace zel::float_text {

using detail::big;

namespace {

// Adds one unit in the last of the n digits (values 0-9); all nines become "1" one place up.
void round_up(char* d, int& n, int& k) {
    while (n > 0 && d[n - 1] == 9) --n;
    if (n == 0) {
        d[0] = 1;
        n = 1;
        ++k;
    } else {
        ++d[n - 1];
    }
}

// Integral values below 10^15: the digits come straight from the integer.
int integer_digits(u64 v, int limit, char* d, int& k) {
    char rev[16];
    int len = 0;
    for (; v; v /= 10) rev[len++] = static_cast<char>(v % 10);
    int n = len;
    for (int i = 0; i < len; ++i) d[i] = rev[len - 1 - i];
    k = len - 1;
    if (limit > 0 && len > limit) {
        // Half to even on what is cut off, which is exact here.
        int first = d[limit];
        bool rest = false;
        for (int i = limit + 1; i < len; ++i) rest |= d[i] != 0;
        n = limit;
        if (first > 5 || (first == 5 && (rest || (d[limit - 1] & 1)))) round_up(d, n, k);
    }
    while (n > 1 && d[n - 1] == 0) --n;
    return n;
}

// floor(log10 v) or one more, from the mantissa in [1, 2) and the binary exponent.
int estimate_exponent(u64 mantissa, int exponent) {
    int bits = 64 - __builtin_clzll(mantissa);
    u64 m_bits = ((mantissa << (53 - bits)) & (detail::hidden_bit - 1)) | (u64(1023) << 52);
    double m = std::bit_cast<double>(m_bits);
    int e = exponent + bits - 1;
    double ds = (m - 1.5) * 0.289529654602168 + 0.1760912590558 + e * 0.301029995663981;
    int k = static_cast<int>(ds);
    if (ds < 0 && ds != k) --k;
    return k;
}

// The digits of a finite positive double into d (values 0-9); answers the count and sets k,
// the decimal exponent of the first digit.
int generate(double v, int limit, char* d, int& k) {
    auto [f, e] = detail::split(v);
    // Below 10^15 (so below 2^52) an integral value has a negative exponent.
    if (v < 1e15 && e < 0 && e > -64 && (f & ((u64(1) << -e) - 1)) == 0)
        return integer_digits(f >> -e, limit, d, k);

    // v = r / s; the gaps to the neighbouring doubles are 2 * m_plus / s and 2 * m_minus / s.
    bool unequal = f == detail::hidden_bit && e > detail::min_exponent;
    big r(f), s(1), m_plus(1), m_minus(1);
    if (e >= 0) {
        r.shift_left(e + 1 + unequal);
        s.set(unequal ? 4 : 2);
        m_plus.shift_left(e + unequal);
        m_minus.shift_left(e);
    } else {
        r.shift_left(1 + unequal);
        s.shift_left(1 + unequal - e);
        if (unequal) m_plus.set(2);
    }

    k = estimate_exponent(f, e);
    if (k >= 0) {
        s.mul_pow10(k);
    } else {
        r.mul_pow10(-k);
        m_plus.mul_pow10(-k);
        m_minus.mul_pow10(-k);
    }
    if (compare(r, s) < 0) { // the estimate was one too high
        --k;
        r.mul_add(10);
        m_plus.mul_add(10);
        m_minus.mul_add(10);
    }

    // Put the divisor's top bit at bit 27 so that ten times it still fits its top word and the
    // quotient estimate from the top words is never more than a little low.
    int shift = (s.leading_zeros() - 4) & 31;
    r.shift_left(shift);
    s.shift_left(shift);
    m_plus.shift_left(shift);
    m_minus.shift_left(shift);

    int n = 0;
    if (limit > 0) {
        for (;;) {
            int digit = static_cast<int>(r.quotient_digit(s));
            if (n + 1 == limit) {
                r.shift_left(1);
                int c = compare(r, s);
                d[n++] = static_cast<char>(digit);
                if (c > 0 || (c == 0 && (digit & 1))) round_up(d, n, k);
                break;
            }
            d[n++] = static_cast<char>(digit);
            if (r.is_zero()) break;
            r.mul_add(10);
        }
    } else {
        // A boundary that is exactly reached still reads back when the mantissa is even,
        // since ties round to even on input.
        bool even = (f & 1) == 0;
        for (;;) {
            int digit = static_cast<int>(r.quotient_digit(s));
            int lo = compare(r, m_minus);
            int hi = compare_sum(r, m_plus, s);
            bool low = lo < 0 || (even && lo == 0);
            bool high = hi > 0 || (even && hi == 0);
            if (!low && !high) {
                d[n++] = static_cast<char>(digit);
                r.mul_add(10);
                m_plus.mul_add(10);
                m_minus.mul_add(10);
                continue;
            }
            bool up = high;
            if (low && high) { // both candidates read back: the nearer, on a tie the even one
                r.shift_left(1);
                int c = compare(r, s);
                up = c > 0 || (c == 0 && (digit & 1));
            }
            d[n++] = static_cast<char>(digit);
            if (up) round_up(d, n, k);
            break;
        }
    }
    while (n > 1 && d[n - 1] == 0) --n;
    return n;
}

void put_special(digits& out, const char* text, bool negative) {
    out.count = static_cast<int>(std::strlen(text));
    std::memcpy(out.area + 1, text, out.count + 1);
    out.negative = negative;
}

struct writer {
    formatted out{};
    void put(char c) { out.data[out.length++] = c; }
    void put(std::string_view s) {
        std::memcpy(out.data + out.length, s.data(), s.size());
        out.length += static_cast<int>(s.size());
    }
    void zeros(int n) {
        for (int i = 0; i < n; ++i) put('0');
    }
    void number(int v) {
        char buf[12];
        int n = 0;
        unsigned u = v < 0 ? 0u - unsigned(v) : unsigned(v);
        do buf[n++] = static_cast<char>('0' + u % 10);
        while (u /= 10);
        if (v < 0) put('-');
        while (n) put(buf[--n]);
    }
};

} // namespace

digits float_to_digits(double value, int limit, bool zero_form) {
    digits out;
    out.area[0] = '-';
    out.point = 0;
    out.negative = std::signbit(value);
    if (std::isnan(value)) {
        out.point = special_point;
        put_special(out, "1.#NaN", false);
        return out;
    }
    if (std::isinf(value)) {
        out.point = special_point;
        put_special(out, "1.#INF", out.negative);
        return out;
    }
    if (value == 0) {
        out.point = zero_point;
        put_special(out, zero_form ? "0.0" : "0", out.negative);
        return out;
    }
    if (limit > max_digits) limit = max_digits;
    char* d = out.area + 1;
    int k = 0;
    out.count = generate(std::fabs(value), limit, d, k);
    for (int i = 0; i < out.count; ++i) d[i] = static_cast<char>('0' + d[i]);
    d[out.count] = '\0';
    out.point = k + 1;
    return out;
}

formatted format_float(double value, int limit, bool zero_form) {
    digits dg = float_to_digits(value, limit, zero_form);
    writer w;
    if (dg.point >= zero_point) {
        w.put(dg.text());
        return w.out;
    }
    const char* d = dg.area + 1;
    int n = dg.count, p = dg.point;
    if (dg.negative) w.put('-');
    if (p >= 18 || p < -6) {
        w.put(d[0]);
        if (n > 1) {
            w.put('.');
            w.put(std::string_view(d + 1, n - 1));
        } else if (zero_form) {
            w.put(".0");
        }
        w.put('e');
        w.number(p - 1);
    } else if (p < 1) {
        w.put("0.");
        w.zeros(-p);
        w.put(std::string_view(d, n));
    } else if (n <= p) {
        w.put(std::string_view(d, n));
        w.zeros(p - n);
        if (zero_form) w.put(".0");
    } else {
        w.put(std::string_view(d, p));
        w.put('.');
        w.put(std::string_view(d + p, n - p));
    }
    return w.out;
}

formatted format_general(double value, int precision) {
    writer w;
    if (std::isnan(value)) {
        w.put("nan");
        return w.out;
    }
    if (std::signbit(value)) w.put('-');
    if (std::isinf(value)) {
        w.put("inf");
        return w.out;
    }
    if (value == 0) {
        w.put('0');
        return w.out;
    }
    if (precision < 1) precision = 1;
    if (precision > max_digits) precision = max_digits;
    digits dg = float_to_digits(value, precision, false);
    const char* d = dg.area + 1;
    int n = dg.count, x = dg.point - 1;
    if (x < -4 || x >= precision) {
        w.put(d[0]);
        if (n > 1) {
            w.put('.');
            w.put(std::string_view(d + 1, n - 1));
        }
        w.put(x < 0 ? "e-" : "e+");
        int ax = x < 0 ? -x : x;
        if (ax < 10) w.put('0');
        w.number(ax);
    } else if (x < 0) {
        w.put("0.");
        w.zeros(-x - 1);
        w.put(std::string_view(d, n));
    } else if (n <= x + 1) {
        w.put(std::string_view(d, n));
        w.zeros(x + 1 - n);
    } else {
        w.put(std::string_view(d, x + 1));
        w.put('.');
        w.put(std::string_view(d + x + 1, n - x - 1));
    }
    return w.out;
}

} // namespace zel::float_text
