// The block! handlers that change a block: put, append and insert, change, take, swap, trim.
// The cells to write are copied out of their series before the target opens a gap, so a block
// inserted into itself reads what it held before the change. After the owner's "before" notice,
// which may run language code, every count is taken again from the buffer as it is now.
#include <algorithm>
#include <cstring>
#include <optional>

#include "datatypes/block.hpp"
#include "datatypes/block_handlers.hpp"
#include "datatypes/series.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/owner.hpp"

namespace zel::block {

namespace cop = actions::compare_op;

namespace {
series_buffer* buf(const cell* b) {
    return buffer_of(b->w2);
}
u32 length_of(const cell* b) {
    return used_units(buf(b));
}

// The head clamped into the block; a head past the tail is written back as the tail.
u32 clamp_head(cell* b) {
    u32 h = series::clamped_head(b);
    b->w1 = h;
    return h;
}

// The cells a value stands for: a block's cells from its head (unless `only`), else itself.
// A single value is held inline: appending one value is the common case and takes no heap. A
// block's cells are read where they lie (`data()` after the target has grown), or from a copy on
// the data stack when they lie in the target itself; the copy goes with this object.
class source_cells {
  public:
    source_cells(const cell* value, bool only, u32 target_node) : base_(stack::top) {
        if (!only && is_any_block_type(type_of(value))) {
            run_ = cells_in_place(value, target_node);
            size_ = run_.count;
        } else {
            one_ = *value;
        }
    }
    ~source_cells() { stack::top = base_; }
    source_cells(const source_cells&) = delete;
    source_cells& operator=(const source_cells&) = delete;
    const cell* data() const { return run_.node ? run_.first() : &one_; }
    std::size_t size() const { return size_; }

  private:
    cell* base_;
    cell one_;
    cell_run run_;
    std::size_t size_ = 1;
};

u64 checked_total(u64 count, u64 dup) {
    u64 total = count * dup;
    if (total > 0x0F000000u) error::raise(err::E("internal", "no-memory"));
    return total;
}

i32 as_i32(u64 n) {
    return static_cast<i32>(std::min<u64>(n, INT32_MAX));
}

void write_repeated(const cell* b, u32 at, const cell* src, u32 count, u32 dup) {
    if (count == 0) return;
    cell* base = head_cell(buf(b)) + at;
    if (count == 1 && dup == 1) {
        *base = *src;
        return;
    }
    for (u32 r = 0; r < dup; r++)
        std::memcpy(base + u64(r) * count, src, count * sizeof(cell));
}

void append_cell(cell* b, const cell* value) {
    u32 length = length_of(b);
    append_value_copy(b, value);
    series::index_sync::inserted(b, length, 1, length);
}
} // namespace

namespace handlers {

namespace {
[[gnu::noinline]] void insert_general(cell* s, cell* value, i32 part, bool only, i32 dup,
                                      bool append) {
    cell v = *value;
    std::optional<source_cells> src(std::in_place, &v, only, s->w2);
    u64 n = src->size();
    if (n == 0 || dup < 1) return;
    u64 count = part < 0 || u64(part) > n ? n : u64(part);
    u32 h = clamp_head(s);
    u32 length = length_of(s);
    u32 at = append || h >= length ? length : h;
    u64 total = checked_total(count, u64(dup));
    u32 ev = append ? owner::event::append : owner::event::insert;
    bool told = owner::notify_change(s, ev, &v, static_cast<i32>(at), as_i32(total));
    if (told) {
        src.emplace(&v, only, s->w2);
        count = std::min<u64>(count, src->size());
        total = count * u64(dup);
        h = clamp_head(s);
        length = length_of(s);
        at = append || h >= length ? length : h;
    }
    if (total > 0) {
        series_buffer* b = make_room(s, total, dup < 5);
        cell* base = head_cell(b);
        std::memmove(base + at + total, base + at, (length - at) * sizeof(cell));
        b->tail += static_cast<u32>(total * sizeof(cell));
        write_repeated(s, at, src->data(), static_cast<u32>(count), static_cast<u32>(dup));
        series::index_sync::inserted(s, at, static_cast<u32>(total), length);
    }
    if (told) owner::notify_change(s, ev + 1, &v, static_cast<i32>(at), as_i32(total));
    s->w1 = append ? 0 : static_cast<u32>(std::min<u64>(at + total, length_of(s)));
}
} // namespace

void insert(cell* s, cell* value, i32 part, bool only, i32 dup, bool append) {
    const cell v = *value;
    if (append && dup == 1 && part != 0 && (only || !is_any_block_type(type_of(&v))) &&
        type_of(s) != type_id::hash && !(buf(s)->flags & buffer_flag::owned)) {
        // One value at the tail of a block that no index follows and no owner hears: the
        // common append, with nothing to count, move or tell.
        series_buffer* b = buf(s);
        if (tail_ptr(b) + sizeof(cell) > data_end(b)) b = make_room(s, 1, true);
        *tail_cell(b) = v;
        b->tail += static_cast<u32>(sizeof(cell));
        s->w1 = 0;
        return;
    }
    insert_general(s, value, part, only, dup, append);
}

void change(cell* s, cell* value, i32 part, bool only, i32 dup) {
    cell v = *value;
    if (dup < 0) dup = 0;
    u32 h = clamp_head(s);
    u32 avail = length_of(s) - h;
    std::optional<source_cells> src(std::in_place, &v, only, s->w2);
    u64 n = src->size();
    u64 inserted = checked_total(n, u64(dup));
    u64 removed = part >= 0 ? std::min<u64>(avail, u64(part)) : std::min<u64>(avail, inserted);
    bool told =
        owner::notify_change(s, owner::event::change, &v, static_cast<i32>(h), as_i32(inserted));
    if (told) {
        h = clamp_head(s);
        avail = length_of(s) - h;
        removed = std::min<u64>(removed, avail);
        src.emplace(&v, only, s->w2);
        n = src->size();
        inserted = n * u64(dup);
    }
    u32 length = length_of(s);
    if (inserted > removed) make_room(s, inserted - removed, false);
    series_buffer* b = buf(s);
    cell* base = head_cell(b);
    if (inserted != removed) {
        std::memmove(base + h + inserted, base + h + removed,
                     (length - h - removed) * sizeof(cell));
        b->tail = b->head + static_cast<u32>((length - removed + inserted) * sizeof(cell));
    }
    write_repeated(s, h, src->data(), static_cast<u32>(n), static_cast<u32>(dup));
    if (type_of(s) == type_id::hash) series::index_sync::rebuild(s);
    if (told)
        owner::notify_change(s, owner::event::changed, &v, static_cast<i32>(h), as_i32(inserted));
    s->w1 = static_cast<u32>(std::min<u64>(h + inserted, length_of(s)));
}

cell* put(cell* s, cell* key, cell* value, bool case_) {
    cell k = *key, v = *value;
    search::request r;
    r.case_ = case_;
    search::result found = search::run(s, &k, r);
    i64 at = found.position < 0 ? -1 : found.position + found.span;
    i32 index = static_cast<i32>(at < 0 ? length_of(s) - series::clamped_head(s) : at);
    bool told = owner::notify_change(s, owner::event::put, &v, index, 1);
    if (at < 0) {
        append_cell(s, &k);
        append_cell(s, &v);
    } else if (at < length_of(s)) {
        u32 p = static_cast<u32>(at);
        cell existing = head_cell(buf(s))[p];
        if (actions::compare_three_way(&existing, &v, cop::find) != 0) {
            series::index_sync::replace_before(s, p);
            head_cell(buf(s))[p] = v;
            series::index_sync::replace_after(s, p);
        }
    } else {
        append_cell(s, &v);
    }
    if (told) owner::notify_change(s, owner::event::put_ed, &v, index, 1);
    *s = v;
    return s;
}

cell* take(cell* s, cell* part, bool deep, bool last) {
    series::take(s, part, deep, last);
    if (is_none(s)) return s;
    if (deep) {
        cell* held = stack::push_value(s);
        for (u32 i = 0; i < length_of(held); i++) {
            u32 t = type_of(head_cell(buf(held)) + i);
            if (!is_any_block_type(t) && !is_any_string_type(t) && t != type_id::vector &&
                t != type_id::binary && t != type_id::image)
                continue;
            cell* slot = stack::push_value(head_cell(buf(held)) + i);
            auto copy_fn = actions::handler_of_value<act::slot::copy>(slot);
            cell copy = *copy_fn(slot, slot, nullptr, true, nullptr);
            if (i < length_of(held)) head_cell(buf(held))[i] = copy;
            stack::drop_values(1);
        }
        *s = *held;
        stack::drop_values(1);
    }
    if (!part && length_of(s) == 1) *s = head_cell(buf(s))[0];
    return s;
}

void swap(cell* first, cell* second) {
    if (!is_any_block_type(type_of(second))) error::raise(err::E("script", "invalid-arg"), second);
    if (series::head_at_tail(first) || series::head_at_tail(second)) return;
    cell a = *first, b = *second;
    i32 ha = static_cast<i32>(a.w1), hb = static_cast<i32>(b.w1);
    bool told_a = owner::notify_change(&a, owner::event::swap, &b, ha, 1);
    bool told_b = owner::notify_change(&b, owner::event::swap, &a, hb, 1);
    bool same_cell = a.w2 == b.w2 && ha == hb;
    if (!same_cell && !series::head_at_tail(&a) && !series::head_at_tail(&b) && ha >= 0 &&
        hb >= 0) {
        u32 pa = static_cast<u32>(ha), pb = static_cast<u32>(hb);
        series::index_sync::replace_before(&a, pa);
        series::index_sync::replace_before(&b, pb);
        cell x = head_cell(buf(&a))[pa];
        head_cell(buf(&a))[pa] = head_cell(buf(&b))[pb];
        head_cell(buf(&b))[pb] = x;
        series::index_sync::replace_after(&a, pa);
        series::index_sync::replace_after(&b, pb);
    }
    if (told_a) owner::notify_change(&a, owner::event::swaped, &b, ha, 1);
    if (told_b) owner::notify_change(&b, owner::event::swaped, &a, hb, 1);
}

void trim(cell* s, bool, bool, bool, bool, bool, cell*) {
    u32 h = series::clamped_head(s);
    bool told = owner::notify_change(s, owner::event::trim, nullptr, static_cast<i32>(h),
                                     static_cast<i32>(length_of(s) - h));
    h = series::clamped_head(s);
    series_buffer* b = buf(s);
    cell* base = head_cell(b);
    u32 kept = h;
    for (u32 i = h; i < used_units(b); i++)
        if (!is_none(base + i)) base[kept++] = base[i];
    b->tail = b->head + kept * static_cast<u32>(sizeof(cell));
    if (type_of(s) == type_id::hash) series::index_sync::rebuild(s);
    if (told)
        owner::notify_change(s, owner::event::trimmed, nullptr, static_cast<i32>(h),
                             static_cast<i32>(length_of(s) - h));
}

} // namespace handlers
} // namespace zel::block
