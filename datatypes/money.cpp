// money!: cell makers, the currency list, form and mold.
#include "datatypes/money.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/context.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/scalar_common.hpp"
#include "evaluator/actions.hpp"
#include "lexer/convert.hpp"
#include "runtime/errors.hpp"
#include "runtime/float_text.hpp"
#include "datatypes/object.hpp"
#include "datatypes/random_values.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/word.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"
#include "runtime/roots.hpp"

namespace zel::money {

namespace {
constexpr u32 integral_digits = 17;
constexpr u32 fraction_digits = 5;
constexpr u32 all_digits = integral_digits + fraction_digits;

constexpr const char* standard_codes =
    "AED AFN ALL AMD ANG AOA ARS AUD AWG AZN BAM BBD BDT BTC BGN BHD BIF BMD BND BOB BRL BSD BTN "
    "BWP BYN BZD CAD CDF CHF CKD CLP CNY COP CRC CUC CUP CVE CZK DJF DKK DOP DZD EGP ERN ETB ETH "
    "EUR FJD FKP FOK GBP GEL GGP GHS GIP GMD GNF GTQ GYD HKD HNL HRK HTG HUF IDR ILS IMP INR IQD "
    "IRR ISK JEP JMD JOD JPY KES KGS KHR KID KMF KPW KRW KWD KYD KZT LAK LBP LKR LRD LSL LYD MAD "
    "MDL MGA MKD MMK MNT MOP MRU MUR MVR MWK MXN MYR MZN NAD NGN NIO NOK NPR NZD OMR PAB PEN PGK "
    "PHP PKR PLN PND PRB PYG QAR ZEL RON RSD RUB RWF SAR SBD SCR SDG SEK SGD SHP SLL SLS SOS SRD "
    "SSP STN SYP SZL THB TJS TMT TND TOP TRY TTD TVD TWD TZS UAH UGX USD UYU UZS VES VND VUV WST "
    "CFA XAF XCD XOF CFP XPF YER ZAR ZMW";

u32 list_node = 0;

u8* digits_of(cell* m) {
    return reinterpret_cast<u8*>(&m->w1) + 1;
}
const u8* digits_of(const cell* m) {
    return reinterpret_cast<const u8*>(&m->w1) + 1;
}
u32 currency_of(const cell* m) {
    return m->w1 & 0xFF;
}

// Digit positions count from 1 (the highest integral digit) to 22 (the fifth fractional one).
u32 digit_at(const u8* digits, u32 position) {
    u8 byte = digits[(position - 1) / 2];
    return position & 1 ? byte >> 4 : byte & 15;
}
void set_digit(u8* digits, u32 position, u32 d) {
    u8& byte = digits[(position - 1) / 2];
    byte =
        position & 1 ? static_cast<u8>((byte & 0x0F) | d << 4) : static_cast<u8>((byte & 0xF0) | d);
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool same_code(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// The currency word's text at a 1-based index, or "" when the list has no such word.
std::string_view currency_text(u32 index) {
    series_buffer* b = buffer_of(currency_list());
    if (index == 0 || index > used_units(b)) return {};
    const cell* w = head_cell(b) + (index - 1);
    if (!is_any_word_type(type_of(w))) return {};
    return symbol::text_view(w->w2);
}
} // namespace

namespace {
// system/locale/currencies/list as it is now: the user may replace the block at any time.
u32 system_list_node() {
    static u32 locale = 0, currencies = 0, list = 0;
    if (!locale) {
        locale = symbol::intern_text("locale");
        currencies = symbol::intern_text("currencies");
        list = symbol::intern_text("list");
    }
    cell w = context::global_word(sym::system);
    const cell* v = context::word_value_address(&w);
    u32 path[3] = {locale, currencies, list};
    for (u32 field : path) {
        if (!v || !is(v, type_id::object)) return 0;
        v = object::field_value(v, field);
    }
    return v && is(v, type_id::block) ? v->w2 : 0;
}
} // namespace

u32 currency_list() {
    if (u32 node = system_list_node()) return node;
    if (list_node) return list_node;
    u32 node = memory::new_cell_series(256);
    cell block{type_id::block, 0, node, 0};
    roots::append(&block);
    std::string_view codes = standard_codes;
    for (std::size_t i = 0; i < codes.size(); i += 4) {
        cell word;
        word::init_cell_global(symbol::intern_text(codes.substr(i, 3)), &word);
        *memory::append_cell_slot(&block) = word;
    }
    list_node = node;
    return list_node;
}

void set_currency_list(const cell* block) {
    roots::append(block); // kept for good: money values hold indexes into it
    list_node = block->w2;
}

i32 find_currency(std::string_view code) {
    series_buffer* b = buffer_of(currency_list());
    u32 n = used_units(b);
    for (u32 i = 0; i < n; i++) {
        const cell* w = head_cell(buffer_of(currency_list())) + i;
        if (is_any_word_type(type_of(w)) && same_code(symbol::text_view(w->w2), code))
            return static_cast<i32>(i + 1);
    }
    return -1;
}

bool init_cell_from_text(cell* slot, bool negative, std::string_view currency,
                         std::string_view integral, std::string_view fraction) {
    u32 index = 0;
    if (!currency.empty()) {
        i32 found = find_currency(currency);
        if (found < 1 || found > 255) return false;
        index = static_cast<u32>(found);
    }
    u8 digits[digit_bytes] = {};
    u32 position = integral_digits + 1;
    for (std::size_t i = integral.size(); i-- > 0;) {
        char c = integral[i];
        if (c == '\'') continue;
        if (!is_digit(c)) return false;
        if (position == 1) {
            // Digits beyond the seventeenth may only be leading zeros.
            if (c != '0') return false;
            continue;
        }
        set_digit(digits, --position, static_cast<u32>(c - '0'));
    }
    for (std::size_t i = 0; i < fraction.size(); i++) {
        char c = fraction[i];
        if (!is_digit(c)) return false;
        if (i < fraction_digits)
            set_digit(digits, integral_digits + 1 + i, static_cast<u32>(c - '0'));
    }
    init_cell(slot, negative, index, digits);
    return true;
}

cell* init_cell(cell* slot, bool negative, u32 currency_index, const u8* digits) {
    u32 header = (slot->header & cell_flag::newline) | type_id::money | (negative ? sign_bit : 0);
    *slot = {header, currency_index & 0xFF, 0, 0};
    std::memcpy(digits_of(slot), digits, digit_bytes);
    return slot;
}

cell* push_new(bool negative, u32 currency_index, const u8* digits) {
    cell* c = stack::reserve_slot();
    c->header = 0;
    return init_cell(c, negative, currency_index, digits);
}

namespace {
u32 significant_digits(const cell* m) {
    const u8* digits = digits_of(m);
    for (u32 p = 1; p <= all_digits; p++)
        if (digit_at(digits, p)) return all_digits + 1 - p;
    return 1;
}

i32 signum(const cell* m) {
    const u8* digits = digits_of(m);
    for (u32 i = 0; i < digit_bytes; i++)
        if (digits[i]) return m->header & sign_bit ? -1 : 1;
    return 0;
}

// system/options/money-digits, read at every form: the user may set it at any time.
const cell* digits_option() {
    cell w = context::global_word(sym::system);
    const cell* system = context::word_value_address(&w);
    if (!system || !is(system, type_id::object)) return nullptr;
    const cell* options = object::field_value(system, sym::options);
    if (!is(options, type_id::object)) return nullptr;
    return object::field_value(options, sym::money_digits);
}

// The fraction digits shown: the option when it is an integer! (else 2), at most 5, none below 1.
i32 shown_fraction_digits(bool all) {
    if (all) return fraction_digits;
    i32 d = 2;
    const cell* option = digits_option();
    if (option && type_of(option) == type_id::integer) d = int_of(option);
    return d > static_cast<i32>(fraction_digits) ? static_cast<i32>(fraction_digits) : d;
}

// Writes the digits of positions [from, to]; with grouping a "'" follows each digit whose
// position + 1 is a multiple of 3, unless it is the last one written.
i32 write_digits(cell* buffer, const u8* digits, u32 from, u32 to, bool grouping, i32 limit) {
    std::string text;
    for (u32 p = from; p <= to; p++) {
        text += static_cast<char>('0' + digit_at(digits, p));
        if (grouping && (p + 1) % 3 == 0 && p != to) text += '\'';
    }
    return out::text(buffer, text, limit);
}

i32 form_amount(cell* value, cell* buffer, i32 limit, bool all, bool grouping) {
    if (signum(value) < 0) limit = out::text(buffer, "-", limit);
    if (u32 index = currency_of(value)) {
        std::string code(currency_text(index));
        out::text(buffer, code, limit);
        limit -= 3;
    }
    limit = out::text(buffer, "$", limit);
    u32 n = significant_digits(value);
    cell copy = *value;
    const u8* digits = digits_of(&copy);
    if (n > fraction_digits)
        limit = write_digits(buffer, digits, all_digits + 1 - n, integral_digits, grouping, limit);
    else
        limit = out::text(buffer, "0", limit);
    i32 d = shown_fraction_digits(all);
    if (d >= 1) {
        limit = out::text(buffer, ".", limit);
        limit =
            write_digits(buffer, digits, integral_digits + 1, integral_digits + d, grouping, limit);
    }
    return limit;
}

i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    return form_amount(value, buffer, limit, false, true);
}

i32 mold(cell* value, cell* buffer, bool, bool all, bool, cell*, i32 limit, i32) {
    return form_amount(value, buffer, limit, all, false);
}
} // namespace

// ---- amounts ----------------------------------------------------------------------------------

namespace {
__extension__ using u128 = unsigned __int128;

// A money value taken apart: the magnitude counts hundred-thousandths (22 digits at most).
struct amount {
    bool negative = false;
    u32 currency = 0;
    u128 m = 0;
};

constexpr u128 pow10(u32 n) {
    u128 r = 1;
    while (n--) r *= 10;
    return r;
}
constexpr u128 cell_limit = pow10(all_digits); // first magnitude that does not fit
constexpr u128 unit = pow10(fraction_digits);  // the magnitude of 1

amount amount_of(const cell* c) {
    amount a;
    a.negative = c->header & sign_bit;
    a.currency = currency_of(c);
    const u8* digits = digits_of(c);
    for (u32 p = 1; p <= all_digits; p++) a.m = a.m * 10 + digit_at(digits, p);
    return a;
}

cell* store(cell* slot, const amount& a) {
    u8 digits[digit_bytes] = {};
    u128 m = a.m;
    for (u32 p = all_digits; p >= 1; p--) {
        set_digit(digits, p, static_cast<u32>(m % 10));
        m /= 10;
    }
    return init_cell(slot, a.negative, a.currency, digits);
}

u32 digit_count(u128 m) {
    u32 n = 1;
    while (m >= 10) m /= 10, n++;
    return n;
}

i32 sign_of(const amount& a) { return a.m == 0 ? 0 : a.negative ? -1 : 1; }

[[noreturn]] void raise_limit(u32 type) {
    cell t;
    init_datatype(&t, type);
    error::raise(err::E("script", "type-limit"), &t);
}
[[noreturn]] void raise_bad_make(const cell* spec) {
    cell t, s = *spec;
    init_datatype(&t, type_id::money);
    error::raise(err::E("script", "bad-make-arg"), &t, &s);
}

amount of_integer(i32 n) {
    amount a;
    a.negative = n < 0;
    a.m = static_cast<u128>(n < 0 ? -static_cast<i64>(n) : static_cast<i64>(n)) * unit;
    return a;
}

bool float_too_large(double d) { return std::fabs(d) >= 1e17; }
bool float_too_small(double d) { return d != 0 && std::fabs(d) < 1e-05; }

// From the float's shortest decimal text, so 0.1 is 0.10000 and not 0.1000000000000000055;
// strict refuses more than five fractional digits, lenient drops them.
bool of_float(double d, bool strict, amount& out) {
    if (!std::isfinite(d) || float_too_large(d) || float_too_small(d)) return false;
    out = amount{};
    out.negative = std::signbit(d);
    if (d == 0) return true;
    float_text::digits dg = float_text::float_to_digits(std::fabs(d), 0, false);
    std::string digits(dg.area + 1, static_cast<std::size_t>(dg.count));
    // value = 0.digits x 10^point; in units of 1e-5 the point moves 5 places right.
    i32 shift = dg.point + static_cast<i32>(fraction_digits);
    u128 m = 0;
    for (i32 i = 0; i < dg.count; i++) {
        if (i >= shift) {
            if (strict) return false;
            break;
        }
        m = m * 10 + static_cast<u32>(digits[static_cast<std::size_t>(i)] - '0');
    }
    for (i32 i = dg.count; i < shift; i++) m *= 10;
    out.m = m;
    return true;
}

double as_double(const amount& a) {
    std::string text = std::to_string(static_cast<unsigned long long>(a.m / unit)) + ".";
    std::string fraction = std::to_string(static_cast<unsigned long long>(a.m % unit));
    text += std::string(fraction_digits - fraction.size(), '0') + fraction;
    double d = std::strtod(text.c_str(), nullptr);
    return a.negative && a.m ? -d : d;
}

i32 compare_amounts(const amount& a, const amount& b) {
    i32 sa = sign_of(a), sb = sign_of(b);
    if (sa != sb || sa == 0) return (sa > sb) - (sa < sb);
    i32 r = (a.m > b.m) - (a.m < b.m);
    return sa < 0 ? -r : r;
}

bool currencies_match(const amount& a, const amount& b) {
    return a.currency == b.currency || a.currency == 0 || b.currency == 0;
}

[[noreturn]] void raise_wrong_denom(const cell* a, const cell* b) {
    cell x = *a, y = *b;
    error::raise(err::E("script", "wrong-denom"), &x, &y);
}

// An operand of the arithmetic as an amount: money, integer, or float/percent (lenient).
amount operand(const cell* c) {
    switch (type_of(c)) {
    case type_id::money: return amount_of(c);
    case type_id::integer: return of_integer(int_of(c));
    case type_id::float_:
    case type_id::percent: {
        amount a;
        if (!of_float(float_of(c), false, a)) raise_bad_make(c);
        return a;
    }
    default: cores::raise_invalid_type(type_of(c));
    }
}

amount add_amounts(amount a, amount b) {
    if (b.m == 0) return a;
    if (a.m == 0) return b;
    if (a.negative == b.negative) {
        a.m += b.m;
        if (a.m >= cell_limit) raise_limit(type_id::money);
        return a;
    }
    // Different signs: the larger magnitude keeps its sign.
    if (a.m >= b.m) a.m -= b.m;
    else a.m = b.m - a.m, a.negative = b.negative;
    return a;
}
} // namespace

void math_op(i32 operation) {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    bool left_money = is(left, type_id::money), right_money = is(right, type_id::money);
    if ((operation == cores::op::multiply && left_money && right_money) ||
        ((operation == cores::op::divide || operation == cores::op::remainder) && !left_money))
        cores::raise_invalid_type(type_of(left));
    if (operation > cores::op::remainder) cores::raise_invalid_type(type_of(right));
    amount a = operand(left), b = operand(right);
    if (!currencies_match(a, b)) raise_wrong_denom(left, right);
    u32 currency = b.currency ? b.currency : a.currency;
    amount r;
    switch (operation) {
    case cores::op::add: r = add_amounts(a, b); break;
    case cores::op::subtract:
        b.negative = !b.negative;
        r = add_amounts(a, b);
        break;
    case cores::op::multiply: {
        if (a.m == 0 || b.m == 0) break;
        if (digit_count(a.m) + digit_count(b.m) > 28) raise_limit(type_id::money);
        u128 p = a.m * b.m; // hundred-thousandths squared: ten fractional digits
        if (p >= pow10(all_digits + fraction_digits)) raise_limit(type_id::money);
        r.m = p / unit; // the extra fractional digits are dropped, not rounded
        if (r.m == 0) raise_limit(type_id::money);
        r.negative = a.negative != b.negative;
        break;
    }
    case cores::op::divide:
    case cores::op::remainder: {
        if (b.m == 0) error::raise(err::E("math", "zero-divide"));
        r = a; // a zero dividend is the result itself
        if (a.m != 0) {
            if (static_cast<i32>(digit_count(a.m)) - static_cast<i32>(digit_count(b.m)) + 6 > 22)
                raise_limit(type_id::money);
            if (operation == cores::op::remainder) {
                r.m = a.m % b.m; // the dividend's sign
            } else {
                r.m = a.m * unit / b.m;
                if (r.m >= cell_limit || r.m == 0) raise_limit(type_id::money);
                r.negative = a.negative != b.negative;
            }
        }
        if (operation == cores::op::divide && left_money && right_money) {
            init_float(left, as_double(r));
            return;
        }
        break;
    }
    default: break;
    }
    r.currency = currency;
    store(left, r);
}

namespace {
template <i32 Op> void math_entry() { math_op(Op); }

namespace cop = actions::compare_op;

i32 compare(cell* value, cell* other, i32 op) {
    u32 ot = type_of(other);
    bool strict = op == cop::strict_equal || op == cop::same || op == cop::find;
    if (strict && ot != type_id::money) return 1;
    amount a = amount_of(value), b;
    switch (ot) {
    case type_id::money: {
        b = amount_of(other);
        if (op >= cop::lesser && op <= cop::greater_or_equal) {
            if (!currencies_match(a, b)) raise_wrong_denom(value, other);
        } else if (op == cop::sort || op == cop::case_sort) {
            if (a.currency != b.currency) {
                if (!a.currency || !b.currency) return a.currency ? 1 : -1;
                std::string_view x = currency_text(a.currency), y = currency_text(b.currency);
                return x < y ? -1 : 1;
            }
        } else {
            bool exact = op == cop::strict_equal || op == cop::same ||
                         (op == cop::find && b.currency);
            if (exact ? a.currency != b.currency : !currencies_match(a, b)) return 1;
        }
        break;
    }
    case type_id::integer: b = of_integer(int_of(other)); break;
    case type_id::float_: {
        double f = float_of(other);
        // Out of the money range the float's sign decides, as it would between numbers.
        if (float_too_large(f)) return f > 0 ? -1 : 1;
        if (float_too_small(f)) {
            i32 s = sign_of(a);
            return s ? s : (f > 0 ? -1 : 1);
        }
        if (!of_float(f, true, b)) raise_bad_make(other);
        break;
    }
    default: return -2;
    }
    return compare_amounts(a, b);
}

cell* from_block(cell* proto, cell* spec) {
    series_buffer* buf = buffer_of(spec->w2);
    u32 len = used_units(buf) > spec->w1 ? used_units(buf) - spec->w1 : 0;
    if (len < 1 || len > 3) raise_bad_make(spec);
    cell items[3];
    for (u32 i = 0; i < len; i++) items[i] = head_cell(buffer_of(spec->w2))[spec->w1 + i];
    u32 i = 0, currency = 0;
    if (is(&items[0], type_id::word)) {
        i32 found = find_currency(symbol::text(items[0].w2));
        if (found < 1 || len < 2) raise_bad_make(spec);
        currency = static_cast<u32>(found);
        i = 1;
    }
    amount a;
    if (is(&items[i], type_id::integer)) {
        a = of_integer(int_of(&items[i]));
    } else if (is(&items[i], type_id::float_)) {
        if (i + 1 != len || !of_float(float_of(&items[i]), true, a)) raise_bad_make(spec);
    } else {
        raise_bad_make(spec);
    }
    if (++i < len) {
        const cell* f = &items[i];
        if (i + 1 != len || !is(f, type_id::integer) || int_of(f) < 0 || int_of(f) > 99999)
            raise_bad_make(spec);
        amount fraction;
        fraction.m = static_cast<u128>(int_of(f));
        fraction.negative = a.negative;
        a = add_amounts(a, fraction);
    }
    a.currency = currency;
    return store(proto, a);
}

cell* to(cell* proto, cell* spec, u32) {
    switch (type_of(spec)) {
    case type_id::string:
    case type_id::file:
    case type_id::url:
    case type_id::tag:
    case type_id::email:
    case type_id::ref: {
        series_buffer* b = buffer_of(spec->w2);
        u32 len = used_units(b);
        u32 head = spec->w1 < len ? spec->w1 : len;
        i32 error = 0;
        cell r{};
        convert::string_to_money(head_ptr(b) + head * unit_of(b), len - head, unit_of(b), error,
                                 &r);
        if (error) scalar::raise_bad_to(type_id::money, spec);
        *proto = r;
        return proto;
    }
    case type_id::integer: return store(proto, of_integer(int_of(spec)));
    case type_id::float_: {
        amount a;
        if (!of_float(float_of(spec), true, a)) raise_bad_make(spec);
        return store(proto, a);
    }
    case type_id::money: *proto = *spec; return proto;
    default: scalar::raise_bad_to(type_id::money, spec);
    }
}

cell* make(cell* proto, cell* spec, u32 type) {
    if (is(spec, type_id::word)) {
        i32 found = find_currency(symbol::text(spec->w2));
        if (found < 1) raise_bad_make(spec);
        amount a;
        a.currency = static_cast<u32>(found);
        return store(proto, a);
    }
    if (is(spec, type_id::block)) return from_block(proto, spec);
    return to(proto, spec, type);
}

void absolute() { stack::arg(0)->header &= ~sign_bit; }
void negate(cell* v) { v->header ^= sign_bit; }
void even(cell* v) { init_logic(v, !(digit_at(digits_of(v), integral_digits) & 1)); }
void odd(cell* v) { init_logic(v, digit_at(digits_of(v), integral_digits) & 1); }

void round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
           bool ceiling, bool half_ceiling) {
    amount v = amount_of(value);
    if (v.m == 0) return;
    amount s;
    s.m = unit;
    if (scale) {
        switch (type_of(scale)) {
        case type_id::money: s = amount_of(scale); break;
        case type_id::integer: s = of_integer(int_of(scale)); break;
        case type_id::float_:
            if (!of_float(float_of(scale), true, s)) raise_bad_make(scale);
            break;
        default: cores::raise_not_related("round", type_of(scale));
        }
    }
    if (s.m == 0) return;
    u128 m = v.m, r = m % s.m;
    if (r == 0) return; // already a multiple: no rule may move it to the next one
    u128 lower = m - r, upper = m + (s.m - r);
    // A tie is a remainder of exactly half the scale, and /even looks at the parity of the
    // multiple below: with the scale 1 that is the units digit, with other scales it is not.
    bool tie = 2 * r == s.m;
    u128 nearest = r < s.m - r ? lower : upper;
    u128 result;
    bool positive = !v.negative;
    u32 units_digit = static_cast<u32>((m / s.m) % 10);
    if (down) result = lower;
    else if (floor) result = positive ? lower : upper;
    else if (ceiling) result = positive ? upper : lower;
    else if (even) result = tie && units_digit % 2 == 0 ? lower : nearest;
    else if (half_down) result = tie ? lower : nearest;
    else if (half_ceiling) result = tie ? (positive ? upper : lower) : nearest;
    else result = nearest;
    if (result >= cell_limit) raise_limit(type_id::money);
    v.m = result;
    store(value, v);
}

cell* field(cell* value, const cell* index, bool path) {
    static cell reached;
    u32 n = 0;
    if (is(index, type_id::integer)) n = int_of(index) == 1 ? 1 : int_of(index) == 2 ? 2 : 0;
    else if (scalar::word_is(index, "code")) n = 1;
    else if (scalar::word_is(index, "amount")) n = 2;
    if (n == 0) {
        cell i = *index;
        if (path) return nullptr;
        error::raise(err::E("script", "out-of-range"), &i);
    }
    if (n == 2) {
        reached = *value;
        reached.w1 &= ~0xFFu;
        return &reached;
    }
    u32 c = currency_of(value);
    series_buffer* b = buffer_of(currency_list());
    if (c == 0 || c > used_units(b)) return init_none(&reached);
    reached = head_cell(b)[c - 1];
    return &reached;
}

cell* pick(cell* value, i32, cell* index) { return field(value, index, false); }

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    cell none_path{type_id::none, 0, 0, 0};
    const cell* path = step.path ? step.path : &none_path;
    cell* r = field(parent, element, true);
    if (!r) error::raise(err::E("script", "invalid-path"), path, element);
    if (value) error::raise(err::E("script", "bad-path-set"), path, element);
    return r;
}

void of_float_core(cell* target, double d) {
    amount a;
    if (!of_float(d, false, a)) a = amount{};
    *target = {0, 0, 0, 0};
    store(target, a);
}
void of_integer_core(cell* target, double d) {
    *target = {0, 0, 0, 0};
    store(target, of_integer(static_cast<i32>(d)));
}
i32 as_integer(const cell* c) {
    amount a = amount_of(c);
    u128 n = a.m / unit;
    if (n > (a.negative ? u128(2147483648u) : u128(2147483647u))) raise_limit(type_id::integer);
    i64 v = static_cast<i64>(n);
    return static_cast<i32>(a.negative ? -v : v);
}
double as_double_core(const cell* c) { return as_double(amount_of(c)); }
} // namespace

void register_type() {
    cores::money_math = math_op;
    cores::money_compare = compare;
    cores::money_of_float = of_float_core;
    cores::money_of_integer = of_integer_core;
    cores::money_as_integer = as_integer;
    cores::money_as_double = as_double_core;
    datatype::register_row(action_row{.type = type_id::money,
                                      .parent = 0,
                                      .name = "money!",
                                      .make = make,
                                      .random = random_values::money,
                                      .to = to,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = eval_path,
                                      .compare = compare,
                                      .absolute = absolute,
                                      .add = math_entry<cores::op::add>,
                                      .divide = math_entry<cores::op::divide>,
                                      .multiply = math_entry<cores::op::multiply>,
                                      .negate = negate,
                                      .remainder = math_entry<cores::op::remainder>,
                                      .round = round,
                                      .subtract = math_entry<cores::op::subtract>,
                                      .even_q = even,
                                      .odd_q = odd,
                                      .pick = pick});
}

} // namespace zel::money
