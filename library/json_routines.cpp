// The JSON decoder's escape undoing, in place on a string's buffer. The grammar has already
// checked the escapes' shape; what it cannot see (a high surrogate without its low half, a
// \u with too few digits when called directly) fails here with invalid-data, never reading
// past the tail.
#include "library/json_routines.hpp"

#include <algorithm>
#include <vector>

#include "datatypes/string_buffer.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"

namespace zel::json_routines {

namespace {

[[noreturn]] void invalid(cell* s) {
    cell* copy = string::push_copy(s);
    error::raise(err::E("script", "invalid-data"), copy);
}

i32 hex_digit(u32 c) {
    if (c >= '0' && c <= '9') return static_cast<i32>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<i32>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<i32>(c - 'a' + 10);
    return -1;
}

// Four hexadecimal digits at `at` of the code points, or -1.
i32 hex4(const std::vector<u32>& cps, std::size_t at) {
    if (at + 4 > cps.size()) return -1;
    i32 v = 0;
    for (std::size_t i = at; i < at + 4; i++) {
        i32 d = hex_digit(cps[i]);
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

void unescape() {
    cell* s = stack::arg(0);
    u32 n = string::units_from_head(s);
    i32 at = static_cast<i32>(s->w1);
    u32 head = at < 0 ? 0 : static_cast<u32>(at);
    // The code points are read out first: the writes then never meet unread text, and a widened
    // buffer needs no re-reading.
    std::vector<u32> in(n);
    const u8* p = string::head_address(s);
    u32 unit = text_units::checked_unit(string::buffer_of_cell(s));
    for (u32 i = 0; i < n; i++) in[i] = string::read_unit(p + std::size_t(i) * unit, unit);

    std::vector<u32> out;
    out.reserve(n);
    for (std::size_t i = 0; i < in.size(); i++) {
        u32 c = in[i];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i >= in.size()) invalid(s);
        switch (in[i]) {
        case '"':
        case '\\':
        case '/':
            out.push_back(in[i]);
            break;
        case 'b':
            out.push_back(8);
            break;
        case 'f':
            out.push_back(12);
            break;
        case 'n':
            out.push_back(10);
            break;
        case 'r':
            out.push_back(13);
            break;
        case 't':
            out.push_back(9);
            break;
        case 'u': {
            i32 v = hex4(in, i + 1);
            if (v < 0) invalid(s);
            i += 4;
            if (v >= 0xD800 && v <= 0xDBFF) {
                if (i + 6 >= in.size()) invalid(s);
                if (in[i + 1] != '\\' || in[i + 2] != 'u') invalid(s);
                i32 low = hex4(in, i + 3);
                if (low < 0xDC00 || low > 0xDFFF) invalid(s);
                i += 6;
                v = 0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00);
            }
            out.push_back(static_cast<u32>(v));
            break;
        }
        default:
            // Not an escape the grammar lets through: both characters are kept.
            out.push_back('\\');
            out.push_back(in[i]);
        }
    }

    series_buffer* b = string::buffer_of_cell(s);
    u32 need = unit;
    for (u32 c : out) need = std::max(need, text_units::unit_for_write(c));
    if (need > unit) {
        b = string::widen_buffer(b, unit, need);
        unit = need;
    }
    u8* w = head_ptr(b) + std::size_t(head) * unit;
    for (std::size_t i = 0; i < out.size(); i++) text_units::write(w + i * unit, unit, out[i]);
    string::truncate_units(b, head + static_cast<u32>(out.size()));
    routines::answer(*s);
}

const routines::definition table[] = {
    {"_json-unescape", "[str [string!] return: [string!]]", unescape},
};

} // namespace

std::span<const routines::definition> private_routines() {
    return table;
}

} // namespace zel::json_routines
