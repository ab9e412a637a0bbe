// The JSON decoder's escape undoing, in place on a string's buffer. The grammar has already
// checked the escapes' shape; what it cannot see (a high surrogate without its low half, a
// \u with too few digits when called directly) fails here with invalid-data, never reading
// past the tail.
#include "library/json_routines.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "datatypes/basic.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/float_text.hpp"
#include "runtime/unicode.hpp"
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

// ---- encoding --------------------------------------------------------------------------------

// to-json's compact form of the values a decoded document holds (none, logic, integer, float,
// string!, block!, and map! with word or string! keys), written in one pass. Any other value, a
// container met again inside itself, or a lone surrogate answers none: the library's encoder
// then writes the value, with the same text or error. Nothing allocates in the arena before the
// text is whole, so the cells read stay where they are.
class encoder {
  public:
    explicit encoder(bool ascii) : ascii_(ascii) {}

    bool value(const cell* v) {
        switch (type_of(v)) {
        case type_id::none:
            out_ += "null";
            return true;
        case type_id::logic:
            out_ += is_truthy(v) ? "true" : "false";
            return true;
        case type_id::integer:
            out_ += std::to_string(int_of(v));
            return true;
        case type_id::float_: {
            double d = float_of(v);
            if (std::isnan(d) || std::isinf(d)) out_ += "null";
            else out_ += float_text::format_float(d, 0, true).view();
            return true;
        }
        case type_id::string:
            return string_value(v);
        case type_id::block:
            return block_value(v);
        case type_id::map:
            return map_value(v);
        default:
            return false;
        }
    }

    const std::string& text() const { return out_; }

  private:
    bool ascii_;
    std::string out_; // UTF-8
    std::vector<u32> open_; // the nodes of the containers being written

    bool enter(u32 node) {
        if (std::find(open_.begin(), open_.end(), node) != open_.end()) return false;
        open_.push_back(node);
        return true;
    }

    void put_utf8(u32 c) {
        u8 bytes[4];
        out_.append(reinterpret_cast<const char*>(bytes), utf8::encode_codepoint(c, bytes));
    }

    void hex4(u32 c) {
        static constexpr char digits[] = "0123456789ABCDEF";
        out_ += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out_ += digits[(c >> shift) & 15];
    }

    // One character of a JSON string: as it is, as a short escape, or as \u escapes.
    bool put_char(u32 c) {
        bool normal = ascii_ ? (c >= 32 && c <= 127 && c != '"' && c != '\\')
                             : (c >= 32 && c != '"' && c != '\\');
        if (normal) {
            if (c >= 0xD800 && c <= 0xDFFF) return false;
            put_utf8(c);
            return true;
        }
        switch (c) {
        case '"': out_ += "\\\""; return true;
        case '\\': out_ += "\\\\"; return true;
        case 8: out_ += "\\b"; return true;
        case 12: out_ += "\\f"; return true;
        case 10: out_ += "\\n"; return true;
        case 13: out_ += "\\r"; return true;
        case 9: out_ += "\\t"; return true;
        default: break;
        }
        if (c <= 0xFFFF) {
            hex4(c);
        } else {
            hex4(0xD800 + ((c - 0x10000) >> 10));
            hex4(0xDC00 + ((c - 0x10000) & 1023));
        }
        return true;
    }

    bool string_value(const cell* v) {
        cell s = *v;
        u32 n = string::units_from_head(&s);
        const u8* p = string::head_address(&s);
        u32 unit = text_units::checked_unit(string::buffer_of_cell(&s));
        out_ += '"';
        for (u32 i = 0; i < n; i++)
            if (!put_char(string::read_unit(p + std::size_t(i) * unit, unit))) return false;
        out_ += '"';
        return true;
    }

    // A word's spelling, held as UTF-8 by its symbol.
    bool word_name(const cell* w) {
        std::string_view t = symbol::text_view(w->w2);
        const u8* p = reinterpret_cast<const u8*>(t.data());
        const u8* end = p + t.size();
        out_ += '"';
        while (p < end) {
            utf8::step st = utf8::next_codepoint(p, end);
            if (st.code_point < 0 || !put_char(static_cast<u32>(st.code_point))) return false;
            p = st.next;
        }
        out_ += '"';
        return true;
    }

    bool block_value(const cell* v) {
        u32 node = v->w2;
        series_buffer* b = buffer_of(node);
        u32 n = used_bytes(b) / sizeof(cell);
        if (v->w1 >= n) {
            out_ += "[]";
            return true;
        }
        if (!enter(node)) return false;
        out_ += '[';
        for (u32 i = v->w1; i < n; i++) {
            if (i > v->w1) out_ += ',';
            if (!value(head_cell(b) + i)) return false;
        }
        out_ += ']';
        open_.pop_back();
        return true;
    }

    bool map_value(const cell* v) {
        u32 node = v->w2;
        series_buffer* b = buffer_of(node);
        u32 n = used_bytes(b) / sizeof(cell);
        const cell* kv = head_cell(b);
        bool first = true;
        for (u32 i = 0; i + 1 < n; i += 2) {
            if (kv[i + 1].header == 0) continue;
            if (first && !enter(node)) return false;
            out_ += first ? '{' : ',';
            first = false;
            u32 kt = type_of(kv + i);
            if (kt == type_id::set_word) { // the stored form of every word key
                if (!word_name(kv + i)) return false;
            } else if (kt == type_id::string) {
                if (!string_value(kv + i)) return false;
            } else {
                return false;
            }
            out_ += ':';
            if (!value(kv + i + 1)) return false;
        }
        if (first) {
            out_ += "{}";
        } else {
            out_ += '}';
            open_.pop_back();
        }
        return true;
    }
};

void encode() {
    encoder e(is_truthy(stack::arg(1)));
    if (!e.value(stack::arg(0))) {
        routines::answer_none();
        return;
    }
    const std::string& t = e.text();
    cell* made = string::decode_new(reinterpret_cast<const u8*>(t.data()),
                                    static_cast<u32>(t.size()), string::encoding_utf8);
    routines::answer(*made);
}

const routines::definition table[] = {
    {"_json-unescape", "[str [string!] return: [string!]]", unescape},
    {"_json-encode", "[value [any-type!] ascii [logic! none!] return: [string! none!]]", encode},
};

} // namespace

std::span<const routines::definition> private_routines() {
    return table;
}

} // namespace zel::json_routines
