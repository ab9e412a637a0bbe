// Text-to-value parsers. Each steps through the text one unit at a time, whatever the unit size.
#include "lexer/convert.hpp"

#include <cmath>
#include <string>

#include "datatypes/money.hpp"
#include "datatypes/text_units.hpp"
#include "runtime/float_text.hpp"

namespace zel::convert {

namespace {

// Columns: other, sign, digit, exponent letter, point, apostrophe, end of text. State 9
// accepts, state 10 refuses.
constexpr u8 float_states[11][7] = {
    {10, 0, 1, 10, 4, 10, 10},  {10, 10, 1, 6, 5, 2, 9},      {10, 10, 1, 10, 10, 10, 9},
    {10, 10, 3, 6, 10, 4, 9},   {10, 10, 3, 10, 10, 10, 9},   {10, 10, 3, 10, 10, 10, 9},
    {10, 7, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 10},  {10, 10, 8, 10, 10, 10, 9},
    {9, 9, 9, 9, 9, 9, 9},      {10, 10, 10, 10, 10, 10, 10},
};

u32 float_column(u8 c) {
    if (c == '+' || c == '-') return 1;
    if (c >= '0' && c <= '9') return 2;
    if (c == 'e' || c == 'E') return 3;
    if (c == '.') return 4;
    if (c == '\'') return 5;
    return 0;
}

u32 unit_at(const u8* text, u32 i, u32 unit) {
    return text_units::read(text + std::size_t(i) * unit, unit);
}

bool is_letter(u32 c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_digit(u32 c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool float_syntax_ok(std::string_view text) {
    if (text.size() >= float_text_limit) return false;
    u32 state = 0;
    for (char c : text) {
        state = float_states[state][float_column(static_cast<u8>(c))];
        if (state == 10) return false;
    }
    return float_states[state][6] != 10;
}

bool text_to_double(std::string_view text, int extra_exponent, double& out) {
    std::string plain;
    plain.reserve(text.size());
    for (char c : text)
        if (c != '\'') plain.push_back(c);
    std::size_t left = 0;
    out =
        float_text::text_to_float(plain.data(), plain.data() + plain.size(), extra_exponent, left);
    return left == 0 && !plain.empty();
}

i32 string_to_integer(const u8* text, u32 count, u32 unit, i32& error) {
    error = -1;
    if (count == 0) return 0;
    u32 i = 0;
    bool negative = false;
    u32 first = unit_at(text, 0, unit);
    if (first == '+' || first == '-') {
        negative = first == '-';
        if (++i == count) return 0;
    }
    u64 limit = negative ? 2147483648ull : 2147483647ull;
    u64 value = 0;
    bool digits = false;
    for (; i < count; i++) {
        u32 c = unit_at(text, i, unit);
        if (c == '\'') continue;
        if (!is_digit(c)) {
            i64 so_far = negative ? -static_cast<i64>(value) : static_cast<i64>(value);
            return static_cast<i32>(so_far);
        }
        value = value * 10 + (c - '0');
        if (value > limit) {
            error = -2;
            return 0;
        }
        digits = true;
    }
    // A text of apostrophes only holds no number.
    if (!digits) return 0;
    error = 0;
    return static_cast<i32>(negative ? -static_cast<i64>(value) : static_cast<i64>(value));
}

double string_to_float(const u8* text, u32 count, u32 unit, i32& error) {
    error = -1;
    const double nan = std::nan("");
    if (count >= float_text_limit) return nan;
    std::string copy;
    copy.reserve(count);
    for (u32 i = 0; i < count; i++) {
        u32 c = unit_at(text, i, unit);
        if (c > 0xFF) return nan;
        copy.push_back(c == ',' ? '.' : static_cast<char>(c));
    }
    if (!float_syntax_ok(copy)) return nan;
    double value;
    if (!text_to_double(copy, 0, value)) return nan;
    error = 0;
    return value;
}

void string_to_money(const u8* text, u32 count, u32 unit, i32& error, cell* result) {
    error = -1;
    if (count == 0) return;
    u32 i = 0;
    bool negative = false;
    u32 first = unit_at(text, 0, unit);
    if (first == '+' || first == '-') {
        negative = first == '-';
        i++;
    }
    std::string currency;
    if (i < count && is_letter(unit_at(text, i, unit))) {
        // Three letters, "$" and a digit at least.
        if (count - i < 5) return;
        for (u32 k = 0; k < 3; k++) {
            u32 c = unit_at(text, i + k, unit);
            if (!is_letter(c)) return;
            currency.push_back(static_cast<char>(c));
        }
        i += 3;
        if (unit_at(text, i, unit) != '$') return;
    }
    if (i < count && unit_at(text, i, unit) == '$') {
        if (++i == count) return;
    } else if (!currency.empty()) {
        return;
    }
    std::string integral, fraction;
    bool after_point = false;
    u32 amount_start = i;
    u32 previous = 0;
    for (; i < count; i++) {
        u32 c = unit_at(text, i, unit);
        bool first_char = i == amount_start, last_char = i + 1 == count;
        if (c == '\'') {
            if (previous == '\'' || first_char || last_char || after_point) return;
        } else if (c == '.') {
            if (after_point || first_char || previous == '\'' || last_char) return;
            after_point = true;
        } else if (is_digit(c)) {
            (after_point ? fraction : integral).push_back(static_cast<char>(c));
        } else {
            return;
        }
        previous = c;
    }
    if (integral.empty() && fraction.empty()) return;
    cell value;
    if (!money::init_cell_from_text(&value, negative, currency, integral, fraction)) return;
    *result = value;
    error = 0;
}

} // namespace zel::convert
