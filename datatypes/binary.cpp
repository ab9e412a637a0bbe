// binary!: makers, form and mold.
#include "datatypes/binary.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/base_codecs.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/string_common.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel::binary {

cell* init_cell_bytes(cell* slot, u32 capacity) {
    u32 node = memory::new_byte_series(capacity ? capacity : 16);
    return init_cell_series(slot, node);
}

cell* init_cell_series(cell* slot, u32 node) {
    *slot = {type_id::binary, 0, node, 0};
    return slot;
}

cell* init_cell_from_bytes(cell* slot, const u8* bytes, u32 count) {
    // Bytes inside the arena could move with the allocation: copy them first.
    std::vector<u8> copy;
    if (arena::contains(bytes)) {
        copy.assign(bytes, bytes + count);
        bytes = copy.data();
    }
    u32 node = memory::new_byte_series(count ? count : 16);
    series_buffer* b = buffer_of(node);
    if (count) std::memcpy(head_ptr(b), bytes, count);
    b->tail = b->head + count;
    return init_cell_series(slot, node);
}

cell* new_from_bytes(cell* block, const u8* bytes, u32 count) {
    if (!block) return push_from_bytes(bytes, count);
    cell made;
    init_cell_from_bytes(&made, bytes, count);
    cell* slot = memory::append_cell_slot(block);
    *slot = made;
    return slot;
}

cell* push_from_bytes(const u8* bytes, u32 count) {
    cell made;
    init_cell_from_bytes(&made, bytes, count);
    return stack::push_value(&made);
}

namespace {
void write_indent(std::string& text, i32 level) {
    if (level > 0) text.append(static_cast<std::size_t>(level) * 4, ' ');
}

// "#{", two upper-case hex digits per byte, "}"; runs longer than 30 bytes go on lines of 32
// bytes between the braces unless flat. Bytes count 2 against a part limit, line feeds 1.
i32 mold_bytes(cell* value, cell* buffer, bool only, bool flat, cell* part, i32 limit, i32 indent) {
    series_buffer* b = buffer_of(value->w2);
    u32 total = used_bytes(b);
    u32 head = value->w1 < total ? value->w1 : total;
    u32 n = total - head;
    std::string text;
    if (!only) {
        text += "#{";
        limit -= 2;
    }
    i32 level = indent + 1;
    bool lines = n > 30 && !flat;
    if (lines) {
        text += '\n';
        write_indent(text, level);
    }
    const u8* bytes = head_ptr(b) + head;
    for (u32 i = 0; i < n; i++) {
        text += string::byte_hex_text(bytes[i]).view();
        limit -= 2;
        if ((i + 1) % 32 == 0 && !flat) {
            text += '\n';
            write_indent(text, level);
            limit -= 1;
        }
        if (part && limit <= 0) break;
    }
    if (part && limit <= 0) {
        string::append_c_text(buffer, text);
        return limit;
    }
    if (lines && n % 32 != 0) {
        text += '\n';
        write_indent(text, indent);
    }
    if (!only) {
        text += '}';
        limit -= 1;
    }
    string::append_c_text(buffer, text);
    return limit;
}

using string_type::detail::notify_owner;
using string_type::detail::raise_invalid_arg;
using string_type::detail::raise_no_memory;
using string_type::detail::raise_not_done;
using string_type::detail::stack_scope;

[[noreturn]] void bad_to(cell* value) {
    cell t;
    init_datatype(&t, type_id::binary);
    error::raise(err::E("script", "bad-to-arg"), &t, value);
}

bool text_like(u32 t) {
    return t == type_id::string || t == type_id::file || t == type_id::url || t == type_id::tag ||
           t == type_id::email || t == type_id::ref;
}

bool block_like(u32 t) {
    return t == type_id::block || t == type_id::paren || t == type_id::hash;
}

// The bytes of a series from its head to its tail (a head past the tail counts as the tail).
std::pair<const u8*, u32> run_of(const cell* s) {
    series_buffer* b = buffer_of(s->w2);
    u32 total = used_bytes(b);
    u32 head = std::min<u32>(s->w1, total);
    return {head_ptr(b) + head, total - head};
}

void append_image(std::string& out, cell* value, bool formed);

// The images of a block's values from its head, one after another, at most `limit` of them
// (-1: all). A block inside itself adds nothing again.
void append_block_images(std::string& out, cell* value, bool formed, i64 limit) {
    if (cycle_stack::contains(value->w2)) return;
    cycle_stack::guard guard(value->w2);
    stack_scope scope;
    cell* block = stack::push_value(value);
    for (u32 i = block->w1; limit < 0 || i - block->w1 < limit; i++) {
        // Read again for every value: forming one may run code that changes the block.
        series_buffer* b = buffer_of(block->w2);
        if (i >= used_bytes(b) / sizeof(cell)) break;
        cell* item = stack::push_value(head_cell(b) + i);
        append_image(out, item, formed);
        stack::drop_values(1);
    }
}

// Appends a value's byte image to `out`. With `formed` a value without an image contributes its
// formed text.
void append_image(std::string& out, cell* value, bool formed) {
    u32 t = type_of(value);
    if (t == type_id::char_) {
        u8 buf[4];
        out.append(reinterpret_cast<char*>(buf), utf8::encode_codepoint(value->w2, buf));
    } else if (t == type_id::integer) {
        i32 n = int_of(value);
        if (n > 255 || n < -128) raise_invalid_arg(value);
        out.push_back(static_cast<char>(n & 0xFF));
    } else if (t == type_id::binary) {
        auto [p, n] = run_of(value);
        out.append(reinterpret_cast<const char*>(p), n);
    } else if (t == type_id::tuple) {
        out.append(reinterpret_cast<const char*>(tuple::bytes_of(value)), tuple::length_of(value));
    } else if (text_like(t)) {
        out += utf8::encode_string(value);
    } else if (block_like(t)) {
        append_block_images(out, value, formed, -1);
    } else if (formed) {
        stack_scope scope;
        cell* text = string_type::detail::push_new_string(16);
        actions::form_typed(value, text, nullptr, 0x7FFFFFFF);
        out += utf8::encode_string(text);
    } else {
        bad_to(value);
    }
}

// The image of a value as insert, append and change take it: a part limit of 1 or more cuts a
// block's values to that many, any other value's bytes to that many.
std::string image_of(cell* value, i32 part, bool formed) {
    std::string out;
    if (part >= 1 && block_like(type_of(value))) {
        append_block_images(out, value, formed, part);
        return out;
    }
    append_image(out, value, formed);
    if (part >= 1 && static_cast<u32>(part) < out.size()) out.resize(static_cast<u32>(part));
    return out;
}

// Replaces `removed` bytes at `at` (from the buffer's start) with `dup` copies of `bytes`.
void splice_bytes(cell* series, u32 at, u32 removed, const std::string& bytes, u64 dup) {
    series_buffer* b = buffer_of(series->w2);
    u32 length = used_bytes(b);
    at = std::min(at, length);
    removed = std::min(removed, length - at);
    u64 total = u64(bytes.size()) * dup;
    u64 new_length = u64(length) - removed + total;
    if (total > 0xFFFFFFFFu || new_length > 0xF0000000u) raise_no_memory();
    if (u64(data_end(b) - head_ptr(b)) < new_length) {
        u64 grown = std::max<u64>(u64(b->size) * 2, new_length);
        b = memory::grow_series(b, static_cast<u32>(std::min<u64>(grown, 0xF0000000u)));
    }
    u8* base = head_ptr(b);
    std::memmove(base + at + total, base + at + removed, length - at - removed);
    if (!bytes.empty()) {
        std::memcpy(base + at, bytes.data(), bytes.size());
        if (dup > 1)
            memory::replicate_bytes(base + at, static_cast<u32>(bytes.size()),
                                    static_cast<u32>(dup));
    }
    b->tail = b->head + static_cast<u32>(new_length);
}

u32 clamped_head(cell* series) {
    u32 length = used_bytes(buffer_of(series->w2));
    if (series->w1 > length) series->w1 = length;
    return series->w1;
}

cell* to(cell* proto, cell* spec, u32) {
    u32 t = type_of(spec);
    std::string bytes;
    if (block_like(t) || text_like(t) || t == type_id::char_ || t == type_id::tuple ||
        t == type_id::binary) {
        append_image(bytes, spec, false);
    } else if (t == type_id::integer) {
        u32 n = spec->w2;
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(n >> shift));
    } else if (t == type_id::float_ || t == type_id::percent) {
        u64 bits;
        double d = float_of(spec);
        std::memcpy(&bits, &d, 8);
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<char>(bits >> shift));
    } else if (t == type_id::bitset) {
        auto [p, n] = run_of(spec);
        bytes.assign(reinterpret_cast<const char*>(p), n);
    } else if (t == type_id::issue) {
        std::string_view text = symbol::text_view(spec->w2);
        decoded d = from_base16_text(reinterpret_cast<const u8*>(text.data()),
                                     static_cast<u32>(text.size()), 1);
        if (!d.node) error::raise(err::E("script", "invalid-data"), spec);
        return init_cell_series(proto, d.node);
    } else {
        bad_to(spec);
    }
    return init_cell_from_bytes(proto, reinterpret_cast<const u8*>(bytes.data()),
                                static_cast<u32>(bytes.size()));
}

cell* make(cell* proto, cell* spec, u32 type) {
    u32 t = type_of(spec);
    if (t == type_id::integer || t == type_id::float_ || t == type_id::money)
        return string_type::make(proto, spec, type);
    return to(proto, spec, type);
}

void insert(cell* series, cell* value, i32 part, bool, i32 dup, bool append) {
    u32 head = clamped_head(series);
    if (dup < 1) return;
    u32 at = append ? used_bytes(buffer_of(series->w2)) : head;
    notify_owner(series, append ? "append" : "insert", at, part);
    std::string bytes = image_of(value, part, false);
    splice_bytes(series, at, 0, bytes, static_cast<u64>(dup));
    notify_owner(series, append ? "appended" : "inserted", at, part < 0 ? 1 : part);
    u64 past = at + u64(bytes.size()) * static_cast<u64>(dup);
    series->w1 = append ? 0 : static_cast<u32>(past);
}

void change(cell* series, cell* value, i32 part, bool, i32 dup) {
    u32 head = clamped_head(series);
    if (dup < 1) return;
    notify_owner(series, "change", head, part);
    std::string bytes = image_of(value, -1, true);
    head = clamped_head(series);
    u32 left = used_bytes(buffer_of(series->w2)) - head;
    u64 total = u64(bytes.size()) * static_cast<u64>(dup);
    u64 replaced = std::min<u64>(part >= 0 ? static_cast<u64>(part) : total, left);
    splice_bytes(series, head, static_cast<u32>(replaced), bytes, static_cast<u64>(dup));
    notify_owner(series, "changed", head, static_cast<i32>(std::min<u64>(total, 0x7FFFFFFF)));
    series->w1 = static_cast<u32>(std::min<u64>(head + total, used_bytes(buffer_of(series->w2))));
}

void trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with) {
    if (with) return string_type::trim(series, head, tail, false, false, true, with);
    if (all) {
        cell zero;
        init_integer(&zero, 0);
        return string_type::trim(series, false, false, false, false, true, &zero);
    }
    if (auto_ || lines) raise_not_done();
    u32 h = clamped_head(series);
    notify_owner(series, "trim", h, 0);
    series_buffer* b = buffer_of(series->w2);
    u8* p = head_ptr(b) + h;
    u32 first = 0, last = used_bytes(b) - h;
    if (head || !tail)
        while (first < last && p[first] == 0) first++;
    if (tail || !head)
        while (last > first && p[last - 1] == 0) last--;
    std::memmove(p, p + first, last - first);
    b->tail = b->head + h + (last - first);
    notify_owner(series, "trimmed", h, 0);
}

// Byte comparison of two series from their heads; `match` compares over the other's run only.
i32 compare_bytes(cell* a, cell* b, i32 op, bool match) {
    u32 bt = type_of(b);
    if (!text_like(bt) && bt != type_id::binary) return -2;
    bool equality = op == actions::compare_op::equal || op == actions::compare_op::not_equal ||
                    op == actions::compare_op::strict_equal || op == actions::compare_op::find;
    bool same_place = a->w2 == b->w2 && a->w1 == b->w1;
    if (op == actions::compare_op::same) return same_place ? 0 : -1;
    if (same_place && equality) return 0;
    auto [pa, na] = run_of(a);
    auto [pb, nb] = run_of(b);
    if (!match) {
        if (na != nb && equality) return 1;
        if (na == 0 && nb == 0) return 0;
    } else if (nb == 0) {
        return (op == actions::compare_op::equal || op == actions::compare_op::strict_equal ||
                op == actions::compare_op::find)
                   ? 0
                   : 1;
    }
    if (match && na < nb) return 1;
    u32 n = match ? nb : std::min(na, nb);
    for (u32 i = 0; i < n; i++)
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    if (match) return 0;
    return na < nb ? -1 : na > nb ? 1 : 0;
}

i32 compare(cell* value, cell* other, i32 op) {
    if (!is(other, type_id::binary)) return -2;
    return compare_bytes(value, other, op, false);
}

template <int Op> void bitwise() {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    if (!is(b, type_id::binary)) raise_invalid_arg(b);
    auto [pa, na] = run_of(a);
    auto [pb, nb] = run_of(b);
    std::string out(std::max(na, nb), '\0');
    for (u32 i = 0; i < out.size(); i++) {
        u32 x = i < na ? pa[i] : 0, y = i < nb ? pb[i] : 0;
        bool both = i < na && i < nb;
        if constexpr (Op == 0) out[i] = static_cast<char>(both ? x & y : 0);
        if constexpr (Op == 1) out[i] = static_cast<char>(x | y);
        if constexpr (Op == 2) out[i] = static_cast<char>(x ^ y);
    }
    init_cell_from_bytes(a, reinterpret_cast<const u8*>(out.data()), static_cast<u32>(out.size()));
}

// The byte of an element write (poke, path set): a byte value, as append takes one, never a
// silently cut larger number.
void store_byte(u8* at, const cell* value) {
    u32 t = type_of(value);
    i64 n;
    if (t == type_id::integer) n = int_of(value);
    else if (t == type_id::char_) n = value->w2;
    else raise_invalid_arg(value);
    if (n < 0 || n > 255) raise_invalid_arg(value);
    *at = static_cast<u8>(n);
}

void complement(cell* value) {
    series_buffer* b = buffer_of(value->w2);
    u32 head = std::min<u32>(value->w1, used_bytes(b));
    for (u8* p = head_ptr(b) + head; p < tail_ptr(b); p++) *p = static_cast<u8>(~*p);
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    return mold_bytes(value, buffer, false, false, part, limit, 0);
}

i32 mold(cell* value, cell* buffer, bool only, bool, bool flat, cell* part, i32 limit, i32 indent) {
    return mold_bytes(value, buffer, only, flat, part, limit, indent);
}
} // namespace

void register_type() {
    series::hooks.binary_store = store_byte;
    datatype::register_row(action_row{.type = type_id::binary,
                                      .parent = type_id::string,
                                      .name = "binary!",
                                      .make = make,
                                      .random = act::inherit,
                                      .reflect = act::inherit,
                                      .to = to,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = act::inherit,
                                      .compare = compare,
                                      .and_t = bitwise<0>,
                                      .complement = complement,
                                      .or_t = bitwise<1>,
                                      .xor_t = bitwise<2>,
                                      .append = insert,
                                      .at = act::inherit,
                                      .back = act::inherit,
                                      .change = change,
                                      .clear = act::inherit,
                                      .copy = act::inherit,
                                      .find = act::inherit,
                                      .head = act::inherit,
                                      .head_q = act::inherit,
                                      .index_q = act::inherit,
                                      .insert = insert,
                                      .length_q = act::inherit,
                                      .move = act::inherit,
                                      .next = act::inherit,
                                      .pick = act::inherit,
                                      .poke = act::inherit,
                                      .remove = act::inherit,
                                      .reverse = act::inherit,
                                      .select = act::inherit,
                                      .sort = act::inherit,
                                      .skip = act::inherit,
                                      .swap = act::inherit,
                                      .tail = act::inherit,
                                      .tail_q = act::inherit,
                                      .take = act::inherit,
                                      .trim = trim,
                                      .modify = act::inherit});
}

} // namespace zel::binary
