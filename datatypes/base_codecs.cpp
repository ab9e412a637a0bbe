// Base 2, 16, 58 and 64 text codecs. Decoders collect their bytes first and make the series only
// on success, so a failure leaves nothing behind.
#include "datatypes/base_codecs.hpp"

#include <vector>

#include "datatypes/text_units.hpp"
#include "runtime/memory.hpp"

namespace zel::binary {

namespace {
constexpr char hex_digits[] = "0123456789ABCDEF";
constexpr char base64_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char base58_alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

// The code points of a text in units of 1, 2 or 4 bytes.
struct text_reader {
    const u8* text;
    u32 count;
    u32 unit;
    u32 at(u32 i) const { return text_units::read(text + std::size_t(i) * unit, unit); }
    // Skips a ";" comment starting at i; answers the index of its line feed (or the end).
    u32 comment_end(u32 i) const {
        while (i < count && at(i) != '\n') i++;
        return i;
    }
};

decoded success(const std::vector<u8>& bytes) {
    u32 n = static_cast<u32>(bytes.size());
    u32 node = memory::new_byte_series(n ? n : 1);
    series_buffer* b = buffer_of(node);
    for (u32 i = 0; i < n; i++) head_ptr(b)[i] = bytes[i];
    b->tail = b->head + n;
    return {node, 0};
}

decoded failure(u32 at) {
    return {0, at};
}

i32 hex_value(u32 cp) {
    if (cp >= '0' && cp <= '9') return static_cast<i32>(cp - '0');
    if (cp >= 'A' && cp <= 'F') return static_cast<i32>(cp - 'A' + 10);
    if (cp >= 'a' && cp <= 'f') return static_cast<i32>(cp - 'a' + 10);
    return -1;
}

// The literal syntax skips TAB, LF, CR and space; debase skips every code point up to 32.
bool skipped_blank(u32 cp, bool strict) {
    if (strict) return cp == '\t' || cp == '\n' || cp == '\r' || cp == ' ';
    return cp <= 32;
}

// Base 58 and 64 skip backspace, TAB, LF, form feed, CR, space and the apostrophe.
bool skipped_in_64(u32 cp) {
    return cp == 8 || cp == '\t' || cp == '\n' || cp == 12 || cp == '\r' || cp == ' ' || cp == '\'';
}

i32 base64_value(u32 cp) {
    if (cp >= 'A' && cp <= 'Z') return static_cast<i32>(cp - 'A');
    if (cp >= 'a' && cp <= 'z') return static_cast<i32>(cp - 'a' + 26);
    if (cp >= '0' && cp <= '9') return static_cast<i32>(cp - '0' + 52);
    if (cp == '+') return 62;
    if (cp == '/') return 63;
    return -1;
}

i32 base58_value(u32 cp) {
    for (i32 i = 0; i < 58; i++)
        if (static_cast<u32>(base58_alphabet[i]) == cp) return i;
    return -1;
}
} // namespace

u8* to_base2_text(u8* out, const u8* bytes, u32 count) {
    for (u32 i = 0; i < count; i++)
        for (int bit = 7; bit >= 0; bit--) *out++ = static_cast<u8>('0' + ((bytes[i] >> bit) & 1));
    return out;
}

u8* to_base16_text(u8* out, const u8* bytes, u32 count) {
    for (u32 i = 0; i < count; i++) {
        *out++ = static_cast<u8>(hex_digits[bytes[i] >> 4]);
        *out++ = static_cast<u8>(hex_digits[bytes[i] & 15]);
    }
    return out;
}

u8* to_base64_text(u8* out, const u8* bytes, u32 count) {
    u32 i = 0;
    for (; i + 3 <= count; i += 3) {
        u32 group = u32(bytes[i]) << 16 | u32(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            *out++ = static_cast<u8>(base64_alphabet[(group >> shift) & 63]);
    }
    if (u32 left = count - i) {
        u32 group = u32(bytes[i]) << 16 | (left == 2 ? u32(bytes[i + 1]) << 8 : 0);
        *out++ = static_cast<u8>(base64_alphabet[group >> 18]);
        *out++ = static_cast<u8>(base64_alphabet[(group >> 12) & 63]);
        *out++ = left == 2 ? static_cast<u8>(base64_alphabet[(group >> 6) & 63]) : u8('=');
        *out++ = '=';
    }
    return out;
}

u8* to_base58_text(u8* out, const u8* bytes, u32 count) {
    u32 zeros = 0;
    while (zeros < count && bytes[zeros] == 0) zeros++;
    std::vector<u8> number(bytes + zeros, bytes + count);
    std::vector<u8> digits; // least significant first
    u32 start = 0;
    while (start < number.size()) {
        u32 remainder = 0;
        for (u32 i = start; i < number.size(); i++) {
            u32 value = remainder * 256 + number[i];
            number[i] = static_cast<u8>(value / 58);
            remainder = value % 58;
        }
        digits.push_back(static_cast<u8>(remainder));
        while (start < number.size() && number[start] == 0) start++;
    }
    for (u32 i = 0; i < zeros; i++) *out++ = '1';
    for (std::size_t i = digits.size(); i-- > 0;)
        *out++ = static_cast<u8>(base58_alphabet[digits[i]]);
    return out;
}

u64 text_room(u32 base, u32 count) {
    switch (base) {
    case 2:
        return u64(count) * 8;
    case 16:
    case 58:
        return u64(count) * 2;
    case 64:
        return (u64(count) + 2) / 3 * 4;
    default:
        return 0;
    }
}

decoded from_base2_text(const u8* text, u32 count, u32 unit, bool strict) {
    text_reader r{text, count, unit};
    std::vector<u8> bytes;
    bytes.reserve(count / 8);
    u32 byte = 0, bits = 0;
    for (u32 i = 0; i < count; i++) {
        u32 cp = r.at(i);
        if (cp == ';') {
            i = r.comment_end(i);
            continue;
        }
        if (skipped_blank(cp, strict)) continue;
        if (cp != '0' && cp != '1') return failure(i);
        byte = byte << 1 | (cp - '0');
        if (++bits == 8) {
            bytes.push_back(static_cast<u8>(byte));
            byte = bits = 0;
        }
    }
    if (bits) return failure(count);
    return success(bytes);
}

decoded from_base16_text(const u8* text, u32 count, u32 unit, bool strict) {
    text_reader r{text, count, unit};
    std::vector<u8> bytes;
    bytes.reserve(count / 2);
    i32 high = -1;
    for (u32 i = 0; i < count; i++) {
        u32 cp = r.at(i);
        if (cp == ';') {
            i = r.comment_end(i);
            continue;
        }
        if (skipped_blank(cp, strict)) continue;
        i32 v = hex_value(cp);
        if (v < 0) return failure(i);
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<u8>(high << 4 | v));
            high = -1;
        }
    }
    // A lone final digit has no byte to go to: refusing it beats dropping it unseen.
    if (high >= 0) return failure(count);
    return success(bytes);
}

decoded from_base64_text(const u8* text, u32 count, u32 unit, bool strict) {
    text_reader r{text, count, unit};
    std::vector<u8> bytes;
    bytes.reserve((u64(count) * 3 + 9) / 4);
    u32 group = 0, pending = 0;
    for (u32 i = 0; i < count; i++) {
        u32 cp = r.at(i);
        if (cp == ';') {
            i = r.comment_end(i);
            continue;
        }
        if (skipped_in_64(cp)) continue;
        if (cp == '=') {
            if (pending == 3) {
                bytes.push_back(static_cast<u8>(group >> 10));
                bytes.push_back(static_cast<u8>(group >> 2));
            } else if (pending == 2) {
                bytes.push_back(static_cast<u8>(group >> 4));
            } else {
                return failure(i);
            }
            return success(bytes);
        }
        i32 v = cp < 128 ? base64_value(cp) : -1;
        if (v < 0) return failure(i);
        group = group << 6 | static_cast<u32>(v);
        if (++pending == 4) {
            bytes.push_back(static_cast<u8>(group >> 16));
            bytes.push_back(static_cast<u8>(group >> 8));
            bytes.push_back(static_cast<u8>(group));
            group = pending = 0;
        }
    }
    if (pending == 0) return success(bytes);
    // A group cut short without padding: the literal syntax refuses it; otherwise its bytes are
    // decoded rather than dropped. A single character carries no whole byte.
    if (strict || pending == 1) return failure(count);
    if (pending == 3) {
        bytes.push_back(static_cast<u8>(group >> 10));
        bytes.push_back(static_cast<u8>(group >> 2));
    } else {
        bytes.push_back(static_cast<u8>(group >> 4));
    }
    return success(bytes);
}

decoded from_base58_text(const u8* text, u32 count, u32 unit) {
    text_reader r{text, count, unit};
    std::vector<u8> digits;
    for (u32 i = 0; i < count; i++) {
        u32 cp = r.at(i);
        if (cp == ';') {
            i = r.comment_end(i);
            continue;
        }
        if (skipped_in_64(cp)) continue;
        i32 v = cp < 128 ? base58_value(cp) : -1;
        if (v < 0) return failure(i);
        digits.push_back(static_cast<u8>(v));
    }
    u32 zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) zeros++;
    std::vector<u8> number; // base 256, least significant first
    for (std::size_t i = zeros; i < digits.size(); i++) {
        u32 carry = digits[i];
        for (u8& byte : number) {
            u32 value = u32(byte) * 58 + carry;
            byte = static_cast<u8>(value);
            carry = value >> 8;
        }
        while (carry) {
            number.push_back(static_cast<u8>(carry));
            carry >>= 8;
        }
    }
    std::vector<u8> bytes(zeros, 0);
    bytes.insert(bytes.end(), number.rbegin(), number.rend());
    return success(bytes);
}

decoded from_base_text(u32 base, const u8* text, u32 count, u32 unit, bool strict) {
    switch (base) {
    case 2:
        return from_base2_text(text, count, unit, strict);
    case 16:
        return from_base16_text(text, count, unit, strict);
    case 58:
        return from_base58_text(text, count, unit);
    case 64:
        return from_base64_text(text, count, unit, strict);
    default:
        return failure(0);
    }
}

} // namespace zel::binary
