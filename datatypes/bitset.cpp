// bitset!: making from specs, membership, change, the logic operations, comparison and mold.
// Every operation works on membership: the stored bytes padded with the tail byte (0, or 255 for
// a negated set), so that the same set stored at two sizes behaves, compares and combines alike.
#include "datatypes/bitset.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/basic.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"

namespace zel::bitset {

namespace {
series_buffer* buf(const cell* bits) {
    return buffer_of(bits->w2);
}
u32 byte_count(const cell* bits) {
    return used_bytes(buf(bits));
}
u8 tail_byte(const cell* bits) {
    return is_negated(bits) ? 0xFF : 0x00;
}
u8 byte_at(const cell* bits, u32 i) {
    return i < byte_count(bits) ? head_ptr(buf(bits))[i] : tail_byte(bits);
}

// A new bitset of `n` bytes, all `fill`, in `out`.
cell* init_bits(cell* out, u32 n, u8 fill, bool negated) {
    u32 node = memory::new_byte_series(n ? n : 16);
    series_buffer* b = buffer_of(node);
    if (n) std::memset(head_ptr(b), fill, n);
    b->tail = b->head + n;
    if (negated) b->flags |= negated_flag;
    *out = cell{type_id::bitset, 0, node, 0};
    return out;
}

cell* init_from_bytes(cell* out, const std::vector<u8>& bytes, bool negated) {
    init_bits(out, static_cast<u32>(bytes.size()), 0, negated);
    if (!bytes.empty()) std::memcpy(head_ptr(buf(out)), bytes.data(), bytes.size());
    return out;
}

// Extends the stored bytes to `n` with the tail byte (the members do not change).
void ensure_bytes(const cell* bits, u32 n) {
    series_buffer* b = buf(bits);
    u32 have = used_bytes(b);
    if (have >= n) return;
    u8 fill = tail_byte(bits);
    if (u32(data_end(b) - head_ptr(b)) < n) b = memory::grow_series(b, std::max(n, have * 2));
    std::memset(head_ptr(b) + have, fill, n - have);
    b->tail = b->head + n;
}

[[noreturn]] void raise_out_of_range(const cell* value) {
    error::raise(err::E("script", "out-of-range"), value);
}

// How a spec value that is not allowed is reported: while making, with the target and the
// whole spec; otherwise with the value.
struct spec_context {
    const cell* spec = nullptr; // the argument of make / to, or null
    bool to = false;
};

[[noreturn]] void raise_bad_value(const cell* value, const spec_context& ctx) {
    if (!ctx.spec) error::raise(err::E("script", "invalid-arg"), value);
    cell t;
    init_datatype(&t, type_id::bitset);
    if (ctx.to) error::raise(err::E("script", "bad-to-arg"), &t, ctx.spec);
    error::raise(err::E("script", "bad-make-arg"), &t, ctx.spec);
}

u32 bit_number(const cell* value) {
    u32 t = type_of(value);
    if (t == type_id::char_) return value->w2;
    i32 n = int_of(value);
    if (n < 0 || static_cast<u32>(n) > max_bit) raise_out_of_range(value);
    return static_cast<u32>(n);
}

bool is_range_word(const cell* c) {
    if (type_of(c) != type_id::word) return false;
    u32 minus = series::name_symbol("-");
    return minus && hash_index::canonical_symbol(c->w2) == hash_index::canonical_symbol(minus);
}

// Calls f(lo, hi) for every inclusive run of bits the value names; f answers false to stop.
// Answers false when it was stopped.
template <class F> bool each_range(const cell* value, const spec_context& ctx, F&& f);

template <class F> bool each_in_block(const cell* block, const spec_context& ctx, F&& f) {
    // The block is read through its node at each step: nothing here runs code, but setting bits
    // may allocate.
    u32 head = block->w1;
    for (u32 i = head; i < used_units(buffer_of(block->w2)); i++) {
        cell item = head_cell(buffer_of(block->w2))[i];
        u32 t = type_of(&item);
        u32 n = used_units(buffer_of(block->w2));
        if ((t == type_id::char_ || t == type_id::integer) && i + 2 < n &&
            is_range_word(head_cell(buffer_of(block->w2)) + i + 1)) {
            cell last = head_cell(buffer_of(block->w2))[i + 2];
            if (type_of(&last) != t) raise_bad_value(&last, ctx);
            u32 lo = bit_number(&item), hi = bit_number(&last);
            // A range written backwards names nothing sensible: refuse it rather than guess.
            if (hi < lo) raise_bad_value(&last, ctx);
            if (!f(lo, hi)) return false;
            i += 2;
            continue;
        }
        if (!each_range(&item, ctx, f)) return false;
    }
    return true;
}

template <class F> bool each_range(const cell* value, const spec_context& ctx, F&& f) {
    u32 t = type_of(value);
    switch (t) {
    case type_id::char_:
    case type_id::integer: {
        u32 n = bit_number(value);
        return f(n, n);
    }
    case type_id::block:
        return each_in_block(value, ctx, f);
    case type_id::binary:
    case type_id::string:
    case type_id::file:
    case type_id::url:
    case type_id::tag:
    case type_id::email:
    case type_id::ref: {
        series_buffer* b = buffer_of(value->w2);
        u32 unit = unit_of(b);
        u32 total = used_units(b);
        for (u32 i = std::min(value->w1, total); i < total; i++) {
            series_buffer* now = buffer_of(value->w2);
            if (i >= used_units(now)) break;
            const u8* p = head_ptr(now) + std::size_t(i) * unit;
            u32 n = t == type_id::binary ? *p : string::read_unit(p, unit);
            if (!f(n, n)) return false;
        }
        return true;
    }
    default:
        raise_bad_value(value, ctx);
    }
}

// Sets (on) or clears the bits lo..hi. Bits past the stored bytes that already read as wanted
// are left alone, so a negated set is not grown to add what it holds.
void write_range(const cell* bits, u32 lo, u32 hi, bool on) {
    if (is_negated(bits) != on) {
        ensure_bytes(bits, hi / 8 + 1);
    } else {
        u64 have = u64(byte_count(bits)) * 8;
        if (lo >= have) return;
        hi = static_cast<u32>(std::min<u64>(hi, have - 1));
    }
    u8* p = head_ptr(buf(bits));
    u32 i = lo;
    for (; i <= hi && (i & 7); i++) {
        u8 mask = static_cast<u8>(0x80u >> (i & 7));
        p[i >> 3] = on ? (p[i >> 3] | mask) : (p[i >> 3] & ~mask);
    }
    for (; u64(i) + 7 <= hi; i += 8) p[i >> 3] = on ? 0xFF : 0x00;
    for (; u64(i) <= hi; i++) {
        u8 mask = static_cast<u8>(0x80u >> (i & 7));
        p[i >> 3] = on ? (p[i >> 3] | mask) : (p[i >> 3] & ~mask);
    }
}

void write_value(const cell* bits, const cell* value, bool on) {
    spec_context ctx;
    each_range(value, ctx, [&](u32 lo, u32 hi) {
        write_range(bits, lo, hi, on);
        return true;
    });
}

// Whether every bit the value names is a member.
bool test_value(const cell* bits, const cell* value) {
    spec_context ctx;
    return each_range(value, ctx, [&](u32 lo, u32 hi) {
        u64 stored = u64(byte_count(bits)) * 8;
        for (u64 i = lo; i <= hi; i++) {
            if (i >= stored) return is_negated(bits);
            if (!has_bit(bits, i)) return false;
        }
        return true;
    });
}

// ---- make and to ---------------------------------------------------------------------------

cell* make_bits(cell* proto, cell* spec, bool to) {
    spec_context ctx{spec, to};
    u32 t = type_of(spec);
    cell made;
    switch (t) {
    case type_id::integer:
    case type_id::float_: {
        if (to) raise_bad_value(spec, ctx);
        double n = t == type_id::integer ? int_of(spec) : float_of(spec);
        if (!(n >= 0)) raise_out_of_range(spec);
        if (n > double(max_bit) + 1) raise_out_of_range(spec);
        u32 bits = static_cast<u32>(n);
        init_bits(&made, (bits + 7) / 8, 0, false);
        *proto = made;
        return proto;
    }
    case type_id::binary: {
        series_buffer* b = buffer_of(spec->w2);
        u32 total = used_bytes(b);
        u32 head = std::min(spec->w1, total);
        std::vector<u8> bytes(head_ptr(b) + head, head_ptr(b) + total);
        init_from_bytes(&made, bytes, false);
        *proto = made;
        return proto;
    }
    case type_id::bitset: {
        u32 node = memory::clone_series(buf(spec));
        *proto = cell{type_id::bitset, 0, node, 0};
        return proto;
    }
    case type_id::char_:
    case type_id::string:
    case type_id::block:
        break;
    default:
        raise_bad_value(spec, ctx);
    }
    cell rest = *spec;
    bool negated = false;
    if (t == type_id::block) {
        u32 n = used_units(buffer_of(rest.w2));
        if (rest.w1 < n) {
            const cell* first = head_cell(buffer_of(rest.w2)) + rest.w1;
            u32 not_symbol = series::name_symbol("not");
            if (type_of(first) == type_id::word && not_symbol &&
                hash_index::canonical_symbol(first->w2) == hash_index::canonical_symbol(not_symbol)) {
                negated = true;
                rest.w1++;
                if (rest.w1 < n && is(head_cell(buffer_of(rest.w2)) + rest.w1, type_id::binary)) {
                    cell pattern = head_cell(buffer_of(rest.w2))[rest.w1];
                    series_buffer* b = buffer_of(pattern.w2);
                    u32 total = used_bytes(b);
                    u32 head = std::min(pattern.w1, total);
                    std::vector<u8> bytes(head_ptr(b) + head, head_ptr(b) + total);
                    for (u8& byte : bytes) byte = static_cast<u8>(~byte);
                    init_from_bytes(&made, bytes, true);
                    *proto = made;
                    return proto;
                }
            }
        }
    }
    // Two passes: the highest bit sizes the buffer once, then the bits are written.
    i64 highest = -1;
    each_range(&rest, ctx, [&](u32, u32 hi) {
        highest = std::max<i64>(highest, hi);
        return true;
    });
    u32 bytes = static_cast<u32>((highest + 8) / 8);
    cell* slot = stack::push_value(init_bits(&made, bytes, negated ? 0xFF : 0x00, negated));
    each_range(&rest, ctx, [&](u32 lo, u32 hi) {
        write_range(slot, lo, hi, !negated);
        return true;
    });
    *proto = *slot;
    stack::drop_values(1);
    return proto;
}

cell* make(cell* proto, cell* spec, u32) {
    return make_bits(proto, spec, false);
}
cell* to(cell* proto, cell* spec, u32) {
    return make_bits(proto, spec, true);
}

// ---- form and mold -------------------------------------------------------------------------

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    bool negated = is_negated(value);
    limit = out::text(buffer, "make bitset! ", limit);
    if (negated) limit = out::text(buffer, "[not ", limit);
    limit = out::text(buffer, "#{", limit);
    std::string digits;
    u32 n = byte_count(value);
    for (u32 i = 0; i < n; i++) {
        if (part && limit < 0) break;
        u8 byte = head_ptr(buf(value))[i];
        if (negated) byte = static_cast<u8>(~byte);
        digits += string::byte_hex_text(byte).view();
        limit -= 2;
    }
    string::append_c_text(buffer, digits);
    limit = out::text(buffer, "}", limit);
    if (negated) limit = out::text(buffer, "]", limit);
    return limit;
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    return mold(value, buffer, false, false, false, part, limit, 0);
}

// ---- comparison ----------------------------------------------------------------------------

i32 compare(cell* value1, cell* value2, i32 op) {
    if (!is(value2, type_id::bitset)) return -2;
    if (op == actions::compare_op::same) return value1->w2 == value2->w2 ? 0 : -1;
    bool n1 = is_negated(value1), n2 = is_negated(value2);
    if (n1 != n2) return n1 ? 1 : -1;
    u32 n = std::max(byte_count(value1), byte_count(value2));
    for (u32 i = 0; i < n; i++) {
        u8 a = byte_at(value1, i), b = byte_at(value2, i);
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

// ---- logic ---------------------------------------------------------------------------------

u8 combine(u32 code, u8 a, u8 b) {
    switch (code) {
    case 6:
    case 10: return a & b;
    case 5:
    case 9: return a | b;
    case 7:
    case 12: return a ^ b;
    case 11: return a & static_cast<u8>(~b);
    default: return a;
    }
}

template <u32 Code> void logic_action() {
    cell result;
    logic_op(stack::arg(0), stack::arg(1), Code, &result);
    *stack::arg(0) = result;
}

// complement and negate: the complement set.
void complement(cell* value) {
    u32 node = memory::clone_series(buf(value));
    series_buffer* b = buffer_of(node);
    for (u8* p = head_ptr(b); p < tail_ptr(b); p++) *p = static_cast<u8>(~*p);
    b->flags ^= negated_flag;
    *value = cell{type_id::bitset, 0, node, 0};
}

// ---- change --------------------------------------------------------------------------------

void insert(cell* series, cell* value, i32, bool, i32, bool append) {
    bool told = owner::notify_change(series, append ? owner::event::append : owner::event::insert,
                                     value, 0, 0);
    write_value(series, value, true);
    if (told)
        owner::notify_change(series, append ? owner::event::appended : owner::event::inserted,
                             value, 0, 0);
}

void remove(cell* series, cell*, cell* key) {
    if (!key) error::raise(err::E("script", "missing-arg"));
    bool told = owner::notify_change(series, owner::event::remove, key, 0, 0);
    // The value's bits stop being members, in a negated set as in a plain one.
    write_value(series, key, false);
    if (told) owner::notify_change(series, owner::event::removed, key, 0, 0);
}

bool clears(const cell* value) {
    switch (type_of(value)) {
    case type_id::none: return true;
    case type_id::logic: return value->w1 == 0;
    case type_id::integer: return int_of(value) == 0;
    case type_id::float_: return float_of(value) == 0.0;
    default: return false;
    }
}

void poke(cell* series, i32, cell* value, cell* index_cell) {
    cell v = *value;
    bool told = owner::notify_change(series, owner::event::poke, &v, 0, 0);
    write_value(series, index_cell, !clears(&v));
    if (told) owner::notify_change(series, owner::event::poked, &v, 0, 0);
    *series = v;
}

cell logic_cell{type_id::logic, 0, 0, 0};

cell* pick(cell* series, i32, cell* index_cell) {
    init_logic(&logic_cell, test_value(series, index_cell));
    return &logic_cell;
}

cell* find(cell* series, cell* value, cell*, bool, bool, bool, bool, cell*, cell*, bool, bool,
           bool, bool) {
    if (test_value(series, value)) init_logic(series, true);
    else init_none(series);
    return series;
}

cell* eval_path(cell* parent, cell* element, cell* value, const path_step&) {
    u32 t = type_of(element);
    if (t != type_id::integer && t != type_id::char_) {
        cell type;
        init_datatype(&type, t);
        error::raise(err::E("script", "invalid-type"), &type);
    }
    if (!value) return pick(parent, 0, element);
    cell bits = *parent;
    cell v = *value;
    poke(&bits, 0, &v, element);
    *value = v;
    return value;
}

void clear(cell* value) {
    bool told = owner::notify_change(value, owner::event::clear, nullptr, 0, 0);
    series_buffer* b = buf(value);
    b->tail = b->head;
    b->flags &= ~negated_flag;
    if (told) owner::notify_change(value, owner::event::cleared, nullptr, 0, 0);
}

cell* copy(cell* value, cell* out, cell*, bool, cell*) {
    u32 node = memory::clone_series(buf(value));
    *out = cell{type_id::bitset, 0, node, 0};
    return out;
}

i32 length(cell* series) {
    return static_cast<i32>(std::min<u64>(u64(byte_count(series)) * 8, 0x7FFFFFFF));
}
} // namespace

bool is_negated(const cell* bits) {
    return buffer_of(bits->w2)->flags & negated_flag;
}

bool has_bit(const cell* bits, u64 n) {
    if (n >= u64(byte_count(bits)) * 8) return is_negated(bits);
    return head_ptr(buf(bits))[n >> 3] & (0x80u >> (n & 7));
}

void logic_op(const cell* left, const cell* right, u32 code, cell* out) {
    if (!is(right, type_id::bitset)) {
        cell type;
        init_datatype(&type, type_of(right));
        error::raise(err::E("script", "invalid-type"), &type);
    }
    if (code == 8) {
        u32 node = memory::clone_series(buf(left));
        *out = cell{type_id::bitset, 0, node, 0};
        return;
    }
    // The infinite tails combine as their bytes do; the shorter operand is read padded with its
    // own tail byte, so no member is lost or invented past it.
    u8 tail = combine(code, tail_byte(left), tail_byte(right));
    u32 n = std::max(byte_count(left), byte_count(right));
    std::vector<u8> bytes(n);
    for (u32 i = 0; i < n; i++) bytes[i] = combine(code, byte_at(left, i), byte_at(right, i));
    init_from_bytes(out, bytes, tail == 0xFF);
}

void register_type() {
    auto series_reflect = act::handler<act::slot::reflect>(type_id::series);
    auto series_modify = act::handler<act::slot::modify>(type_id::series);
    datatype::register_row(action_row{.type = type_id::bitset,
                                      .parent = 0,
                                      .name = "bitset!",
                                      .make = make,
                                      .reflect = series_reflect,
                                      .to = to,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = eval_path,
                                      .compare = compare,
                                      .negate = complement,
                                      .and_t = logic_action<6>,
                                      .complement = complement,
                                      .or_t = logic_action<5>,
                                      .xor_t = logic_action<7>,
                                      .append = insert,
                                      .clear = clear,
                                      .copy = copy,
                                      .find = find,
                                      .insert = insert,
                                      .length_q = length,
                                      .pick = pick,
                                      .poke = poke,
                                      .remove = remove,
                                      .modify = series_modify});
}

} // namespace zel::bitset
