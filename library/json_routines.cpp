// The JSON decoder's escape undoing, in place on a string's buffer. The grammar has already
// checked the escapes' shape; what it cannot see (a high surrogate without its low half, a
// \u with too few digits when called directly) fails here with invalid-data, never reading
// past the tail.
#include "library/json_routines.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/basic.hpp"
#include "datatypes/map.hpp"
#include "datatypes/text_units.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
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

// The escapes of `in` undone into `out`; false for a \\u with too few digits or a high
// surrogate without its low half.
bool undo_escapes(const std::vector<u32>& in, std::vector<u32>& out) {
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); i++) {
        u32 c = in[i];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i >= in.size()) return false;
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
            if (v < 0) return false;
            i += 4;
            if (v >= 0xD800 && v <= 0xDBFF) {
                if (i + 6 >= in.size()) return false;
                if (in[i + 1] != '\\' || in[i + 2] != 'u') return false;
                i32 low = hex4(in, i + 3);
                if (low < 0xDC00 || low > 0xDFFF) return false;
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
    return true;
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
    if (!undo_escapes(in, out)) invalid(s);

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

// ---- decoding --------------------------------------------------------------------------------

// load-json's reading of a well-formed document in one pass. Anything the grammar might refuse
// or report (a syntax fault, an escape that does not undo, nesting deeper than `max_depth`)
// answers none, and the library's grammar then reads the text from the start, with its own
// values and error report. Names become keys through the library's `name-key` and numbers other
// than short integers through its `number-value`, so both read exactly as the grammar reads
// them. Every value made is held by a container on the data stack before the next allocation.
class decoder {
  public:
    static constexpr u32 max_depth = 512;

    decoder(const cell* text, const cell* name_key, const cell* number_value, cell* keys)
        : node_(text->w2), name_key_(name_key), number_value_(number_value), keys_(keys) {
        cell t = *text;
        end_ = string::units_from_head(&t) + text->w1;
        pos_ = text->w1;
    }

    // The document's value appended to `into`; false when the grammar must read it.
    bool document(cell* into) {
        blanks();
        if (!value(into, 0)) return false;
        blanks();
        return pos_ == end_;
    }

  private:
    u32 node_;
    u32 pos_ = 0, end_ = 0;
    const cell* name_key_;
    const cell* number_value_;
    std::vector<u32> text_; // the code points of the string being read
    std::vector<u32> undone_;
    std::u32string name_;
    cell* keys_; // the keys made so far, held on the data stack
    std::unordered_map<std::u32string, u32> key_at_;

    u32 at(u32 i) const {
        series_buffer* b = buffer_of(node_);
        u32 unit = unit_of(b);
        return string::read_unit(head_ptr(b) + std::size_t(i) * unit, unit);
    }
    bool next_is(u32 c) const { return pos_ < end_ && at(pos_) == c; }
    bool literal(const char* word) {
        u32 i = pos_;
        for (; *word; word++, i++)
            if (i >= end_ || at(i) != static_cast<u8>(*word)) return false;
        pos_ = i;
        return true;
    }
    void blanks() {
        while (pos_ < end_) {
            u32 c = at(pos_);
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
            pos_++;
        }
    }

    // Appends a value to the container cell (on the data stack), taking the slot first: the
    // value is then written before anything else can allocate.
    static void append(cell* container, const cell* value) {
        cell v = *value;
        *memory::append_cell_slot(container) = v;
    }

    bool value(cell* into, u32 depth) {
        if (pos_ >= end_) return false;
        u32 c = at(pos_);
        if (c == '"') {
            if (!string_text()) return false;
            cell* s = new_string();
            append(into, s);
            stack::drop_values(1);
            return true;
        }
        if (c == '-' || (c >= '0' && c <= '9')) return number(into);
        if (c == '{') return object(into, depth + 1);
        if (c == '[') return array(into, depth + 1);
        cell v;
        if (literal("true")) init_logic(&v, true);
        else if (literal("false")) init_logic(&v, false);
        else if (literal("null")) init_none(&v);
        else return false;
        append(into, &v);
        return true;
    }

    // The text of a string literal into text_, its escapes undone.
    bool string_text() {
        pos_++;
        text_.clear();
        bool escaped = false;
        for (;;) {
            if (pos_ >= end_) return false;
            u32 c = at(pos_++);
            if (c == '"') break;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (pos_ >= end_) return false;
                u32 e = at(pos_++);
                text_.push_back('\\');
                text_.push_back(e);
                if (e == 'u') {
                    for (int k = 0; k < 4; k++) {
                        if (pos_ >= end_ || hex_digit(at(pos_)) < 0) return false;
                        text_.push_back(at(pos_++));
                    }
                } else if (e >= 0x80 || e == 0 || !std::strchr("\"t\\/nrbf", static_cast<int>(e))) {
                    return false;
                }
                escaped = true;
                continue;
            }
            text_.push_back(c);
        }
        if (!escaped) return true;
        if (!undo_escapes(text_, undone_)) return false;
        text_.swap(undone_);
        return true;
    }

    // A new string! of text_, left on the data stack.
    cell* new_string() {
        u32 unit = 1;
        for (u32 c : text_) unit = std::max(unit, text_units::unit_for_write(c));
        cell* s = init_none(stack::reserve_slot());
        auto n = static_cast<u32>(text_.size());
        string::init_cell_unit(s, n, unit);
        u8* w = memory::reserve_tail_bytes(buffer_of(s->w2), n * unit);
        for (u32 i = 0; i < n; i++) text_units::write(w + std::size_t(i) * unit, unit, text_[i]);
        return s;
    }

    // Calls a library function of one argument; its result is left at the returned cell.
    cell* call(const cell* fn, const cell* argument) {
        cell* base = stack::top;
        cell f = *fn;
        stack::push_value(&f);
        stack::push_value(argument);
        interp::call_with_arguments(&f, 1);
        stack::top = base + 1;
        return base;
    }

    bool number(cell* into) {
        u32 start = pos_;
        if (next_is('-')) pos_++;
        if (next_is('0')) {
            pos_++;
        } else if (pos_ < end_ && at(pos_) >= '1' && at(pos_) <= '9') {
            while (pos_ < end_ && at(pos_) >= '0' && at(pos_) <= '9') pos_++;
        } else {
            return false;
        }
        bool plain = true;
        auto digits = [&] {
            u32 from = pos_;
            while (pos_ < end_ && at(pos_) >= '0' && at(pos_) <= '9') pos_++;
            return pos_ > from;
        };
        if (next_is('.')) {
            u32 dot = pos_++;
            if (!digits()) pos_ = dot;
            else plain = false;
        }
        if (next_is('e') || next_is('E')) {
            u32 e = pos_++;
            if (next_is('+') || next_is('-')) pos_++;
            if (!digits()) pos_ = e;
            else plain = false;
        }
        cell v;
        if (plain && pos_ - start < 10) {
            i32 n = 0;
            for (u32 i = start; i < pos_; i++)
                if (at(i) != '-') n = n * 10 + static_cast<i32>(at(i) - '0');
            append(into, init_integer(&v, at(start) == '-' ? -n : n));
            return true;
        }
        text_.clear();
        for (u32 i = start; i < pos_; i++) text_.push_back(at(i));
        cell* s = new_string();
        cell* r = call(number_value_, s);
        if (interp::pending) return false;
        append(into, r);
        stack::top = s;
        return true;
    }

  public:
    // A new block of n cells, held on the data stack.
    static cell* new_block(u32 n) {
        cell made{type_id::block, 0, memory::new_cell_series(n), 0};
        return stack::push_value(&made);
    }

  private:
    // The comma-separated entries of a container up to its closing character.
    template <class F> bool entries(u32 close, F entry) {
        pos_++;
        blanks();
        if (!next_is(close)) {
            for (;;) {
                if (!entry()) return false;
                blanks();
                if (!next_is(',')) break;
                pos_++;
                blanks();
            }
        }
        if (!next_is(close)) return false;
        pos_++;
        return true;
    }

    bool array(cell* into, u32 depth) {
        if (depth > max_depth) return false;
        cell* items = new_block(4);
        if (!entries(']', [&] { return value(items, depth); })) return false;
        append(into, items);
        stack::top = items;
        return true;
    }

    // The key of a name: the one made before in this call, or the library's.
    bool key(cell* pairs) {
        name_.assign(text_.begin(), text_.end());
        auto found = key_at_.find(name_);
        if (found != key_at_.end()) {
            append(pairs, head_cell(buffer_of(keys_->w2)) + found->second);
            return true;
        }
        cell* s = new_string();
        cell* k = call(name_key_, s);
        if (interp::pending) return false;
        key_at_.emplace(name_, used_bytes(buffer_of(keys_->w2)) / sizeof(cell));
        append(keys_, k);
        append(pairs, k);
        stack::top = s;
        return true;
    }

    bool object(cell* into, u32 depth) {
        if (depth > max_depth) return false;
        cell* pairs = new_block(8);
        auto entry = [&] {
            if (!next_is('"') || !string_text() || !key(pairs)) return false;
            blanks();
            if (!next_is(':')) return false;
            pos_++;
            blanks();
            return value(pairs, depth);
        };
        if (!entries('}', entry)) return false;
        // As the grammar makes it: a map sized for the pairs, each put in case-sensitively.
        u32 n = used_bytes(buffer_of(pairs->w2)) / sizeof(cell);
        cell* m = init_none(stack::reserve_slot());
        cell map_cell{type_id::map, 0, 0, 0};
        map::init_cell(&map_cell, 0, n ? n : 2);
        *m = map_cell;
        for (u32 i = 0; i + 1 < n; i += 2) {
            cell* k = stack::push_value(head_cell(buffer_of(pairs->w2)) + i);
            cell* v = stack::push_value(head_cell(buffer_of(pairs->w2)) + i + 1);
            actions::handler_of_value<act::slot::put>(m)(m, k, v, true);
            stack::top = k;
        }
        append(into, m);
        stack::top = pairs;
        return true;
    }
};

void decode() {
    cell* base = stack::top;
    cell* out = decoder::new_block(1);
    cell* keys = decoder::new_block(16);
    decoder d(stack::arg(0), stack::arg(1), stack::arg(2), keys);
    bool ok = d.document(out);
    if (interp::pending) return;
    cell result = *out;
    stack::top = base;
    if (ok) routines::answer(result);
    else routines::answer_none();
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
    {"_json-decode",
     "[text [string!] name-key [any-function!] number-value [any-function!] return: [block! none!]]",
     decode},
    {"_json-encode", "[value [any-type!] ascii [logic! none!] return: [string! none!]]", encode},
};

} // namespace

std::span<const routines::definition> private_routines() {
    return table;
}

} // namespace zel::json_routines
