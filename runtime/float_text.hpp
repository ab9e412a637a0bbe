// Exact conversion between doubles and decimal text: shortest round-trip digits, correctly
// rounded fixed digits, their layouts, and correctly rounded parsing. Every result lives in the
// value returned, so conversions never share a buffer.
#pragma once
#include <cstddef>
#include <string_view>

namespace zel::float_text {

// Digit room: the most significant digits any conversion produces.
constexpr int max_digits = 30;
// Decimal-point positions that mark the special results.
constexpr int special_point = 9999; // infinity and NaN
constexpr int zero_point = 9998;

// The digits of a double. `text()` starts with "-" for a negative value; `count` is the number
// of digits (for the special results, the length of the text without its sign).
struct digits {
    char area[1 + max_digits + 1]; // sign position, digits, terminator
    int point;                     // digits "15" with point 1 mean 1.5
    bool negative;
    int count;

    std::string_view text() const { return {area + (negative ? 0 : 1), size_t(count + negative)}; }
};

// A laid-out text, short enough to carry by value.
struct formatted {
    char data[64];
    int length;

    std::string_view view() const { return {data, size_t(length)}; }
};

// A limit of 0 or less gives the shortest digits that read back to the same double; a positive
// limit (at most max_digits) gives that many significant digits, correctly rounded, with
// trailing zeros dropped. Infinity and NaN give "1.#INF", "-1.#INF" or "1.#NaN"; zero gives
// "0.0" or "-0.0" with the zero form, else "0" or "-0".
digits float_to_digits(double value, int limit, bool zero_form);

// Lays out the digits of float_to_digits: plain from 0.0000001 up to 17 integer digits,
// exponent form ("1.5e20", "1.0e-8") outside; a bare trailing "." becomes ".0" with the zero
// form and is dropped without it.
formatted format_float(double value, int limit, bool zero_form);

// The text printf's "%.<precision>g" writes: that many significant digits (1 for 0, at most
// max_digits), trailing zeros removed, exponent form below 1e-4 and from 10^precision, the
// exponent signed and at least two digits ("1e+20", "1.5e-07"); "inf", "-inf", "nan".
formatted format_general(double value, int precision);

// Reads a double from [start, end): optional sign, digits with an optional fraction and
// exponent, correctly rounded (half to even), or "1.#INF" / "1.#NaN" forms. The extra decimal
// exponent is added to the text's own. `left` receives the number of characters after the
// last one used (the whole length when no digits were found, the value then being 0).
double text_to_float(const char* start, const char* end, int extra_exponent, std::size_t& left);

} // namespace zel::float_text
