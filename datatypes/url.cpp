// url!: the percent codec, mold and the action row.
#include "datatypes/url.hpp"

#include <string>
#include <vector>

#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "runtime/unicode.hpp"

namespace zel::url {

namespace {
i32 hex_value(u8 c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte of a "%XX" escape at p, or -1.
i32 escape_at(const u8* p, const u8* end) {
    if (end - p < 3 || p[0] != '%') return -1;
    i32 high = hex_value(p[1]), low = hex_value(p[2]);
    return high < 0 || low < 0 ? -1 : high << 4 | low;
}
} // namespace

bool in_unreserved_set(u32 cp) {
    return (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || (cp >= '0' && cp <= '9') ||
           cp == '-' || cp == '.' || cp == '_' || cp == '~';
}

bool in_url_set(u32 cp) {
    if (in_unreserved_set(cp)) return true;
    switch (cp) {
    case '!':
    case '#':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case '/':
    case ':':
    case '=':
    case '?':
    case '@':
        return true;
    default:
        return false;
    }
}

series_buffer* percent_decode(const u8* start, const u8* end, cell* target) {
    // Text inside the arena could move while the target grows: decode from a copy.
    std::vector<u8> copy;
    if (arena::contains(start)) {
        copy.assign(start, end);
        start = copy.data();
        end = start + copy.size();
    }
    series_buffer* b = buffer_of(target->w2);
    const u8* p = start;
    while (p < end) {
        i32 byte = escape_at(p, end);
        if (byte >= 0) {
            u32 n = byte < 0x80 ? 0 : utf8::lead_byte_length(static_cast<u8>(byte));
            if (n == 0) {
                b = string::append_codepoint(b, static_cast<u32>(byte));
                p += 3;
                continue;
            }
            u8 sequence[4] = {static_cast<u8>(byte)};
            u32 k = 1;
            for (; k < n; k++) {
                i32 next = escape_at(p + 3 * k, end);
                if (next < 0) break;
                sequence[k] = static_cast<u8>(next);
            }
            if (k == n) {
                utf8::step s = utf8::next_codepoint(sequence, sequence + n);
                bool whole = s.code_point >= 0 && s.next == sequence + n;
                b = string::append_codepoint(b, whole ? static_cast<u32>(s.code_point) : 0xFFFE);
                p += 3 * n;
                continue;
            }
            b = string::append_codepoint(b, '%');
            p++;
            continue;
        }
        utf8::step s = utf8::next_codepoint(p, end);
        b = string::append_codepoint(b,
                                     s.code_point >= 0 ? static_cast<u32>(s.code_point) : 0xFFFE);
        p = s.next > p ? s.next : p + 1;
    }
    return b;
}

i32 append_text(cell* buffer, cell* text, cell* part, i32 limit) {
    i32 length = static_cast<i32>(string::units_from_head(text));
    string::append_text_part(buffer, text, part ? (limit < 0 ? 0 : limit) : -1, true);
    return limit - length;
}

namespace {
// Percent-encodes the UTF-8 of the text: bytes of the URL set stay, the others become "%XX".
// "(" and ")" are escaped too: the url syntax ends a url at either of them.
i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    std::string bytes = utf8::encode_string(value);
    std::string text;
    for (unsigned char c : bytes) {
        if (part && limit <= 0) break;
        if (c < 0x80 && c != '(' && c != ')' && in_url_set(c)) {
            text += static_cast<char>(c);
            limit -= 1;
        } else {
            text += '%';
            text += string::byte_hex_text(c).view();
            limit -= 3;
        }
    }
    string::append_c_text(buffer, text);
    return limit;
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::url,
                                      .parent = type_id::string,
                                      .name = "url!",
                                      .make = act::inherit,
                                      .to = act::inherit,
                                      .form = act::inherit,
                                      .mold = mold,
                                      .compare = act::inherit,
                                      .append = act::inherit,
                                      .at = act::inherit,
                                      .back = act::inherit,
                                      .change = act::inherit,
                                      .clear = act::inherit,
                                      .copy = act::inherit,
                                      .find = act::inherit,
                                      .head = act::inherit,
                                      .head_q = act::inherit,
                                      .index_q = act::inherit,
                                      .insert = act::inherit,
                                      .length_q = act::inherit,
                                      .move = act::inherit,
                                      .next = act::inherit,
                                      .pick = act::inherit,
                                      .poke = act::inherit,
                                      .remove = act::inherit,
                                      .reverse = act::inherit,
                                      .select = act::inherit,
                                      .skip = act::inherit,
                                      .swap = act::inherit,
                                      .tail = act::inherit,
                                      .tail_q = act::inherit,
                                      .take = act::inherit,
                                      .modify = act::inherit,
                                      .read = read,
                                      .write = write});
}

} // namespace zel::url
