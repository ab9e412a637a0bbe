// The cell pool keeps values alive for code that can hold only an integer (a 1-based slot
// number); the collector marks the pool block. Raw buffers are growable arrays of fixed-size
// items (bytes or 32-bit words) in an ordinary byte series whose unit is the item size.
#pragma once
#include "runtime/memory.hpp"

namespace zel::cell_pool {

constexpr u32 initial_capacity = 100;

void set_up();
u32 store(const cell* value);
cell* cell_at(u32 n);
void free(u32 n);
// The pool's block cell (a root of the collector).
cell* block();
u32 capacity();

} // namespace zel::cell_pool

namespace zel::raw_buffer {

// All operations take the node of the buffer: an append may move it.
u32 create(u32 count, u32 item_size);
u32 length(u32 node);
void clear(u32 node);
void truncate_at(u32 node, u32 index); // 1-based: the tail is set just before that item
u32 duplicate(u32 node);
u32 flags(u32 node);
void append_byte(u32 node, u8 byte);
void append_bytes(u32 node, const u8* source, u32 n);
void append_int32(u32 node, i32 value);
void insert_int32(u32 node, i32 value, u32 index); // index from 0
u8 byte_at(u32 node, u32 index);                   // 1-based
i32 item_at(u32 node, u32 index);                  // 1-based
void set_item(u32 node, u32 index, i32 value);     // 1-based
i32 offset_of(u32 node, i32 value);
void remove_item(u32 node, i32 value);
void remove_bytes_at(u32 node, u32 byte_offset, u32 n);

} // namespace zel::raw_buffer
