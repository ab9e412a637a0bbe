// money!: cell makers, the currency list, form and mold.
#include "datatypes/money.hpp"

#include <cstring>

#include "datatypes/context.hpp"
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

u32 currency_list() {
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

void register_type() {
    datatype::register_row(action_row{.type = type_id::money,
                                      .parent = 0,
                                      .name = "money!",
                                      .random = random_values::money,
                                      .form = form,
                                      .mold = mold});
}

} // namespace zel::money
