// url!: the percent codec, mold and the action row.
#include "datatypes/url.hpp"

#include <string>
#include <vector>

#include "datatypes/context.hpp"
#include "datatypes/object.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/string_common.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
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

std::string escaped(std::string_view utf8, kept which, i64 limit) {
    std::string text;
    text.reserve(utf8.size());
    for (unsigned char c : utf8) {
        if (limit >= 0 && static_cast<i64>(text.size()) >= limit) break;
        bool keep = c < 0x80 &&
                    (which == kept::unreserved ? in_unreserved_set(c) : in_url_set(c)) &&
                    !(which == kept::url_token && (c == '(' || c == ')'));
        if (keep) {
            text += static_cast<char>(c);
        } else {
            text += '%';
            text += string::byte_hex_text(c).view();
        }
    }
    return text;
}

namespace {
i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    std::string text =
        escaped(utf8::encode_string(value), kept::url_token, part ? std::max(limit, 0) : -1);
    string::append_c_text(buffer, text);
    return limit - static_cast<i32>(text.size());
}

using string_type::detail::append_codepoints;
using string_type::detail::codepoints_of;
using string_type::detail::stack_scope;

// Appends the plain text of a value (formed) to a text on the data stack.
void append_formed(cell* text, cell value) {
    cell* held = stack::push_value(&value);
    actions::form_typed(held, text, nullptr, 0x7FFFFFFF);
    stack::top = held;
}

void append_ascii(cell* text, const char* ascii) {
    string::append_c_text(text, ascii);
}

// scheme "://" host [":" port] ["/" segment ...], a segment before an issue! joined by "#".
cell* build_from_block(cell* proto, cell* spec) {
    stack_scope scope;
    cell* block = stack::push_value(spec);
    series_buffer* b = buffer_of(block->w2);
    u32 length = used_units(b);
    u32 head = std::min(block->w1, length);
    u32 n = length - head;
    if (n == 0) {
        cell t;
        init_datatype(&t, type_id::url);
        error::raise(err::E("script", "bad-to-arg"), &t, spec);
    }
    // The elements are copied out of the block one at a time: forming may move its buffer.
    auto element = [&](u32 i) { return head_cell(buffer_of(block->w2))[block->w1 + i]; };
    cell* out = string_type::detail::push_new_string(16);
    append_formed(out, element(0));
    append_ascii(out, "://");
    if (n > 1) append_formed(out, element(1));
    u32 i = 2;
    auto is_element = [&](u32 i, u32 type) {
        cell c = element(i);
        return is(&c, type);
    };
    if (i < n && is_element(i, type_id::integer)) {
        append_ascii(out, ":");
        append_formed(out, element(i));
        i++;
    }
    if (i < n) {
        append_ascii(out, "/");
        for (; i < n; i++) {
            append_formed(out, element(i));
            if (i + 1 < n) append_ascii(out, is_element(i + 1, type_id::issue) ? "#" : "/");
        }
    }
    cell_ops::write_type(out, type_id::url);
    *proto = *out;
    return proto;
}

bool from_block(u32 type, const cell* spec) {
    u32 st = type_of(spec);
    return type == type_id::url &&
           (st == type_id::block || st == type_id::paren || st == type_id::hash);
}

// file! inherits these: a file! target always takes the string! conversion.
cell* make(cell* proto, cell* spec, u32 type) {
    if (from_block(type, spec)) return build_from_block(proto, spec);
    return string_type::make(proto, spec, type);
}

cell* to(cell* proto, cell* spec, u32 type) {
    if (from_block(type, spec)) return build_from_block(proto, spec);
    return string_type::to(proto, spec, type);
}

// A new value of the parent's type (url! or file!) with the segment appended after one "/";
// the parent itself is left as it was.
cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    static cell answer;
    cell none_path{type_id::none, 0, 0, 0};
    if (value)
        error::raise(err::E("script", "bad-path-set"), step.path ? step.path : &none_path, element);
    stack_scope scope;
    cell segment_value = *element;
    if (is(&segment_value, type_id::get_word)) {
        cell* found = context::word_value_address(&segment_value);
        segment_value = found ? *found : none_path;
    }
    cell* segment = string_type::detail::push_new_string(16);
    append_formed(segment, segment_value);
    std::u32string text = codepoints_of(parent);
    std::u32string tail = codepoints_of(segment);
    bool slash_before = !text.empty() && text.back() == U'/';
    bool slash_after = !tail.empty() && tail.front() == U'/';
    if (slash_before && slash_after)
        tail.erase(0, 1);
    else if (!slash_before && !slash_after)
        text.push_back(U'/');
    text += tail;
    cell* result = stack::reserve_slot();
    string_type::detail::init_series(result, type_of(parent), static_cast<u32>(text.size()), 1);
    append_codepoints(result, text);
    answer = *result;
    return &answer;
}

cell* open(cell* url, bool new_, bool read, bool write, bool seek, cell* allow) {
    stack_scope scope;
    cell* port = stack::push_value(url);
    if (!port_of(url, port)) return url;
    cell* allow_copy = allow ? stack::push_value(allow) : nullptr;
    actions::handler_of_value<act::slot::open>(port)(port, new_, read, write, seek, allow_copy);
    *url = *port;
    return url;
}
} // namespace

bool port_of(const cell* url, cell* out) {
    cell* base = stack::top;
    cell held = *url;
    cell word = context::global_word(symbol::intern_text("url-parser"));
    cell* parser = context::word_value_address(&word);
    cell fn = parser && is_object_type(type_of(parser))
                  ? *object::field_value(parser, symbol::intern_text("parse-url"))
                  : cell{type_id::none, 0, 0, 0};
    if (!is(&fn, type_id::function)) error::raise(err::E("script", "invalid-arg"), &held);
    cell name{type_id::word, 0, symbol::intern_text("parse-url"), context::unbound};
    stack::push_value(&fn);
    stack::push_value(&held);
    interp::call_with_arguments(&fn, 1, &name);
    if (interp::pending) {
        stack::top = base;
        return false;
    }
    cell parts = stack::top[-1];
    if (!is(&parts, type_id::object)) error::raise(err::E("script", "invalid-arg"), &held);
    cell* slot = stack::push_value(&parts);
    act::handler<act::slot::make>(type_id::port)(slot, &parts, type_id::port);
    cell made = *slot;
    stack::top = base;
    *out = made;
    return true;
}

void register_type() {
    datatype::register_row(action_row{.type = type_id::url,
                                      .parent = type_id::string,
                                      .name = "url!",
                                      .make = make,
                                      .to = to,
                                      .form = act::inherit,
                                      .mold = mold,
                                      .eval_path = eval_path,
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
                                      .open = open,
                                      .read = read,
                                      .write = write});
}

} // namespace zel::url
