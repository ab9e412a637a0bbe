// Shared pieces of the float/text conversions: fixed-room unsigned big integers, the exact
// powers of ten and the split of a double into integer mantissa and binary exponent. The big
// integer room covers the largest product either direction forms (under 3,000 bits); going
// past it is a bug, so it aborts instead of corrupting the stack.
#pragma once
#include <bit>
#include <cstdlib>

#include "runtime/arena.hpp"

namespace zel::float_text::detail {

class big {
  public:
    static constexpr int room = 128; // 32-bit words, least significant first

    big() = default;
    explicit big(u64 v) { set(v); }
    // Copies only the words in use: most values are far smaller than the room.
    big(const big& o) : n_(o.n_) {
        for (int i = 0; i < n_; ++i) w_[i] = o.w_[i];
    }
    big& operator=(const big& o) {
        n_ = o.n_;
        for (int i = 0; i < n_; ++i) w_[i] = o.w_[i];
        return *this;
    }

    void set(u64 v) {
        w_[0] = static_cast<u32>(v);
        w_[1] = static_cast<u32>(v >> 32);
        n_ = w_[1] ? 2 : (w_[0] ? 1 : 0);
    }
    bool is_zero() const { return n_ == 0; }
    int words() const { return n_; }
    u32 word(int i) const { return w_[i]; }

    // this = this * m + a
    void mul_add(u32 m, u32 a = 0) {
        u64 carry = a;
        for (int i = 0; i < n_; ++i) {
            u64 t = static_cast<u64>(w_[i]) * m + carry;
            w_[i] = static_cast<u32>(t);
            carry = t >> 32;
        }
        if (carry) push(static_cast<u32>(carry));
    }

    void mul_u64(u64 m) {
        if (m >> 32 == 0) return mul_add(static_cast<u32>(m));
        big hi = *this;
        hi.mul_add(static_cast<u32>(m >> 32));
        mul_add(static_cast<u32>(m));
        hi.shift_left(32);
        add(hi);
    }

    void mul_pow5(int k) {
        constexpr u32 pow5_13 = 1220703125; // the largest power of 5 in 32 bits
        static constexpr u32 small[13] = {
            1, 5, 25, 125, 625, 3125, 15625, 78125, 390625, 1953125, 9765625, 48828125, 244140625};
        for (; k >= 13; k -= 13) mul_add(pow5_13);
        if (k > 0) mul_add(small[k]);
    }

    void mul_pow10(int k) {
        mul_pow5(k);
        shift_left(k);
    }

    void shift_left(int bits) {
        if (n_ == 0 || bits == 0) return;
        int words = bits >> 5, rem = bits & 31;
        int n = n_ + words + 1;
        if (n > room) std::abort();
        w_[n - 1] = 0;
        if (rem == 0) {
            for (int i = n_ - 1; i >= 0; --i) w_[i + words] = w_[i];
        } else {
            for (int i = n_ - 1; i >= 0; --i) {
                w_[i + words + 1] |= w_[i] >> (32 - rem);
                w_[i + words] = w_[i] << rem;
            }
        }
        for (int i = 0; i < words; ++i) w_[i] = 0;
        n_ = n;
        trim();
    }

    void add(const big& b) {
        int n = n_ > b.n_ ? n_ : b.n_;
        if (n + 1 > room) std::abort();
        u64 carry = 0;
        for (int i = 0; i < n; ++i) {
            u64 t = static_cast<u64>(i < n_ ? w_[i] : 0) + (i < b.n_ ? b.w_[i] : 0) + carry;
            w_[i] = static_cast<u32>(t);
            carry = t >> 32;
        }
        n_ = n;
        if (carry) w_[n_++] = static_cast<u32>(carry);
    }

    // this -= b; requires this >= b.
    void sub(const big& b) {
        i64 borrow = 0;
        for (int i = 0; i < n_; ++i) {
            i64 t = static_cast<i64>(w_[i]) - (i < b.n_ ? b.w_[i] : 0) - borrow;
            borrow = t < 0;
            w_[i] = static_cast<u32>(t);
        }
        trim();
    }

    friend int compare(const big& a, const big& b) {
        if (a.n_ != b.n_) return a.n_ < b.n_ ? -1 : 1;
        for (int i = a.n_ - 1; i >= 0; --i)
            if (a.w_[i] != b.w_[i]) return a.w_[i] < b.w_[i] ? -1 : 1;
        return 0;
    }

    // Compares a + b with c without forming the sum.
    friend int compare_sum(const big& a, const big& b, const big& c) {
        big s = a;
        s.add(b);
        return compare(s, c);
    }

    // Bits above the top set bit of the highest word.
    int leading_zeros() const { return n_ ? __builtin_clz(w_[n_ - 1]) : 32; }

    // The quotient digit of this / s (below 10 by the caller's scaling) and this %= s. The
    // divisor's top word is kept small enough by the caller that the estimate from the top
    // words is at most a little low.
    u32 quotient_digit(const big& s) {
        if (n_ < s.n_) return 0;
        u32 q = 0;
        if (n_ == s.n_) q = w_[n_ - 1] / (s.w_[s.n_ - 1] + 1);
        if (q) {
            u64 borrow = 0, carry = 0;
            for (int i = 0; i < s.n_; ++i) {
                u64 p = static_cast<u64>(s.w_[i]) * q + carry;
                carry = p >> 32;
                u64 t = static_cast<u64>(w_[i]) - static_cast<u32>(p) - borrow;
                w_[i] = static_cast<u32>(t);
                borrow = (t >> 32) & 1;
            }
            for (int i = s.n_; i < n_; ++i) {
                u64 t = static_cast<u64>(w_[i]) - carry - borrow;
                w_[i] = static_cast<u32>(t);
                borrow = (t >> 32) & 1;
                carry = 0;
            }
            trim();
        }
        while (compare(*this, s) >= 0) {
            sub(s);
            ++q;
        }
        return q;
    }

  private:
    void push(u32 v) {
        if (n_ >= room) std::abort();
        w_[n_++] = v;
    }
    void trim() {
        while (n_ > 0 && w_[n_ - 1] == 0) --n_;
    }

    int n_ = 0;
    u32 w_[room];
};

// 10^0 to 10^22: every one is exact as a double.
inline constexpr double tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int max_exact_ten = 22;

constexpr u64 hidden_bit = u64(1) << 52;
constexpr int min_exponent = -1074; // binary exponent of the mantissa's unit for subnormals

// A finite non-negative double as mantissa * 2^exponent, the mantissa below 2^53.
struct binary {
    u64 mantissa;
    int exponent;
};

inline binary split(double v) {
    u64 bits = std::bit_cast<u64>(v);
    u64 frac = bits & (hidden_bit - 1);
    int biased = static_cast<int>((bits >> 52) & 0x7ff);
    if (biased == 0) return {frac, min_exponent};
    return {frac | hidden_bit, biased - 1075};
}

} // namespace zel::float_text::detail
