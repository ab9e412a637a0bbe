// string!: making, converting, forming, molding, comparing and path access, and the action row.
// A mold writes the literal syntax that the lexer reads back: it picks its delimiters from the
// text and escapes what the delimiters cannot hold.
#include "datatypes/string.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/string_common.hpp"
#include "evaluator/actions.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel {

using namespace string_type::detail;

namespace string_type::detail {

namespace {
// The escape letters of the code points below 0x20 (0 where another rule applies).
constexpr char control_escape(u32 cp) {
    switch (cp) {
    case 0x09:
        return '-';
    case 0x0A:
        return '/';
    case 0x1B:
        return '[';
    case 0x1C:
        return '\\';
    case 0x1D:
        return ']';
    case 0x1E:
        return 0;
    case 0x1F:
        return '_';
    default:
        return static_cast<char>(0x40 + cp);
    }
}
} // namespace

void escape_codepoint(std::u32string& out, u32 cp, bool all) {
    if (cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || (all && cp > 0x7F)) {
        out += U"^(";
        string::hex_text digits = string::int_hex_text(static_cast<i32>(cp), true);
        for (char c : digits.view()) out.push_back(c);
        out.push_back(U')');
    } else if (cp < 0x20) {
        out.push_back(U'^');
        out.push_back(static_cast<char32_t>(control_escape(cp)));
    } else if (cp == 0x22 || cp == 0x5E) {
        out.push_back(U'^');
        out.push_back(static_cast<char32_t>(cp));
    } else if (cp == 0x7F) {
        out += U"^~";
    } else {
        out.push_back(static_cast<char32_t>(cp));
    }
}

} // namespace string_type::detail

namespace string {

void append_escaped_codepoint(cell* buffer, u32 code_point, bool all) {
    std::u32string out;
    escape_codepoint(out, code_point, all);
    append_codepoints(buffer, out);
}

} // namespace string

namespace string_type {

namespace {

[[noreturn]] void bad_to(u32 type, cell* spec) {
    cell t;
    init_datatype(&t, type);
    error::raise(err::E("script", "bad-to-arg"), &t, spec);
}

// A copy of the spec's text from its head, in the spec's unit.
void copy_text(cell* out, cell* spec, u32 type) {
    text_view v = view(spec);
    u32 n = v.from_head();
    init_series(out, type, n, v.unit);
    series_buffer* from = buffer_of(v.node);
    series_buffer* to = buffer_of(out->w2);
    std::memcpy(head_ptr(to), head_ptr(from) + std::size_t(v.head) * v.unit,
                std::size_t(n) * v.unit);
    to->tail = to->head + n * v.unit;
}

// The bytes of a binary! from its head.
std::vector<u8> bytes_of(cell* binary) {
    series_buffer* b = buffer_of(binary->w2);
    u32 length = used_bytes(b);
    i32 h = static_cast<i32>(binary->w1);
    u32 head = h < 0 ? 0 : std::min(static_cast<u32>(h), length);
    return std::vector<u8>(head_ptr(b) + head, head_ptr(b) + length);
}

void decode_binary(cell* out, cell* spec) {
    std::vector<u8> bytes = bytes_of(spec);
    u32 remaining = 0;
    utf8::decode_to_new_string(out, bytes.data(), static_cast<u32>(bytes.size()), 0, &remaining);
    if (remaining) {
        // The cut-off sequence at the end travels with the error as a binary!.
        cell* rest = stack::reserve_slot();
        u32 node = memory::new_byte_series(remaining);
        series_buffer* b = buffer_of(node);
        std::memcpy(head_ptr(b), bytes.data() + bytes.size() - remaining, remaining);
        b->tail = b->head + remaining;
        *rest = cell{type_id::binary, 0, node, 0};
        error::raise(err::E("access", "invalid-utf8"), rest);
    }
}

i32 size_from_number(cell* spec) {
    if (is(spec, type_id::integer)) return int_of(spec);
    double d = float_of(spec);
    if (std::isnan(d) || d >= 2147483648.0 || d <= -2147483649.0) raise_out_of_range(spec);
    return static_cast<i32>(d);
}

} // namespace

cell* to(cell* proto, cell* spec, u32 type) {
    stack_scope scope;
    cell* result = init_none(stack::reserve_slot());
    u32 st = type_of(spec);
    switch (st) {
    case type_id::string:
    case type_id::file:
    case type_id::url:
    case type_id::tag:
    case type_id::email:
    case type_id::ref:
        copy_text(result, spec, type);
        break;
    case type_id::binary:
        decode_binary(result, spec);
        break;
    case type_id::block:
    case type_id::paren:
    case type_id::hash:
        *result = *push_new_string();
        append(result, spec, -1, false, 1, false);
        break;
    case type_id::none:
        bad_to(type_id::string, spec);
    case type_id::refinement:
        *result = *push_new_string();
        if (type == type_id::string)
            actions::form_typed(spec, result, nullptr, 0x7FFFFFFF);
        else
            actions::mold_typed(spec, result, false, false, false, nullptr, 0x7FFFFFFF, 0);
        break;
    default:
        *result = *push_new_string();
        actions::form_typed(spec, result, nullptr, 0x7FFFFFFF);
        break;
    }
    result->w1 = 0;
    cell_ops::write_type(result, type);
    *proto = *result;
    return proto;
}

cell* make(cell* proto, cell* spec, u32 type) {
    u32 st = type_of(spec);
    if (st == type_id::integer || st == type_id::float_) {
        i32 size = size_from_number(spec);
        if (size < 0) raise_out_of_range(spec);
        u32 node = memory::new_byte_series(static_cast<u32>(size));
        *proto = cell{type, 0, node, 0};
        return proto;
    }
    if (type == type_id::binary) {
        if (st == type_id::money) {
            cell t;
            init_datatype(&t, type_id::binary);
            error::raise(err::E("script", "bad-make-arg"), &t, spec);
        }
        // binary!'s own conversion comes with binary!.
        raise_not_done();
    }
    return to(proto, spec, type);
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    u32 length = view(value).from_head();
    i32 count = -1;
    if (part && !is_none(part)) count = std::max(limit, 0);
    string::append_text_part(buffer, value, count, true);
    return limit - static_cast<i32>(length);
}

i32 mold(cell* value, cell* buffer, bool, bool all, bool, cell* part, i32 limit, i32) {
    text_view v = view(value);
    u32 count = v.from_head();
    bool counted = part && !is_none(part) && !(is(part, type_id::integer) && int_of(part) == 0);
    if (counted) count = limit < 0 ? 0 : std::min(count, static_cast<u32>(limit));
    std::u32string text = codepoints_at(v.node, v.head, count);

    u32 line_feeds = 0;
    bool quote = false;
    for (char32_t c : text) {
        if (c == '"') quote = true;
        if (c == '\n') line_feeds++;
    }
    bool braces = quote || line_feeds >= 3 || v.from_head() >= 50;

    std::u32string out;
    out.reserve(text.size() + 2);
    if (!braces) {
        out.push_back(U'"');
        for (char32_t c : text) escape_codepoint(out, c, all);
        out.push_back(U'"');
    } else {
        // A "{" is balanced when the running count from it falls back to its own level later
        // on: the lowest level of everything after it is no higher than the level before it.
        std::size_t n = text.size();
        std::vector<i32> level(n + 1, 0);
        for (std::size_t i = 0; i < n; i++)
            level[i + 1] = level[i] + (text[i] == '{') - (text[i] == '}');
        std::vector<i32> lowest_after(n + 1, 0);
        lowest_after[n] = level[n];
        for (std::size_t i = n; i-- > 0;) lowest_after[i] = std::min(level[i], lowest_after[i + 1]);

        out.push_back(U'{');
        bool balancing = true;
        u32 depth = 0;
        for (std::size_t i = 0; i < n; i++) {
            char32_t c = text[i];
            if (c == '{') {
                if (balancing && lowest_after[i + 1] <= level[i]) {
                    out.push_back(c);
                    depth++;
                } else {
                    balancing = false;
                    out += U"^{";
                }
            } else if (c == '}') {
                if (depth > 0) {
                    out.push_back(c);
                    depth--;
                } else {
                    out += U"^}";
                }
            } else if (c == '"') {
                out.push_back(c);
            } else {
                escape_codepoint(out, c, all);
            }
        }
        out.push_back(U'}');
    }
    append_codepoints(buffer, out);
    return limit - static_cast<i32>(count) - 2;
}

i32 compare(cell* value, cell* other, i32 op) {
    if (type_of(value) != type_of(other) &&
        !(is_text_type(type_of(other)) &&
          (op == actions::compare_op::equal || op == actions::compare_op::not_equal)))
        return -2;
    return string::compare_texts(value, other, static_cast<u32>(op), false);
}

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    static cell answer;
    cell path;
    if (step.path)
        path = *step.path;
    else
        init_none(&path);
    u32 et = type_of(element);
    if (et == type_id::integer) {
        if (!value)
            return actions::handler_of_value<act::slot::pick>(parent)(parent, int_of(element),
                                                                      element);
        actions::handler_of_value<act::slot::poke>(parent)(parent, int_of(element), value, element);
        return value;
    }
    if (et == type_id::word) error::raise(err::E("script", "invalid-path"), &path, element);

    stack_scope scope;
    cell* series = stack::push_value(parent);
    if (!value) {
        answer = *select(series, element, nullptr, false, false, false, false, nullptr, nullptr,
                         false, false);
        return &answer;
    }
    find(series, element, nullptr, false, false, false, false, nullptr, nullptr, false, false,
         false, false);
    if (is_none(series)) error::raise(err::E("script", "bad-path-set"), &path, element);
    cell index;
    init_integer(&index, 2);
    actions::handler_of_value<act::slot::poke>(series)(series, 2, value, &index);
    return value;
}

void register_type() {
    action_row row{};
    row.type = type_id::string;
    row.parent = type_id::series;
    row.name = "string!";
    row.make = make;
    row.random = act::inherit;
    row.reflect = act::inherit;
    row.to = to;
    row.form = form;
    row.mold = mold;
    row.eval_path = eval_path;
    row.compare = compare;
    row.append = append;
    row.at = act::inherit;
    row.back = act::inherit;
    row.change = change;
    row.clear = act::inherit;
    row.copy = act::inherit;
    row.find = find;
    row.head = act::inherit;
    row.head_q = act::inherit;
    row.index_q = act::inherit;
    row.insert = insert;
    row.length_q = act::inherit;
    row.move = act::inherit;
    row.next = act::inherit;
    row.pick = act::inherit;
    row.poke = act::inherit;
    row.remove = act::inherit;
    row.reverse = act::inherit;
    row.select = select;
    row.sort = sort;
    row.skip = act::inherit;
    row.swap = swap;
    row.tail = act::inherit;
    row.tail_q = act::inherit;
    row.take = take;
    row.trim = trim;
    row.modify = act::inherit;
    datatype::register_row(row);
}

} // namespace string_type
} // namespace zel
