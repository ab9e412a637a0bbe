// Cell pool and raw buffers.
#include "runtime/cell_pool.hpp"

#include <cstring>

namespace zel::cell_pool {

namespace {
cell pool{};
i32 first_free = -1;
u32 slots = 0;

cell* slot(u32 i) { return head_cell(buffer_of(pool.w2)) + i; }

// Chains slots [from, to) on the free list, in order, ahead of whatever is free already.
void chain(u32 from, u32 to) {
    for (u32 i = from; i < to; i++)
        init_integer(slot(i), (i + 1 < to) ? static_cast<i32>(i + 1) : first_free);
    if (from < to) first_free = static_cast<i32>(from);
}
} // namespace

void set_up() {
    u32 node = memory::new_cell_series(initial_capacity);
    pool = cell{type_id::block, 0, node, 0};
    series_buffer* b = buffer_of(node);
    b->tail = b->head + initial_capacity * sizeof(cell);
    slots = initial_capacity;
    first_free = -1;
    chain(0, slots);
}

u32 store(const cell* value) {
    if (first_free == -1) {
        cell copy = *value; // the value may live in the pool itself
        u32 grown = slots * 2;
        series_buffer* b = memory::grow_series(buffer_of(pool.w2), grown * sizeof(cell));
        b->tail = b->head + grown * sizeof(cell);
        u32 old = slots;
        slots = grown;
        chain(old, grown);
        u32 i = static_cast<u32>(first_free);
        first_free = int_of(slot(i));
        *slot(i) = copy;
        return i + 1;
    }
    u32 i = static_cast<u32>(first_free);
    first_free = int_of(slot(i));
    *slot(i) = *value;
    return i + 1;
}

cell* cell_at(u32 n) { return slot(n - 1); }

void free(u32 n) {
    if (n == 0) return;
    init_integer(slot(n - 1), first_free);
    first_free = static_cast<i32>(n - 1);
}

cell* block() { return &pool; }
u32 capacity() { return slots; }

} // namespace zel::cell_pool

namespace zel::raw_buffer {

namespace {
u32 item_size(series_buffer* b) { return unit_of(b); }
u8* item_ptr(series_buffer* b, u32 index0) { return head_ptr(b) + index0 * item_size(b); }
} // namespace

u32 create(u32 count, u32 size) { return memory::new_series(count ? count : 1, size, 0); }

u32 length(u32 node) {
    series_buffer* b = buffer_of(node);
    return used_bytes(b) / item_size(b);
}

void clear(u32 node) {
    series_buffer* b = buffer_of(node);
    b->tail = b->head;
}

void truncate_at(u32 node, u32 index) {
    series_buffer* b = buffer_of(node);
    if (index < 1) index = 1;
    u32 at = (index - 1) * item_size(b);
    if (at < used_bytes(b)) b->tail = b->head + at;
}

u32 duplicate(u32 node) { return memory::clone_series(buffer_of(node)); }
u32 flags(u32 node) { return buffer_of(node)->flags; }

void append_byte(u32 node, u8 byte) { *memory::reserve_tail_bytes(buffer_of(node), 1) = byte; }

void append_bytes(u32 node, const u8* source, u32 n) {
    if (n) std::memmove(memory::reserve_tail_bytes(buffer_of(node), n), source, n);
}

void append_int32(u32 node, i32 value) {
    std::memcpy(memory::reserve_tail_bytes(buffer_of(node), 4), &value, 4);
}

void insert_int32(u32 node, i32 value, u32 index) {
    series_buffer* b = buffer_of(node);
    if (tail_ptr(b) + 4 > data_end(b)) b = memory::grow_series(b, 0);
    u32 count = used_bytes(b) / 4;
    if (index > count) index = count;
    u8* at = head_ptr(b) + index * 4;
    std::memmove(at + 4, at, (count - index) * 4);
    std::memcpy(at, &value, 4);
    b->tail += 4;
}

u8 byte_at(u32 node, u32 index) { return head_ptr(buffer_of(node))[index - 1]; }

i32 item_at(u32 node, u32 index) {
    i32 v;
    std::memcpy(&v, item_ptr(buffer_of(node), index - 1), 4);
    return v;
}

void set_item(u32 node, u32 index, i32 value) {
    std::memcpy(item_ptr(buffer_of(node), index - 1), &value, 4);
}

i32 offset_of(u32 node, i32 value) {
    series_buffer* b = buffer_of(node);
    u32 n = used_bytes(b) / 4;
    for (u32 i = 0; i < n; i++) {
        i32 v;
        std::memcpy(&v, head_ptr(b) + 4 * i, 4);
        if (v == value) return static_cast<i32>(4 * i);
    }
    return -1;
}

void remove_item(u32 node, i32 value) {
    i32 at = offset_of(node, value);
    if (at >= 0) remove_bytes_at(node, static_cast<u32>(at), 4);
}

void remove_bytes_at(u32 node, u32 byte_offset, u32 n) {
    series_buffer* b = buffer_of(node);
    u32 used = used_bytes(b);
    if (byte_offset >= used) return;
    if (n > used - byte_offset) n = used - byte_offset;
    u8* at = head_ptr(b) + byte_offset;
    std::memmove(at, at + n, used - byte_offset - n);
    b->tail -= n;
}

} // namespace zel::raw_buffer
