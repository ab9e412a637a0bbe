// Node frames, series frames, series buffers and big series. A cell refers to a node; the node
// holds the arena offset of its buffer. A buffer moves only when the collector compacts (or a
// reallocation replaces it), and then only its node is rewritten: code that holds a buffer
// address across an allocation must re-read it through the node.
#pragma once
#include "runtime/cell.hpp"

namespace zel {

// The 20-byte header in front of every data area. head and tail are arena offsets.
struct series_buffer {
    u32 flags;
    u32 node; // back pointer; 0 once the buffer was abandoned
    u32 size; // bytes of the data area, a multiple of 16
    u32 head;
    u32 tail;
};
static_assert(sizeof(series_buffer) == 20);

namespace buffer_flag {
constexpr u32 unit_mask = 0x1F;
constexpr u32 owned = 0x20000;
constexpr u32 outside = 0x100000; // allocated outside the series frames
constexpr u32 library_code = 0x400000; // code of the embedded library (not traced, no `near`)
constexpr u32 big = 0x01000000;
constexpr u32 mark = 0x08000000;
constexpr u32 middle = 0x10000000; // head placed in the middle at allocation
constexpr u32 always = 0x20000000;
constexpr u32 in_use = 0x80000000;
} // namespace buffer_flag

struct node_frame {
    u32 next, prev;
    u32 node_count;
    u32 free_list; // first free node; each free node holds the next, the last 0
    u32 used;
    u32 born;
    u32 last_used;
    u32 history;
    u32 evacuated;
};
static_assert(sizeof(node_frame) == 36);

struct series_frame {
    u32 next, prev;
    u32 size; // including this header
    u32 free; // first free byte
    u32 end;
};
static_assert(sizeof(series_frame) == 20);

struct big_series {
    u32 next, prev; // prev is always 0
    u32 size;       // bytes of the buffer part
};
static_assert(sizeof(big_series) == 12);

namespace memory {

constexpr u32 nodes_per_frame = 10000;
// Collection stress mode makes small node frames: evacuation moves whole frames, and a small
// frame is far more often one that nothing outside the arena refers to.
constexpr u32 stress_nodes_per_frame = 256;
u32 nodes_per_new_frame();
constexpr u32 initial_series_frame_size = 1048576;
constexpr u32 size_limit = 2097152;   // also the big-series threshold
constexpr u32 min_frame_room = 52428; // below this a collection's frame is not reused

struct record {
    u64 total;                 // bytes obtained from the OS for frames
    u32 first_node_frame, last_node_frame, current_node_frame;
    u32 first_series_frame, current_series_frame, last_series_frame;
    u32 initial_series_size;
    u32 next_series_size;
    u32 limit;
    u32 big_list;
};
extern record mem;

// Tracked allocations outside the frames (tables of the runtime); counted for the statistics.
u64 tracked_bytes();
u64 tracked_count();

void set_up();
bool is_set_up();

// Raises `internal`/`no-memory`. The arena's headroom opens for the error and its handler; a
// shortage met while the error is being raised throws the error made by
// prepare_no_memory_error (at start-up, while memory is plentiful) instead.
[[noreturn]] void no_memory();
void prepare_no_memory_error();
bool no_memory_ready(); // start-up is over: the error can be raised from anywhere

// The collector reports the end of each collection: shortages collect again only once enough
// has been carved since (half the bytes still in use, at least `collection_budget`), so that a
// growing heap costs a bounded number of collections per byte, not one per new frame.
constexpr u64 collection_budget = 8u << 20;
void after_collection();

u32 os_alloc_frame(u32 size);
void os_free_frame(u32 frame);

// Frames that a collection finds empty go back to the arena only after they stayed unused for
// this many collections: a heap that churns through garbage fills them again at once, and each
// release is a system call that also flushes the pages from every thread. A shortage of arena
// space releases them at once.
constexpr u32 idle_collections = 3;
// Counts one more collection for an empty frame that nothing used since the last one; answers
// whether it has been idle long enough to be released.
bool idle_long_enough(u32 frame);
// The frame is in use again (or gone).
void forget_idle(u32 frame);
// The collector calls it before returning dead nodes: node frames that are empty at that point
// were not drawn from since the last collection.
void age_idle_node_frames();
// Releases every empty node frame and every empty series frame between the first and the last
// (outside a collection); answers whether any was released.
bool release_idle_frames();

// Node frames start at a multiple of node_frame_span (the size word, then the header and the
// nodes), so that the frame of a node is its address masked; a table of one byte per span says
// which spans hold a node frame.
constexpr u32 node_frame_shift = 16;
constexpr u32 node_frame_span = 1u << node_frame_shift;
constexpr u32 max_nodes_per_frame = (node_frame_span - 4 - sizeof(node_frame)) / 4;
extern u8* node_frame_spans;
// The frame that holds `node`, or 0 when it is not a node of any frame.
inline u32 node_frame_of(u32 node) {
    if (!node_frame_spans || !node_frame_spans[node >> node_frame_shift]) return 0;
    u32 frame = (node & ~(node_frame_span - 1)) + 4;
    u32 first = frame + sizeof(node_frame);
    if (node < first || (node & 3) ||
        node >= first + 4 * arena::at<node_frame>(frame)->node_count)
        return 0;
    return frame;
}

// A frame of n nodes (at most max_nodes_per_frame).
u32 new_node_frame(u32 n);
u32 take_node();
inline void return_node(u32 frame, u32 node) {
    node_frame* f = arena::at<node_frame>(frame);
    *arena::at<u32>(node) = f->free_list;
    f->free_list = node;
    f->used--;
}
// Returns a node taken for a buffer that could not be made.
void give_back_node(u32 node);
u32 new_series_frame();
u32 find_frame_with_room(u32 bytes);
series_buffer* carve_buffer(u32 units, u32 unit, i32 offset);

u32 new_series(u32 units, u32 unit, i32 offset);
u32 new_cell_series(u32 n);
u32 new_unset_cell_series(u32 n);
u32 new_byte_series(u32 n);
u32 new_series_by_flags(u32 n, u32 unit);
u32 new_filled_byte_series(u32 n, u8 byte);
u32 new_malloc_series(u32 units, u32 unit, u32 offset);
void free_malloc_series(u32 node);
void set_buffer_flags(u32 node, u32 bits);

void fill_bytes(u8* start, u8* end, u8 byte);
void zero_words(u32* first, u32* past_last);

series_buffer* reallocate_series(series_buffer* buffer, u32 new_size);
series_buffer* grow_series(series_buffer* buffer, u32 new_size);
series_buffer* grow_series_filled(series_buffer* buffer, u32 new_size, u8 byte);
u32 clone_series(series_buffer* buffer);

// Appends one cell slot (header unset!, payload untouched) at the tail; may move the buffer.
cell* append_cell_to_buffer(series_buffer* buffer);
cell* append_cell_slot(const cell* block);
// Reserves n bytes at the tail and answers the old tail (as an address); may move the buffer.
u8* reserve_tail_bytes(series_buffer* buffer, u32 n);

// Collector entry points used by the manager (the collector fills them in).
void sweep_big_series();
void release_empty_node_frames();

// The number of node frames, series frames and big series (for tests and statistics).
u32 count_node_frames();
u32 count_series_frames();
u32 count_big_series();

} // namespace memory

// Node and buffer access.
inline series_buffer* buffer_at(u32 offset) { return arena::at<series_buffer>(offset); }
inline series_buffer* buffer_of(u32 node) { return buffer_at(*arena::at<u32>(node)); }
inline u8* data_start(series_buffer* b) { return reinterpret_cast<u8*>(b + 1); }
inline u8* data_end(series_buffer* b) { return data_start(b) + b->size; }
inline u8* head_ptr(series_buffer* b) { return arena::ptr(b->head); }
inline u8* tail_ptr(series_buffer* b) { return arena::ptr(b->tail); }
inline u32 unit_of(series_buffer* b) { return b->flags & buffer_flag::unit_mask; }
inline u32 used_bytes(series_buffer* b) { return b->tail - b->head; }
inline u32 used_units(series_buffer* b) {
    // Cells and bytes are nearly every series: no division for them.
    u32 unit = unit_of(b), bytes = used_bytes(b);
    return unit == sizeof(cell) ? bytes >> 4 : unit == 1 ? bytes : bytes / unit;
}
inline cell* head_cell(series_buffer* b) { return arena::at<cell>(b->head); }
inline cell* tail_cell(series_buffer* b) { return arena::at<cell>(b->tail); }

} // namespace zel
