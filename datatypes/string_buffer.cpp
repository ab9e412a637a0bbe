// String buffers: positions, code point writes with widening, text concatenation, comparison and
// the hexadecimal texts. Every allocation may move buffers, so buffers are re-read through their
// nodes after each one.
#include "datatypes/string_buffer.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/process.hpp"
#include "runtime/unicode.hpp"

namespace zel::text_units {

void bad_unit(u32) {
    runtime::fatal_error_exit(98, __builtin_return_address(0));
}

void convert_units(const u8* src, u32 src_unit, u8* dst, u32 dst_unit, u32 n) {
    if (src_unit == dst_unit) {
        std::memmove(dst, src, std::size_t(n) * src_unit);
        return;
    }
    with_unit(src_unit, [&]<class F>() {
        with_unit(dst_unit, [&]<class T>() { convert<F, T>(src, dst, n); });
    });
}

} // namespace zel::text_units

namespace zel::text_buffer {

using namespace text_units;

namespace {
[[noreturn]] void no_memory() {
    error::raise(err::E("internal", "no-memory"));
}
} // namespace

series_buffer* widen_to(series_buffer* b, u32 unit) {
    u32 from = checked_unit(b);
    if (unit <= from) return b;
    if (unit != 2 && unit != 4) bad_unit(unit);
    u32 n = used_units(b);
    u64 need = u64(n) * unit + unit;
    if (u64(data_end(b) - head_ptr(b)) < need) {
        if (need > 0xF0000000u) no_memory();
        b = memory::grow_series(b, static_cast<u32>(need));
    }
    u8* p = head_ptr(b);
    convert_units(p, from, p, unit, n);
    b->flags = (b->flags & ~buffer_flag::unit_mask) | unit;
    b->tail = b->head + n * unit;
    return b;
}

series_buffer* widen_1_to_2(series_buffer* b) {
    return widen_to(b, 2);
}
series_buffer* widen_1_to_4(series_buffer* b) {
    return widen_to(b, 4);
}
series_buffer* widen_2_to_4(series_buffer* b) {
    return widen_to(b, 4);
}

} // namespace zel::text_buffer

namespace zel::string {

using namespace text_units;

namespace {

constexpr u32 bitset_complement = 0x80000;

[[noreturn]] void no_memory() {
    error::raise(err::E("internal", "no-memory"));
}

i32 head_of(const cell* s) {
    return static_cast<i32>(s->w1);
}

// The head clamped to 0..units without rewriting the cell.
u32 clamped_head(const cell* s, u32 units) {
    i32 h = head_of(s);
    if (h < 0) return 0;
    return static_cast<u32>(h) > units ? units : static_cast<u32>(h);
}

u32 length_from_head(const cell* s) {
    u32 units = used_units(buffer_of_cell(s));
    return units - clamped_head(s, units);
}

// Reserves n bytes at the tail; answers the old tail and leaves `b` on the current buffer.
u8* reserve_tail(series_buffer*& b, u32 n) {
    u32 node = b->node;
    u8* p = memory::reserve_tail_bytes(b, n);
    b = buffer_of(node);
    return p;
}

// Grows the buffer so that `bytes` fit from its head, to twice that.
series_buffer* ensure_room(series_buffer* b, u64 bytes) {
    if (u64(data_end(b) - head_ptr(b)) >= bytes) return b;
    if (bytes * 2 > 0xF0000000u) no_memory();
    return memory::grow_series(b, static_cast<u32>(bytes * 2));
}

bool is_text_like(u32 t) {
    return t == type_id::string || t == type_id::file || t == type_id::url || t == type_id::email ||
           t == type_id::ref;
}

} // namespace

u32 units_from_head(cell* s) {
    u32 units = used_units(buffer_of_cell(s));
    i32 h = head_of(s);
    if (h > 0 && static_cast<u32>(h) > units) {
        s->w1 = units;
        return 0;
    }
    return units - (h < 0 ? 0 : static_cast<u32>(h));
}

u32 units_from_start(const cell* s) {
    return used_units(buffer_of_cell(s));
}

u8* head_address(cell* s) {
    series_buffer* b = buffer_of_cell(s);
    u32 u = checked_unit(b);
    u32 units = used_units(b);
    i32 h = head_of(s);
    if (h > 0 && static_cast<u32>(h) > units) s->w1 = units;
    return head_ptr(b) + std::size_t(clamped_head(s, units)) * u;
}

u8* tail_address(const cell* s) {
    return tail_ptr(buffer_of_cell(s));
}

bool head_at_tail(const cell* s) {
    series_buffer* b = buffer_of_cell(s);
    return i64(head_of(s)) * checked_unit(b) >= i64(used_bytes(b));
}

u32 char_at_index(const cell* s, u32 index) {
    series_buffer* b = buffer_of_cell(s);
    u32 u = checked_unit(b);
    return read(head_ptr(b) + std::size_t(index) * u, u);
}

i32 find_codepoint(cell* s, u32 cp) {
    u32 n = units_from_head(s);
    const u8* p = head_address(s);
    return with_unit(checked_unit(buffer_of_cell(s)), [&]<class U>() -> i32 {
        for (u32 i = 0; i < n; i++)
            if (load<U>(p + i * sizeof(U)) == cp) return static_cast<i32>(i);
        return -1;
    });
}

bool contains_codepoint(cell* s, u32 cp, u32 step, bool case_sensitive) {
    if (step == 0) step = 1;
    u32 n = units_from_head(s);
    const u8* p = head_address(s);
    u32 want = case_sensitive ? cp : case_::to_upper(cp);
    return with_unit(checked_unit(buffer_of_cell(s)), [&]<class U>() {
        for (u32 i = 0; i < n; i += step) {
            u32 c = load<U>(p + std::size_t(i) * sizeof(U));
            if ((case_sensitive ? c : case_::to_upper(c)) == want) return true;
        }
        return false;
    });
}

bool head_matches_text(cell* s, std::string_view text) {
    if (units_from_head(s) < text.size()) return false;
    const u8* p = head_address(s);
    u32 u = checked_unit(buffer_of_cell(s));
    for (std::size_t i = 0; i < text.size(); i++)
        if (read(p + i * u, u) != static_cast<u8>(text[i])) return false;
    return true;
}

bool head_char_in_bitset(cell* s, const cell* bitset) {
    if (units_from_head(s) == 0) return false;
    u32 cp = read(head_address(s), checked_unit(buffer_of_cell(s)));
    series_buffer* bits = buffer_of(bitset->w2);
    if (u64(cp) >= u64(used_bytes(bits)) * 8) return bits->flags & bitset_complement;
    return head_ptr(bits)[cp >> 3] & (0x80u >> (cp & 7));
}

bool angle_enclosed(cell* s, const cell* tag) {
    u32 n = units_from_head(s);
    u32 t = length_from_head(tag);
    // The closing ">" must lie inside the text.
    if (u64(t) + 2 > n) return false;
    const u8* p = head_address(s);
    u32 u = checked_unit(buffer_of_cell(s));
    return read(p, u) == '<' && read(p + std::size_t(t + 1) * u, u) == '>';
}

bool equals_value(cell* s, const cell* value, u32 op) {
    u32 t = type_of(value);
    if (is_text_like(t)) {
        cell other = *value;
        return compare_texts(s, &other, op, true) == 0;
    }
    if (t == type_id::char_) {
        if (units_from_head(s) == 0) return false;
        u32 a = read(head_address(s), checked_unit(buffer_of_cell(s)));
        u32 b = value->w2;
        if (op != 2) {
            a = case_::to_upper(a);
            b = case_::to_upper(b);
        }
        return a == b;
    }
    if (t == type_id::tag) {
        if (!angle_enclosed(s, value)) return false;
        cell inner = *s;
        inner.w1 = s->w1 + 1;
        cell other = *value;
        return compare_texts(&inner, &other, op, true) == 0;
    }
    return false;
}

void init_cell_bytes(cell* s, u32 n) {
    u32 node = memory::new_series(n ? n : 1, 1, 0);
    *s = cell{type_id::string, 0, node, 0};
}

void init_cell_unit(cell* s, u32 n, u32 unit) {
    if (unit != 1 && unit != 2 && unit != 4) bad_unit(unit);
    u32 node = memory::new_series(n ? n : 1, unit, 0);
    *s = cell{type_id::string, 0, node, 0};
}

cell* push_copy(const cell* s) {
    return stack::push_value(s);
}

void clear_to_narrow(cell* s) {
    series_buffer* b = buffer_of_cell(s);
    b->tail = b->head;
    b->flags = (b->flags & ~buffer_flag::unit_mask) | 1;
    s->w1 = 0;
}

void truncate_units(series_buffer* b, u32 n) {
    u64 at = u64(b->head) + u64(n) * checked_unit(b);
    if (at <= u64(arena::offset_of(data_end(b))) && at < b->tail) b->tail = static_cast<u32>(at);
}

series_buffer* append_codepoint(series_buffer* b, u32 cp) {
    b = text_buffer::widen_to(b, unit_for_append(cp));
    u32 u = unit_of(b);
    write(reserve_tail(b, u), u, cp);
    return b;
}

series_buffer* store_codepoint(series_buffer* b, u8* address, u32 cp) {
    u32 u = checked_unit(b);
    u32 need = unit_for_write(cp);
    if (need > u) {
        std::size_t index = (address - head_ptr(b)) / u;
        b = text_buffer::widen_to(b, need);
        u = need;
        address = head_ptr(b) + index * u;
    }
    write(address, u, cp);
    return b;
}

series_buffer* write_char_at(series_buffer* b, u32 index, u32 cp) {
    b = text_buffer::widen_to(b, unit_for_write(cp));
    u32 u = unit_of(b);
    u64 end = (u64(index) + 1) * u;
    while (u64(data_end(b) - head_ptr(b)) < end) {
        if (u64(b->size) * 2 > 0xF0000000u) no_memory();
        b = memory::grow_series(b, b->size * 2);
    }
    u64 used = used_bytes(b);
    if (end > used) {
        // Units between the old tail and the index read as NUL rather than as stale bytes.
        u64 at = end - u;
        if (at > used) std::memset(tail_ptr(b), 0, at - used);
        b->tail = b->head + static_cast<u32>(end);
    }
    write(head_ptr(b) + std::size_t(index) * u, u, cp);
    return b;
}

series_buffer* insert_char_at(series_buffer* b, u32 index, u32 cp) {
    b = text_buffer::widen_to(b, unit_for_write(cp));
    u32 u = unit_of(b);
    u32 n = used_units(b);
    if (index > n) index = n;
    reserve_tail(b, u);
    u8* at = head_ptr(b) + std::size_t(index) * u;
    std::memmove(at + u, at, std::size_t(n - index) * u);
    write(at, u, cp);
    return b;
}

void remove_char_at(cell* s, u32 index) {
    remove_units_at(s, index, 1);
}

void remove_units_at(cell* s, u32 index, u32 n) {
    series_buffer* b = buffer_of_cell(s);
    u32 u = checked_unit(b);
    u32 units = used_units(b);
    if (index >= units) return;
    n = std::min(n, units - index);
    u8* at = head_ptr(b) + std::size_t(index) * u;
    std::memmove(at, at + std::size_t(n) * u, std::size_t(units - index - n) * u);
    b->tail -= n * u;
}

series_buffer* concat(cell* target, cell* source, i32 part, bool per_codepoint) {
    u32 tnode = target->w2;
    u32 snode = source->w2;
    u32 tu = checked_unit(buffer_of(tnode));
    u32 su = checked_unit(buffer_of(snode));
    if (tu < su) {
        text_buffer::widen_to(buffer_of(tnode), su);
        tu = su;
    } else if (su < tu && !per_codepoint) {
        text_buffer::widen_to(buffer_of(snode), tu);
        su = tu;
    }
    u32 count = units_from_head(source);
    if (part >= 0 && static_cast<u32>(part) < count) count = static_cast<u32>(part);
    series_buffer* t = buffer_of(tnode);
    if (count == 0) return t;
    u64 bytes = u64(count) * tu;
    t = ensure_room(t, u64(used_bytes(t)) + bytes);
    series_buffer* s = buffer_of(snode);
    const u8* from = head_ptr(s) + std::size_t(clamped_head(source, used_units(s))) * su;
    u8* to = tail_ptr(t);
    if (su != tu)
        convert_units(from, su, to, tu, count);
    else if (tnode == snode)
        std::memmove(to, from, bytes);
    else
        std::memcpy(to, from, bytes);
    t->tail += static_cast<u32>(bytes);
    return t;
}

series_buffer* append_text_part(cell* target, cell* source, i32 part, bool per_codepoint) {
    return concat(target, source, part, per_codepoint);
}

series_buffer* append_c_text(cell* s, std::string_view text) {
    return append_bytes(s, reinterpret_cast<const u8*>(text.data()), static_cast<u32>(text.size()));
}

series_buffer* append_bytes(cell* s, const u8* bytes, u32 n) {
    series_buffer* b = buffer_of_cell(s);
    if (n == 0) return b;
    // Bytes inside the arena would move with the allocation below.
    std::vector<u8> copy;
    if (arena::contains(bytes)) {
        copy.assign(bytes, bytes + n);
        bytes = copy.data();
    }
    if (checked_unit(b) == 1 && std::any_of(bytes, bytes + n, [](u8 c) { return c > 0x7F; }))
        b = text_buffer::widen_to(b, 2);
    u32 u = unit_of(b);
    if (u64(n) * u > 0xF0000000u) no_memory();
    u8* to = reserve_tail(b, n * u);
    convert_units(bytes, 1, to, u, n);
    return b;
}

void move_units(cell* source, cell* target, u32 n_bytes) {
    u32 su = checked_unit(buffer_of_cell(source));
    u32 n = std::min(n_bytes / su, units_from_head(source));
    u32 from = head_of(source) < 0 ? 0 : static_cast<u32>(head_of(source));
    u32 to = clamped_head(target, used_units(buffer_of_cell(target)));
    for (u32 i = 0; i < n; i++) {
        u32 cp = char_at_index(source, from + i);
        insert_char_at(buffer_of_cell(target), to + i, cp);
    }
    remove_units_at(source, from, n);
}

void exchange_ranges(u8* p, u32 a, u8* q, u32 b, u32 g) {
    // The shorter range waits in a scratch copy while the longer one moves.
    if (b <= a) {
        std::unique_ptr<u8[]> keep(new u8[b ? b : 1]);
        std::memcpy(keep.get(), q, b);
        std::memmove(p + b + g, p, a);
        std::memcpy(p, keep.get(), b);
    } else {
        std::unique_ptr<u8[]> keep(new u8[a ? a : 1]);
        std::memcpy(keep.get(), p, a);
        std::memmove(p, q, b);
        std::memcpy(p + b + g, keep.get(), a);
    }
}

series_buffer* widen_buffer(series_buffer* b, u32, u32 target_unit) {
    return text_buffer::widen_to(b, target_unit);
}

series_buffer* copy_widened(series_buffer* source, series_buffer* target, u32 target_unit,
                            u32 source_offset, u32 byte_count, u32 target_offset, bool keep_tail,
                            u32 new_size) {
    u32 su = checked_unit(source);
    if (target_unit != 2 && target_unit != 4) bad_unit(target_unit);
    u32 used = used_bytes(source);
    if (source_offset > used) source_offset = used;
    if (byte_count == 0 || byte_count > used - source_offset) byte_count = used - source_offset;
    u32 n = byte_count / su;
    const u8* from = head_ptr(source) + source_offset;
    std::vector<u8> copy;
    if (!target) {
        // The old units are kept aside: the new buffer replaces the old one under its node.
        copy.assign(from, from + byte_count);
        from = copy.data();
        u64 least = u64(used / su) * target_unit;
        if (least > 0xF0000000u) no_memory();
        target = memory::reallocate_series(source, std::max<u32>(new_size, least ? least : 16));
    }
    u64 end = u64(target_offset) + u64(n) * target_unit;
    if (end > u64(data_end(target) - head_ptr(target)))
        runtime::fatal_error_exit(98, __builtin_return_address(0));
    u8* to = head_ptr(target) + target_offset;
    convert_units(from, su, to, target_unit, n);
    if (!keep_tail) {
        target->tail = target->head + static_cast<u32>(end);
        target->flags = (target->flags & ~buffer_flag::unit_mask) | target_unit;
    }
    return target;
}

namespace {
[[noreturn]] void unsupported_encoding() {
    std::fputs("*** Loading Error: input encoding unsupported\n", stdout);
    runtime::exit_process(1);
}
} // namespace

cell* decode_buffer(const u8* bytes, u32 byte_count, cell* out, i32 encoding) {
    if (encoding != encoding_utf8 && encoding != encoding_utf16le) unsupported_encoding();
    if (!out) out = init_none(stack::reserve_slot());
    if (encoding == encoding_utf8) {
        utf8::decode_to_new_string(out, bytes, byte_count);
        return out;
    }
    // A byte left over is half a unit: invalid input, as an unpaired surrogate is.
    if (byte_count & 1) utf16::invalid_input();
    u32 node = utf16::decode_to_string(bytes, byte_count / 2, nullptr, false);
    *out = cell{type_id::string, 0, node, 0};
    return out;
}

void decode_into_cell(const u8* bytes, u32 byte_count, const cell* block, i32 encoding) {
    // Decoded on the data stack first: the block's buffer may move while the text is made.
    cell* slot = decode_new(bytes, byte_count, encoding);
    *memory::append_cell_slot(block) = *slot;
    stack::drop_values(1);
}

cell* decode_new(const u8* bytes, u32 byte_count, i32 encoding) {
    return decode_buffer(bytes, byte_count, nullptr, encoding);
}

i32 compare_texts(cell* a, cell* b, u32 op, bool match, i32 b_units) {
    bool equality = op == 0 || op == 1 || op == 2 || op == 12;
    bool same = a->w2 == b->w2 && a->w1 == b->w1;
    if (op == 9) return same ? 0 : -1;
    if (same && equality) return 0;
    u32 la = units_from_head(a);
    u32 lb = units_from_head(b);
    if (b_units >= 0 && static_cast<u32>(b_units) < lb) lb = static_cast<u32>(b_units);
    u32 n;
    if (match) {
        if (lb == 0) return op == 12 ? 1 : 0;
        if (lb > la) return 1;
        n = lb;
    } else {
        if (la != lb && equality) return 1;
        if (la == 0 && lb == 0) return 0;
        if (lb == 0) return 1;
        if (la == 0) return -1;
        n = std::min(la, lb);
    }
    bool fold = op != 2 && op != 8;
    const u8* pa = head_address(a);
    const u8* pb = head_address(b);
    u32 ua = checked_unit(buffer_of_cell(a));
    u32 ub = checked_unit(buffer_of_cell(b));
    i32 order = with_unit(ua, [&]<class A>() {
        return with_unit(ub, [&]<class B>() -> i32 {
            for (u32 i = 0; i < n; i++) {
                u32 ca = load<A>(pa + std::size_t(i) * sizeof(A));
                u32 cb = load<B>(pb + std::size_t(i) * sizeof(B));
                if (ca == cb) continue;
                if (fold) {
                    ca = case_::to_upper(ca);
                    cb = case_::to_upper(cb);
                    if (ca == cb) continue;
                }
                return ca < cb ? -1 : 1;
            }
            return 0;
        });
    });
    if (order != 0 || match) return order;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

namespace {
constexpr char hex_digits[] = "0123456789ABCDEF";
}

hex_text byte_hex_text(u8 byte) {
    hex_text t{{'0', '0', '0', '0', '0', '0', '0', '0'}, 2};
    t.chars[6] = hex_digits[byte >> 4];
    t.chars[7] = hex_digits[byte & 15];
    return t;
}

hex_text int_hex_text(i32 value, bool trim) {
    hex_text t{{'0', '0', '0', '0', '0', '0', '0', '0'}, 0};
    i32 fill = value < 0 ? -1 : 0;
    i32 v = value;
    while (v != fill && t.length < 8) {
        t.chars[7 - t.length++] = hex_digits[v & 15];
        v >>= 4;
    }
    // A trimmed negative value keeps all eight digits: its leading F digits carry the sign.
    if (!trim || value < 0) {
        for (u32 i = t.length; i < 8; i++) t.chars[7 - i] = value < 0 ? 'F' : '0';
        t.length = 8;
    } else if (value == 0) {
        t.length = 2;
    }
    return t;
}

} // namespace zel::string
