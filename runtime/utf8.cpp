// UTF-8: the strict automaton, the checked decoder of text read in, and the encoders. Decoding
// into a string measures and validates first, then writes: an invalid input leaves the target
// untouched, and no source address is read after an allocation.
#include <algorithm>
#include <vector>

#include "datatypes/string_buffer.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/unicode.hpp"

namespace zel::utf8 {

using namespace text_units;

namespace {

// Byte classes, then transitions indexed by state + class; states are multiples of 12.
constexpr u8 automaton[256 + 108] = {
    // 0x00-0x7F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x80-0x8F, 0x90-0x9F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    // 0xA0-0xBF
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    // 0xC0-0xDF
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    // 0xE0-0xEF, 0xF0-0xFF
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    8,
    // transitions
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12, 12,
    12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12,
    12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, 12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, 12,
    36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12};
constexpr u32 accept = 0;
constexpr u32 reject = 12;

[[noreturn]] void invalid_char(u32 cp) {
    cell arg;
    init_integer(&arg, static_cast<i32>(cp));
    error::raise(err::E("script", "invalid-char"), &arg);
}

// The error carries at most 4 bytes from the bad sequence, never more than the input holds.
[[noreturn]] void invalid_utf8(const u8* p, u32 available) {
    u8 bytes[4];
    u32 n = std::min<u32>(available, 4);
    std::memcpy(bytes, p, n);
    u32 node = memory::new_byte_series(4);
    series_buffer* b = buffer_of(node);
    std::memcpy(head_ptr(b), bytes, n);
    b->tail += n;
    cell* arg = stack::reserve_slot();
    *arg = cell{type_id::binary, 0, node, 0};
    error::raise(err::E("access", "invalid-utf8"), arg);
}

u32 encode_unchecked(u32 cp, u8* d) {
    if (cp <= 0x7F) {
        d[0] = static_cast<u8>(cp);
        return 1;
    }
    if (cp <= 0x7FF) {
        d[0] = static_cast<u8>(0xC0 | (cp >> 6));
        d[1] = static_cast<u8>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp <= 0xFFFF) {
        d[0] = static_cast<u8>(0xE0 | (cp >> 12));
        d[1] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
        d[2] = static_cast<u8>(0x80 | (cp & 0x3F));
        return 3;
    }
    d[0] = static_cast<u8>(0xF0 | (cp >> 18));
    d[1] = static_cast<u8>(0x80 | ((cp >> 12) & 0x3F));
    d[2] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
    d[3] = static_cast<u8>(0x80 | (cp & 0x3F));
    return 4;
}

bool is_escaped_byte(u32 cp) {
    return cp >= 0xDC80 && cp <= 0xDCFF;
}

// Walks the input and hands each code point to `sink`; answers the bytes of a sequence cut off
// at the end (0 in lossless mode, which keeps them).
template <class Sink> u32 walk(const u8* p, const u8* end, u32 flags, Sink&& sink) {
    bool crlf = flags & flag::crlf;
    bool lossless = flags & flag::lossless;
    // OS text keeps a leading U+FEFF: it may be part of a name.
    if (!lossless && end - p > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    while (p < end) {
        u32 cp;
        if (*p < 0x80) {
            cp = *p++;
        } else if (lossless) {
            step s = next_codepoint(p, end);
            if (s.code_point < 0) {
                cp = 0xDC00 + *p++;
            } else {
                cp = static_cast<u32>(s.code_point);
                p = s.next;
            }
        } else {
            u32 length = static_cast<u32>(end - p);
            i32 c = decode_sequence_checked(p, length);
            if (c < 0) return static_cast<u32>(end - p);
            cp = static_cast<u32>(c);
            p += length;
        }
        if (crlf && cp == '\r') {
            if (p < end && *p == '\n') continue;
            cp = '\n';
        }
        sink(cp);
    }
    return 0;
}

} // namespace

step next_codepoint(const u8* p, const u8* end) {
    u32 state = accept;
    u32 cp = 0;
    for (const u8* q = p; q < end; q++) {
        u32 type = automaton[*q];
        cp = state != accept ? (*q & 0x3Fu) | (cp << 6) : (0xFFu >> type) & *q;
        u32 next = automaton[256 + state + type];
        // The byte that breaks a sequence starts the next one.
        if (next == reject) return {q == p ? p + 1 : q, -1};
        state = next;
        if (state == accept) return {q + 1, static_cast<i32>(cp)};
    }
    return {end, -1};
}

u32 count_codepoints(const u8* start, const u8* end) {
    u32 n = 0;
    for (const u8* p = start; p < end; p = next_codepoint(p, end).next) n++;
    return n;
}

const u8* skip_codepoints(const u8* start, const u8* end, u32 n) {
    const u8* p = start;
    while (n-- > 0 && p < end) p = next_codepoint(p, end).next;
    return p < end ? p : end;
}

u32 lead_byte_length(u8 byte) {
    if ((byte & 0xF0) == 0xF0) return 4;
    if ((byte & 0xE0) == 0xE0) return 3;
    if ((byte & 0xC0) == 0xC0) return 2;
    return 0;
}

u32 encoded_size(u32 cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= 0x10FFFF) return 4;
    invalid_char(cp);
}

u64 measure_units(const u8* start, const u8* end, u32 unit) {
    return with_unit(unit, [&]<class U>() {
        u64 n = 0;
        for (const u8* p = start; p + sizeof(U) <= end; p += sizeof(U))
            n += encoded_size(load<U>(p));
        return n;
    });
}

u32 encode_codepoint(u32 cp, u8* dest) {
    if (cp > 0x10FFFF) invalid_char(cp);
    return encode_unchecked(cp, dest);
}

u32 encode_codepoint_bounded(u32 cp, u8* dest, u32 room) {
    u8 bytes[4];
    u32 n = std::min(encode_codepoint(cp, bytes), room);
    std::memcpy(dest, bytes, n);
    return n;
}

i32 decode_sequence_checked(const u8* p, u32& length) {
    u32 available = length;
    u8 lead = p[0];
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    u32 need;
    u32 cp;
    if (lead < 0xC0) invalid_utf8(p, available);
    if (lead < 0xE0) {
        need = 2;
        cp = lead & 0x1F;
    } else if (lead < 0xF0) {
        need = 3;
        cp = lead & 0x0F;
    } else if (lead < 0xF8) {
        need = 4;
        cp = lead & 0x07;
    } else {
        invalid_utf8(p, available);
    }
    // The bytes that are there are checked even when the sequence is cut off: a sequence that is
    // already broken is not waiting for more input.
    u32 have = std::min(available, need);
    for (u32 i = 1; i < have; i++) {
        if ((p[i] & 0xC0) != 0x80) invalid_utf8(p, available);
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (available < need) return -1;
    // An overlong form would let a character past every check made on the bytes ("/" as C0 AF,
    // NUL as C0 80): it is refused like any other invalid sequence.
    static constexpr u32 smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[need] || (need == 3 && cp >= 0xDC00 && cp <= 0xDCFF) ||
        (need == 4 && cp > 0x10FFFF))
        invalid_utf8(p, available);
    length = need;
    return static_cast<i32>(cp);
}

namespace {
// Runs `put` over each code point of the string's text from its head (at most `limit` units).
template <class Put> void each_codepoint(const cell* s, i32 limit, Put&& put) {
    series_buffer* b = buffer_of(s->w2);
    u32 u = checked_unit(b);
    u32 units = used_units(b);
    i32 h = static_cast<i32>(s->w1);
    u32 head = h < 0 ? 0 : std::min<u32>(static_cast<u32>(h), units);
    u32 n = units - head;
    if (limit >= 0 && static_cast<u32>(limit) < n) n = static_cast<u32>(limit);
    const u8* p = head_ptr(b) + std::size_t(head) * u;
    with_unit(u, [&]<class U>() {
        for (u32 i = 0; i < n; i++)
            if (!put(load<U>(p + std::size_t(i) * sizeof(U)))) break;
    });
}
} // namespace

std::string encode_string(const cell* s, i32 unit_limit, u32 flags) {
    std::string out;
    bool crlf = flags & flag::crlf;
    bool lossless = flags & flag::lossless;
    each_codepoint(s, unit_limit, [&](u32 cp) {
        u8 bytes[4];
        if (crlf && cp == '\n') out.push_back('\r');
        if (lossless && is_escaped_byte(cp)) {
            out.push_back(static_cast<char>(cp - 0xDC00));
            return true;
        }
        out.append(reinterpret_cast<char*>(bytes), encode_codepoint(cp, bytes));
        return true;
    });
    return out;
}

u32 encode_string_into(const cell* s, u8* dest, i32 unit_limit, bool nul) {
    u32 n = 0;
    each_codepoint(s, unit_limit, [&](u32 cp) {
        n += encode_codepoint(cp, dest + n);
        return true;
    });
    if (nul) dest[n] = 0;
    return n;
}

u32 encode_string_bounded(const cell* s, u8* dest, u32 room, i32 unit_limit, bool nul) {
    if (nul) {
        if (room == 0) return 0;
        room--;
    }
    u32 n = 0;
    each_codepoint(s, unit_limit > 0 ? unit_limit : -1, [&](u32 cp) {
        // A code point that does not fit whole is left out rather than cut.
        if (encoded_size(cp) > room - n) return false;
        n += encode_codepoint(cp, dest + n);
        return true;
    });
    if (nul) dest[n] = 0;
    return n;
}

u32 decode_into_buffer(const u8* src, u32 length, const cell* target, u32 flags, u32* remaining) {
    // Input inside the arena could move with the allocation below.
    std::vector<u8> copy;
    if (length && arena::contains(src)) {
        copy.assign(src, src + length);
        src = copy.data();
    }
    const u8* end = src + length;
    u32 count = 0;
    u32 widest = 0;
    u32 left = walk(src, end, flags, [&](u32 cp) {
        count++;
        widest = std::max(widest, cp);
    });
    if (remaining) *remaining = left;
    u32 unit = unit_for_write(widest);
    u32 node;
    series_buffer* b;
    if (target) {
        node = target->w2;
        b = text_buffer::widen_to(buffer_of(node), unit);
        unit = unit_of(b);
        u64 need = u64(used_bytes(b)) + u64(count) * unit;
        if (need > 0xF0000000u) error::raise(err::E("internal", "no-memory"));
        if (u64(data_end(b) - head_ptr(b)) < need)
            b = memory::grow_series(b, static_cast<u32>(need + need / 4));
    } else {
        node = memory::new_series(count ? count : 1, unit, 0);
        b = buffer_of(node);
    }
    with_unit(unit, [&]<class U>() {
        u8* t = tail_ptr(b);
        walk(src, end, flags, [&](u32 cp) {
            store<U>(t, cp);
            t += sizeof(U);
        });
        b->tail = arena::offset_of(t);
    });
    return node;
}

void decode_to_new_string(cell* out, const u8* src, u32 length, u32 flags, u32* remaining) {
    u32 node = decode_into_buffer(src, length, nullptr, flags, remaining);
    *out = cell{type_id::string, 0, node, 0};
}

} // namespace zel::utf8
