// series!: positions, element access and the unit-generic modifications. Every change is told to
// the series' owner before and after; the notice may run language code that changes the series,
// so each handler re-reads the buffer and re-clamps its counts after it.
#include "datatypes/series.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/random.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/murmur3.hpp"
#include "runtime/owner.hpp"

namespace zel::series {

element_hooks hooks;

namespace {

i32 head_of(const cell* s) {
    return static_cast<i32>(s->w1);
}
series_buffer* buf(const cell* s) {
    return buffer_of(s->w2);
}
u32 length_of(const cell* s) {
    return used_units(buf(s));
}
u8* unit_at(series_buffer* b, u64 i) {
    return head_ptr(b) + i * unit_of(b);
}

[[noreturn]] void raise_out_of_range(const cell* value) {
    error::raise(err::E("script", "out-of-range"), value);
}
[[noreturn]] void raise_out_of_range(i32 n) {
    cell c;
    init_integer(&c, n);
    raise_out_of_range(&c);
}
[[noreturn]] void not_done() {
    error::raise(err::E("internal", "not-done"));
}

bool same_series(const cell* a, const cell* b) {
    return type_of(a) == type_of(b) && a->w2 == b->w2;
}

// The /part count of remove and reverse: an integer, or a position in the same series.
i64 part_count(const cell* s, const cell* part) {
    if (is(part, type_id::integer)) return int_of(part);
    if (same_series(s, part)) return i64(head_of(part)) - head_of(s);
    raise_refine_arg("part", part);
}

i64 clamp64(i64 v, i64 lo, i64 hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

// The element at unit index p as a value.
void element_value(const cell* s, u32 p, cell* out) {
    u32 t = type_of(s);
    series_buffer* b = buf(s);
    if (unit_of(b) == sizeof(cell)) {
        *out = head_cell(b)[p];
        return;
    }
    if (t == type_id::vector) {
        if (!hooks.vector_pick) not_done();
        cell v;
        hooks.vector_pick(s, p, &v);
        *out = v;
        return;
    }
    if (t == type_id::binary) {
        init_integer(out, *unit_at(b, p));
        return;
    }
    init_char(out, string::read_unit(unit_at(b, p), unit_of(b)));
}

void swap_units(series_buffer* b, u32 i, u32 j, u32 count) {
    if (i == j) return;
    u32 bytes = count * unit_of(b);
    u8 small[sizeof(cell)];
    std::vector<u8> large;
    u8* scratch = small;
    if (bytes > sizeof small) {
        large.resize(bytes);
        scratch = large.data();
    }
    std::memcpy(scratch, unit_at(b, i), bytes);
    std::memmove(unit_at(b, i), unit_at(b, j), bytes);
    std::memcpy(unit_at(b, j), scratch, bytes);
}

// ---- positions ---------------------------------------------------------------------------

i64 index_argument(const cell* a) {
    if (!is(a, type_id::integer)) error::raise(err::E("script", "invalid-arg"), a);
    return int_of(a);
}

void at() {
    cell* s = stack::arg(0);
    i64 i = index_argument(stack::arg(1));
    i64 h = head_of(s);
    s->w1 = static_cast<u32>(clamp64(i >= 1 ? h + i - 1 : h + i, 0, length_of(s)));
}

void skip() {
    cell* s = stack::arg(0);
    i64 i = index_argument(stack::arg(1));
    s->w1 = static_cast<u32>(clamp64(i64(head_of(s)) + i, 0, length_of(s)));
}

void back() {
    cell* s = stack::arg(0);
    if (head_of(s) > 0) s->w1--;
}

void next() {
    cell* s = stack::arg(0);
    if (i64(head_of(s)) + 1 <= length_of(s)) s->w1++;
}

void head() {
    stack::arg(0)->w1 = 0;
}
void tail() {
    stack::arg(0)->w1 = length_of(stack::arg(0));
}
void head_q() {
    init_logic(stack::arg(0), head_of(stack::arg(0)) == 0);
}
void tail_q() {
    init_logic(stack::arg(0), head_at_tail(stack::arg(0)));
}
void index_q() {
    init_integer(stack::arg(0), head_of(stack::arg(0)) + 1);
}
i32 length_q(cell* s) {
    return static_cast<i32>(count_units(s, false));
}

// ---- modifications ------------------------------------------------------------------------

void clear(cell* s) {
    i64 h = std::max(head_of(s), 0);
    i64 n = i64(length_of(s)) - h;
    if (n < 1) return;
    bool told = owner::notify_change(s, owner::event::clear, nullptr, static_cast<i32>(h),
                                     static_cast<i32>(n));
    u32 length = length_of(s);
    if (h < length) {
        if (type_of(s) == type_id::hash)
            index_sync::removed(s, static_cast<u32>(h), length - static_cast<u32>(h), length);
        series_buffer* b = buf(s);
        b->tail = b->head + static_cast<u32>(h) * unit_of(b);
    }
    if (told)
        owner::notify_change(s, owner::event::cleared, nullptr, static_cast<i32>(h),
                             static_cast<i32>(n));
}

// Cuts `m` units at `at` out of the series, closing the gap; keeps a hash! index in step.
void cut_units(cell* s, u32 at, u32 m) {
    u32 length = length_of(s);
    if (at >= length) return;
    m = std::min(m, length - at);
    series_buffer* b = buf(s);
    std::memmove(unit_at(b, at), unit_at(b, u64(at) + m), u64(length - at - m) * unit_of(b));
    b->tail -= m * unit_of(b);
    if (type_of(s) == type_id::hash) index_sync::removed(s, at, m, length);
}

void remove(cell* s, cell* part, cell* key) {
    i64 m = part ? part_count(s, part) : 1;
    if (m < 1) return;
    if (key) {
        cell probe = *s;
        cell k = *key;
        auto find = actions::handler_of_value<act::slot::find>(s);
        cell* found = find(&probe, &k, nullptr, false, true, false, false, nullptr, nullptr, false,
                           false, false, false);
        if (is_none(found)) {
            init_none(s);
            return;
        }
        s->w1 = found->w1;
        m += 1;
    }
    i64 h = std::max(head_of(s), 0);
    if (h >= length_of(s)) return;
    bool told = owner::notify_change(s, owner::event::remove, nullptr, static_cast<i32>(h),
                                     static_cast<i32>(std::min<i64>(m, INT32_MAX)));
    cut_units(s, static_cast<u32>(h), static_cast<u32>(std::min<i64>(m, UINT32_MAX)));
    if (told) owner::notify_change(s, owner::event::removed, nullptr, static_cast<i32>(h), 0);
}

void reverse(cell* s, cell* part, cell* skip_arg) {
    u32 length = length_of(s);
    i64 h = clamp64(head_of(s), 0, length);
    i64 m = part ? part_count(s, part) : i64(length) - h;
    if (m < 1) return;
    i64 size = 1;
    if (skip_arg) {
        if (!is(skip_arg, type_id::integer)) raise_refine_arg("skip", skip_arg);
        size = int_of(skip_arg);
        if (size == m) return;
        if (size < 1) raise_out_of_range(skip_arg);
        if (m < size || m % size != 0) raise_refine_arg("skip", skip_arg);
    }
    bool told = owner::notify_change(s, owner::event::reverse, nullptr, static_cast<i32>(h),
                                     static_cast<i32>(m));
    length = length_of(s);
    i64 end = std::min<i64>(h + m, length);
    series_buffer* b = buf(s);
    for (i64 front = h, back = end - size; front + size <= back; front += size, back -= size)
        swap_units(b, static_cast<u32>(front), static_cast<u32>(back), static_cast<u32>(size));
    if (type_of(s) == type_id::hash) index_sync::rebuild(s);
    if (told)
        owner::notify_change(s, owner::event::reversed, nullptr, static_cast<i32>(h),
                             static_cast<i32>(m));
}

// ---- move ---------------------------------------------------------------------------------

[[noreturn]] void raise_move_bad(const cell* a, const cell* b) {
    cell ta, tb;
    init_datatype(&ta, type_of(a));
    init_datatype(&tb, type_of(b));
    error::raise(err::E("script", "move-bad"), &ta, &tb);
}

bool is_text_kind(u32 t) {
    return is_any_string_type(t);
}

// Opens a gap of n units at `at` of a series (growing it), a hash! index following.
void open_gap(cell* s, u32 at, u32 n) {
    u32 length = length_of(s);
    series_buffer* b = ensure_room(s->w2, n, true);
    std::memmove(unit_at(b, u64(at) + n), unit_at(b, at), u64(length - at) * unit_of(b));
    b->tail += n * unit_of(b);
}

cell* move(cell* origin, cell* target, cell* part) {
    if (!is_series_type(type_of(target))) actions::raise_not_allowed(target, 1);
    if (head_at_tail(origin)) return target;
    i64 m = 1;
    if (part) {
        if (!is(part, type_id::integer)) raise_refine_arg("part", part);
        m = int_of(part);
        if (m < 1) return target;
    }
    u32 ta = type_of(origin), tb = type_of(target);
    bool a_cells = unit_of(buf(origin)) == sizeof(cell);
    bool b_cells = unit_of(buf(target)) == sizeof(cell);
    if (origin->w2 != target->w2) {
        if ((a_cells && is_text_kind(tb)) || (b_cells && is_text_kind(ta)))
            raise_move_bad(origin, target);
        if (a_cells != b_cells) raise_move_bad(origin, target);
        bool same_unit = unit_of(buf(origin)) == unit_of(buf(target));
        if (!same_unit && (ta == type_id::binary || ta == type_id::vector ||
                           tb == type_id::binary || tb == type_id::vector))
            raise_move_bad(origin, target);
        i64 index = clamp64(head_of(target), 0, length_of(target));
        bool told_a = owner::notify_change(origin, owner::event::move, nullptr,
                                           static_cast<i32>(index), static_cast<i32>(m));
        bool told_b = owner::notify_change(target, owner::event::move, nullptr,
                                           static_cast<i32>(index), static_cast<i32>(m));
        // The notices may have changed either series.
        u32 from = clamped_head(origin);
        u32 to = clamped_head(target);
        u32 count = static_cast<u32>(std::min<i64>(m, length_of(origin) - from));
        if (count > 0) {
            if (unit_of(buf(origin)) == unit_of(buf(target))) {
                u32 unit = unit_of(buf(origin));
                u32 old_target = length_of(target);
                open_gap(target, to, count);
                std::memcpy(unit_at(buf(target), to), unit_at(buf(origin), from),
                            u64(count) * unit);
                if (tb == type_id::hash) index_sync::inserted(target, to, count, old_target);
                cut_units(origin, from, count);
            } else {
                string::move_units(origin, target, count * unit_of(buf(origin)));
            }
        }
        if (told_a)
            owner::notify_change(origin, owner::event::moved, nullptr, static_cast<i32>(index), 0);
        if (told_b)
            owner::notify_change(target, owner::event::moved, nullptr, static_cast<i32>(index), 0);
        return target;
    }
    // Within one buffer: the moved units go before the unit that was at the target's head.
    u32 length = length_of(origin);
    u32 from = clamped_head(origin);
    u32 to = clamped_head(target);
    u32 count = static_cast<u32>(std::min<i64>(m, length - from));
    if (to == from) return target;
    if (to > from && to < u64(from) + count) return origin;
    i32 index = static_cast<i32>(to > from ? to - count : to);
    bool told =
        owner::notify_change(origin, owner::event::move, nullptr, index, static_cast<i32>(count));
    length = length_of(origin);
    from = clamped_head(origin);
    to = clamped_head(target);
    count = static_cast<u32>(std::min<i64>(count, length - from));
    if (count > 0 && to != from && !(to > from && to < u64(from) + count)) {
        series_buffer* b = buf(origin);
        u32 unit = unit_of(b);
        std::vector<u8> scratch(unit_at(b, from), unit_at(b, u64(from) + count));
        if (to > from) {
            std::memmove(unit_at(b, from), unit_at(b, u64(from) + count),
                         u64(to - from - count) * unit);
            std::memcpy(unit_at(b, to - count), scratch.data(), scratch.size());
        } else {
            std::memmove(unit_at(b, u64(to) + count), unit_at(b, to), u64(from - to) * unit);
            std::memcpy(unit_at(b, to), scratch.data(), scratch.size());
        }
        if (ta == type_id::hash) index_sync::moved(origin, to, from, count);
    }
    if (told) owner::notify_change(origin, owner::event::moved, nullptr, index, 0);
    return target;
}

// ---- random -------------------------------------------------------------------------------

void random(cell* s, bool seed, bool secure, bool only) {
    if (seed) {
        series_buffer* b = buf(s);
        u32 h = clamped_head(s);
        u32 bytes = (used_units(b) - h) * unit_of(b);
        random::seed(hash_index::murmur3(unit_at(b, h), bytes));
        init_unset(s);
        return;
    }
    bool told = owner::notify_change(s, owner::event::random, nullptr, head_of(s), 0);
    u32 h = clamped_head(s);
    u32 length = length_of(s);
    if (only) {
        if (length - h < 1) {
            init_none(s);
            return;
        }
        i32 k = random::int_range(secure, static_cast<i32>(length - h));
        cell v;
        element_value(s, h + k - 1, &v);
        *s = v;
        return;
    }
    for (u32 i = h; i < length; i++) {
        i32 k = random::int_range(secure, static_cast<i32>(length - i));
        swap_units(buf(s), i, i + k - 1, 1);
    }
    // Every cell may have moved: an index of positions is rebuilt whole.
    if (type_of(s) == type_id::hash) index_sync::rebuild(s);
    if (told) owner::notify_change(s, owner::event::randomized, nullptr, head_of(s), 0);
}

// ---- ownership fields ---------------------------------------------------------------------

bool is_owned_field(u32 symbol) {
    u32 owned = name_symbol("owned");
    return owned && symbol &&
           hash_index::canonical_symbol(symbol) == hash_index::canonical_symbol(owned);
}

void reflect(cell* s, u32 field_symbol) {
    if (!is_owned_field(field_symbol)) not_done();
    cell* owner_cell = owner::find_owner(s->w2);
    if (!owner_cell) {
        init_none(s);
        return;
    }
    cell pair[2] = {owner_cell[0], owner_cell[1]};
    u32 node = memory::new_cell_series(2);
    series_buffer* b = buffer_of(node);
    std::memcpy(head_ptr(b), pair, sizeof pair);
    b->tail = b->head + sizeof pair;
    *s = cell{type_id::block, 0, node, 0};
}

void modify(cell* target, cell* field, cell* value, bool) {
    if (is_any_word_type(type_of(field)) && is_owned_field(field->w2)) {
        if (is_none(value)) {
            owner::release_series(target);
        } else if (is(value, type_id::block) && length_of(value) >= clamped_head(value) + 2) {
            u32 h = clamped_head(value);
            cell o = head_cell(buf(value))[h], f = head_cell(buf(value))[h + 1];
            owner::claim(target, &o, &f);
        }
    }
    *target = *value;
}

} // namespace

// ---- helpers ------------------------------------------------------------------------------

bool head_at_tail(const cell* s) {
    return i64(head_of(s)) >= i64(length_of(s));
}

u32 units_from_start(const cell* s) {
    return length_of(s);
}

bool skip_units(cell* s, i32 n) {
    i64 h = i64(head_of(s)) + n;
    if (h <= length_of(s)) s->w1 = static_cast<u32>(h);
    return head_at_tail(s);
}

u32 count_units(cell* s, bool from_start) {
    u32 length = length_of(s);
    i32 h = head_of(s);
    if (h > 0 && static_cast<u32>(h) > length) {
        s->w1 = length;
        return 0;
    }
    if (from_start || h < 0) return length;
    return length - static_cast<u32>(h);
}

u32 clamped_head(const cell* s) {
    return static_cast<u32>(clamp64(head_of(s), 0, length_of(s)));
}

bool is_series_type(u32 t) {
    return is_any_block_type(t) || is_any_string_type(t) || t == type_id::binary ||
           t == type_id::vector || t == type_id::image;
}

cell* init_empty(cell* out, u32 type, u32 n, u32 unit) {
    u32 node = memory::new_series(n ? n : 1, unit, 0);
    *out = cell{type, 0, node, 0};
    return out;
}

series_buffer* ensure_room(u32 node, u64 needed, bool spare) {
    series_buffer* b = buffer_of(node);
    u64 unit = unit_of(b);
    u64 want = (u64(used_units(b)) + needed) * unit;
    if (u64(data_end(b) - head_ptr(b)) >= want) return b;
    if (spare) want *= 2;
    if (want > 0xF0000000u) error::raise(err::E("internal", "no-memory"));
    return memory::grow_series(b, static_cast<u32>((want + 15) & ~u64(15)));
}

u32 name_symbol(std::string_view text) {
    u32 symbols = hash_index::symbol_table();
    if (!symbols) return 0;
    return hash_index::intern_text(symbols, reinterpret_cast<const u8*>(text.data()),
                                   static_cast<u32>(text.size()), false);
}

cell* name_word(cell* out, std::string_view text) {
    u32 symbol = name_symbol(text);
    if (!symbol) return init_none(out);
    *out = cell{type_id::word, 0, symbol, 0xFFFFFFFFu};
    return out;
}

void raise_refine_arg(std::string_view refinement, const cell* value) {
    cell word;
    name_word(&word, refinement);
    error::raise(err::E("script", "invalid-refine-arg"), &word, value);
}

// ---- element access -----------------------------------------------------------------------

cell* pick(cell* s, i32 index, cell*) {
    i64 h = head_of(s);
    i64 p = index > 0 ? h + index - 1 : h + index;
    series_buffer* b = buf(s);
    if (unit_of(b) == sizeof(cell)) {
        // Cells: the length without a division.
        if (index == 0 || p < 0 || p >= i64(used_bytes(b) / sizeof(cell))) return init_none(s);
        return head_cell(b) + p;
    }
    if (index == 0 || p < 0 || p >= length_of(s)) return init_none(s);
    cell v;
    element_value(s, static_cast<u32>(p), &v);
    *s = v;
    return s;
}

void poke(cell* s, i32 index, cell* value, cell*) {
    i64 h = head_of(s);
    i64 p = index > 0 ? h + index - 1 : h + index;
    if (index == 0 || p < 0 || p >= length_of(s)) raise_out_of_range(index);
    u32 t = type_of(s);
    cell v = *value;
    bool cells = unit_of(buf(s)) == sizeof(cell);
    if (!cells) {
        if (t == type_id::vector) {
            if (type_of(&v) != s->w3) error::raise(err::E("script", "invalid-arg"), &v);
            if (!hooks.vector_poke) not_done();
        } else if (t == type_id::binary) {
            if (!hooks.binary_store) not_done();
        } else if (!is(&v, type_id::char_)) {
            error::raise(err::E("script", "invalid-arg"), &v);
        }
    }
    bool told = owner::notify_change(s, owner::event::poke, &v, static_cast<i32>(p), 1);
    // The notice may have shortened the series.
    if (p >= length_of(s)) raise_out_of_range(index);
    u32 at = static_cast<u32>(p);
    if (cells) {
        if (t == type_id::hash) index_sync::replace_before(s, at);
        head_cell(buf(s))[at] = v;
        if (t == type_id::hash) index_sync::replace_after(s, at);
    } else if (t == type_id::vector) {
        hooks.vector_poke(s, at, &v);
    } else if (t == type_id::binary) {
        hooks.binary_store(unit_at(buf(s), at), &v);
    } else {
        string::store_codepoint(buf(s), unit_at(buf(s), at), v.w2);
    }
    if (told) owner::notify_change(s, owner::event::poked, &v, static_cast<i32>(p), 1);
    *s = v;
}

// ---- copy and take ------------------------------------------------------------------------

cell* copy(cell* value, cell* out, cell* part, bool, cell*) {
    if (!out) out = value;
    series_buffer* b = buf(value);
    i64 length = used_units(b);
    i64 h = head_of(value);
    i64 start = h;
    i64 count = std::max<i64>(length - h, 0);
    if (part) {
        if (is(part, type_id::integer)) {
            count = int_of(part);
        } else if (is(part, type_id::pair)) {
            i64 x = static_cast<i32>(part->w2), y = static_cast<i32>(part->w3);
            start = std::max<i64>(x < 0 ? h + x : h + x - 1, 0);
            count = y >= x ? y - x : 0;
        } else if (same_series(value, part)) {
            count = i64(head_of(part)) - h;
        } else {
            raise_refine_arg("part", part);
        }
    }
    if (count < 0) {
        i64 back = std::max<i64>(start + count, 0);
        count = start - back;
        start = back;
    }
    if (start > length) {
        start = length;
        count = 0;
    }
    start = std::max<i64>(start, 0);
    if (start + count > length) count = length - start;
    u32 unit = unit_of(b);
    u32 node = memory::new_series(count ? static_cast<u32>(count) : 1, unit, 0);
    series_buffer* from = buf(value);
    series_buffer* to = buffer_of(node);
    std::memcpy(head_ptr(to), unit_at(from, start), u64(count) * unit);
    to->tail = to->head + static_cast<u32>(count) * unit;
    u32 w3 = type_of(value) == type_id::vector ? value->w3 : 0;
    *out = cell{value->header, 0, node, w3};
    return out;
}

cell* take(cell* s, cell* part, bool, bool last) {
    u32 length = length_of(s);
    i64 h = clamp64(head_of(s), 0, length);
    i64 n = length - h;
    if (n < 1) return init_none(s);
    i64 d = 1;
    if (part) {
        if (is(part, type_id::integer)) {
            d = int_of(part);
        } else if (same_series(s, part)) {
            i64 ph = head_of(part);
            d = ph < h ? 0 : (last ? h + n - ph : ph - h);
        } else {
            raise_refine_arg("part", part);
        }
    }
    // The range taken: from the head (or the tail with /last), or before the head for a
    // negative count. A count of 0 takes nothing.
    i64 from = h, count = 0;
    if (d > 0) {
        count = std::min(d, n);
        from = last ? length - count : h;
    } else if (d < 0 && !last && h > 0) {
        count = std::min(-d, h);
        from = h - count;
    }
    u32 t = type_of(s);
    u32 unit = unit_of(buf(s));
    bool told = false;
    if (count > 0) {
        told = owner::notify_change(s, owner::event::take, nullptr, static_cast<i32>(h),
                                    static_cast<i32>(std::clamp<i64>(d, INT32_MIN, INT32_MAX)));
        length = length_of(s);
        count = from < length ? std::min<i64>(count, length - from) : 0;
    }
    u32 node = memory::new_series(count ? static_cast<u32>(count) : 1, unit, 0);
    series_buffer* to = buffer_of(node);
    if (count > 0) std::memcpy(head_ptr(to), unit_at(buf(s), from), u64(count) * unit);
    to->tail = to->head + static_cast<u32>(count) * unit;
    cell result{t, 0, node, t == type_id::vector ? s->w3 : 0};
    if (count > 0) cut_units(s, static_cast<u32>(from), static_cast<u32>(count));
    if (t == type_id::hash)
        result.w3 =
            hash_index::make_index(static_cast<u32>(count), &result, hash_index::kind::hash, 0);
    if (told) owner::notify_change(s, owner::event::taken, nullptr, static_cast<i32>(h), 0);
    *s = result;
    return s;
}

// ---- hash! indexes ------------------------------------------------------------------------

namespace index_sync {

namespace {
u32 index_of(const cell* s) {
    return type_of(s) == type_id::hash ? s->w3 : 0;
}
} // namespace

void rebuild(const cell* s) {
    u32 index = index_of(s);
    if (!index) return;
    hash_index::reset(index);
    hash_index::index_cells(index, 0, 1);
}

void inserted(const cell* s, u32 at, u32 n, u32 old_length) {
    u32 index = index_of(s);
    if (!index || n == 0) return;
    if (hash_index::shift_positions(index, static_cast<i32>(n), at, old_length - at, true))
        return rebuild(s);
    for (u32 i = at; i < at + n; i++) {
        u32 out = 0;
        hash_index::insert_cell(index, head_cell(buf(s)) + i, &out);
        if (out == 2) return; // the index was rebuilt over every cell
    }
}

void removed(const cell* s, u32 at, u32 n, u32 old_length) {
    u32 index = index_of(s);
    if (!index || n == 0) return;
    if (hash_index::shift_positions(index, -static_cast<i32>(n), at, old_length - at - n, true))
        rebuild(s);
}

void moved(const cell* s, u32 to, u32 from, u32 n) {
    u32 index = index_of(s);
    if (index && hash_index::move_range(index, to, from, n)) rebuild(s);
}

void replace_before(const cell* s, u32 at) {
    if (u32 index = index_of(s)) hash_index::remove_cell(index, head_cell(buf(s)) + at);
}

void replace_after(const cell* s, u32 at) {
    if (u32 index = index_of(s)) hash_index::insert_cell(index, head_cell(buf(s)) + at);
}

} // namespace index_sync

void register_type() {
    datatype::register_row(action_row{.type = type_id::series,
                                      .parent = 0,
                                      .name = "series!",
                                      .random = random,
                                      .reflect = reflect,
                                      .at = at,
                                      .back = back,
                                      .clear = clear,
                                      .copy = copy,
                                      .head = head,
                                      .head_q = head_q,
                                      .index_q = index_q,
                                      .length_q = length_q,
                                      .move = move,
                                      .next = next,
                                      .pick = pick,
                                      .poke = poke,
                                      .remove = remove,
                                      .reverse = reverse,
                                      .skip = skip,
                                      .tail = tail,
                                      .tail_q = tail_q,
                                      .take = take,
                                      .modify = modify});
}

} // namespace zel::series
