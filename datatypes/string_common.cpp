// Helpers shared by the string! handlers. Every allocation may move buffers, so each helper reads
// the buffer through the node after it allocates.
#include "datatypes/string_common.hpp"

#include <algorithm>

#include "runtime/cycle_stack.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"

namespace zel::string_type::detail {

using namespace text_units;

text_view view(cell* s) {
    series_buffer* b = buffer_of(s->w2);
    text_view v{s->w2, checked_unit(b), used_units(b), 0};
    i32 h = static_cast<i32>(s->w1);
    if (h > 0 && static_cast<u32>(h) > v.length) s->w1 = v.length;
    v.head = h < 0 ? 0 : std::min(static_cast<u32>(h), v.length);
    return v;
}

std::u32string codepoints_at(u32 node, u32 index, u32 n) {
    series_buffer* b = buffer_of(node);
    u32 u = checked_unit(b);
    u32 length = used_units(b);
    if (index > length) index = length;
    n = std::min(n, length - index);
    std::u32string out(n, U'\0');
    const u8* p = head_ptr(b) + std::size_t(index) * u;
    for (u32 i = 0; i < n; i++) out[i] = read(p + std::size_t(i) * u, u);
    return out;
}

std::u32string codepoints_of(cell* s) {
    text_view v = view(s);
    return codepoints_at(v.node, v.head, v.from_head());
}

u32 widest_of(const std::u32string& cps) {
    u32 w = 0;
    for (char32_t c : cps) w = std::max<u32>(w, c);
    return w;
}

void append_codepoints(cell* target, const std::u32string& cps) {
    if (cps.empty()) return;
    series_buffer* b = buffer_of(target->w2);
    splice(target, used_units(b), 0, cps, unit_for_append(widest_of(cps)), 1);
}

void splice(cell* s, u32 at, u32 removed, const std::u32string& cps, u32 unit, u64 dup) {
    u32 node = s->w2;
    series_buffer* b = buffer_of(node);
    u32 u = std::max({checked_unit(b), unit, unit_for_write(widest_of(cps))});
    u32 length = used_units(b);
    at = std::min(at, length);
    removed = std::min(removed, length - at);
    u64 total = u64(cps.size()) * dup;
    u64 new_length = u64(length) - removed + total;
    if (total > 0xFFFFFFFFu || new_length * u > 0xF0000000u) raise_no_memory();
    b = text_buffer::widen_to(b, u);
    u64 need = new_length * u;
    if (u64(data_end(b) - head_ptr(b)) < need) {
        u64 grown = std::max<u64>(u64(b->size) * 2, need);
        b = memory::grow_series(b, static_cast<u32>(std::min<u64>(grown, 0xF0000000u)));
    }
    u8* base = head_ptr(b);
    u32 rest = length - at - removed;
    std::memmove(base + (at + total) * u, base + std::size_t(at + removed) * u,
                 std::size_t(rest) * u);
    u8* p = base + std::size_t(at) * u;
    for (std::size_t i = 0; i < cps.size(); i++) write(p + i * u, u, cps[i]);
    if (dup > 1 && !cps.empty())
        memory::replicate_bytes(p, static_cast<u32>(cps.size() * u), static_cast<u32>(dup));
    b->tail = b->head + static_cast<u32>(need);
}

void truncate_to(u32 node, u32 n) {
    series_buffer* b = buffer_of(node);
    if (used_units(b) > n) b->tail = b->head + n * checked_unit(b);
}

cell* push_new_string(u32 bytes) {
    cell* slot = init_none(stack::reserve_slot());
    u32 node = memory::new_byte_series(bytes);
    *slot = cell{type_id::string, 0, node, 0};
    return slot;
}

void init_series(cell* out, u32 type, u32 units, u32 unit) {
    u32 node = memory::new_series(units ? units : 1, unit, 0);
    *out = cell{type, 0, node, 0};
}

void notify_owner(const cell* series, const char* action, u32 index, i32 part) {
    // Most texts have no owner, and the buffer's flag says so without a lookup.
    if (!(buffer_of(series->w2)->flags & buffer_flag::owned)) return;
    std::string_view name(action);
    for (u32 e = 0; e < owner::event::count; ++e)
        if (owner::event_name(e) == name) {
            owner::notify_change(series, e, nullptr, static_cast<i32>(index), part);
            return;
        }
}

i64 part_count(const cell* series, const cell* part, u32 head) {
    if (is(part, type_id::integer)) return int_of(part);
    if (type_of(part) == type_of(series) && part->w2 == series->w2) {
        cell other = *part;
        return i64(view(&other).head) - head;
    }
    raise_invalid_refine(part);
}

void raise_invalid_refine(const cell* value) {
    error::raise(err::E("script", "invalid-refine-arg"), nullptr, value);
}
void raise_invalid_arg(const cell* value) {
    error::raise(err::E("script", "invalid-arg"), value);
}
void raise_out_of_range(const cell* value) {
    error::raise(err::E("script", "out-of-range"), value);
}
void raise_not_done() {
    error::raise(err::E("internal", "not-done"));
}
void raise_no_memory() {
    error::raise(err::E("internal", "no-memory"));
}

} // namespace zel::string_type::detail
