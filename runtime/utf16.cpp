// UTF-16LE: decoding into text buffers (the unit chosen by one scan of the input) and encoding.
// A high surrogate without its low surrogate ends the process as invalid input; a lone low
// surrogate is kept as its code point.
#include <cstdio>
#include <vector>

#include "datatypes/string_buffer.hpp"
#include "runtime/errors.hpp"
#include "runtime/process.hpp"
#include "runtime/unicode.hpp"

namespace zel::utf16 {

using namespace text_units;

namespace {

constexpr u32 decoded_from_utf16 = 0x40000; // buffer flag

u32 unit_at(const u8* src, u32 i) {
    return src[2 * i] | (u32(src[2 * i + 1]) << 8);
}
bool is_high(u32 u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low(u32 u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Hands each code point to `sink`; the input was validated before.
template <class Sink> void walk(const u8* src, u32 count, bool drop_cr, Sink&& sink) {
    for (u32 i = 0; i < count; i++) {
        u32 u = unit_at(src, i);
        if (drop_cr && u == '\r') continue;
        if (is_high(u)) {
            u32 low = unit_at(src, ++i);
            u = 0x10000 + (((u & 0x3FF) << 10) | (low & 0x3FF));
        }
        sink(u);
    }
}

} // namespace

void invalid_input() {
    std::fputs("*** Input Error: invalid UTF-16LE codepoint\n", stdout);
    runtime::exit_process(1);
}

u32 decode_to_string(const u8* src, u32 count, const cell* target, bool drop_cr) {
    std::vector<u8> copy;
    if (count && arena::contains(src)) {
        copy.assign(src, src + std::size_t(count) * 2);
        src = copy.data();
    }
    u32 unit = 1;
    for (u32 i = 0; i < count && unit < 4; i++) {
        u8 high = src[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF)
            unit = 4;
        else if (high)
            unit = 2;
    }
    u32 n = 0;
    for (u32 i = 0; i < count; i++) {
        u32 u = unit_at(src, i);
        if (is_high(u)) {
            if (i + 1 >= count || !is_low(unit_at(src, i + 1))) invalid_input();
            i++;
        } else if (drop_cr && u == '\r') {
            continue;
        }
        n++;
    }
    u32 node;
    series_buffer* b;
    if (target) {
        node = target->w2;
        b = text_buffer::widen_to(buffer_of(node), unit);
        unit = unit_of(b);
        u64 need = u64(used_bytes(b)) + u64(n) * unit;
        if (need > 0xF0000000u) error::raise(err::E("internal", "no-memory"));
        if (u64(data_end(b) - head_ptr(b)) < need)
            b = memory::grow_series(b, static_cast<u32>(need));
    } else {
        node = memory::new_series(n ? n : 1, unit, 0);
        b = buffer_of(node);
    }
    b->flags |= decoded_from_utf16;
    with_unit(unit, [&]<class U>() {
        u8* t = tail_ptr(b);
        walk(src, count, drop_cr, [&](u32 cp) {
            store<U>(t, cp);
            t += sizeof(U);
        });
        b->tail = arena::offset_of(t);
    });
    return node;
}

u32 encode_codepoint(u32 cp, u16* dest) {
    if (cp < 0x10000) {
        dest[0] = static_cast<u16>(cp);
        return 1;
    }
    if (cp > 0x10FFFF) return 0;
    cp -= 0x10000;
    dest[0] = static_cast<u16>(0xD800 | (cp >> 10));
    dest[1] = static_cast<u16>(0xDC00 | (cp & 0x3FF));
    return 2;
}

std::optional<std::u16string> encode_string(const cell* s, i32 unit_limit, bool lf_as_crlf) {
    series_buffer* b = buffer_of(s->w2);
    u32 u = checked_unit(b);
    u32 units = used_units(b);
    i32 h = static_cast<i32>(s->w1);
    u32 head = h < 0 ? 0 : std::min<u32>(static_cast<u32>(h), units);
    u32 n = units - head;
    if (unit_limit >= 0 && static_cast<u32>(unit_limit) < n) n = static_cast<u32>(unit_limit);
    const u8* p = head_ptr(b) + std::size_t(head) * u;
    std::u16string out;
    out.reserve(n);
    bool ok = with_unit(u, [&]<class U>() {
        for (u32 i = 0; i < n; i++) {
            u32 cp = load<U>(p + std::size_t(i) * sizeof(U));
            if (cp == 0) break;
            if (lf_as_crlf && cp == '\n') out.push_back(u'\r');
            u16 pair[2];
            u32 k = encode_codepoint(cp, pair);
            if (!k) return false;
            out.append(reinterpret_cast<char16_t*>(pair), k);
        }
        return true;
    });
    if (!ok) return std::nullopt;
    return out;
}

} // namespace zel::utf16
