// The memory manager. Allocation bumps the free pointer of a series frame; space comes back only
// through compaction. Frames are whole pages of the arena, their size kept in the word before.
#include "runtime/memory.hpp"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/roots.hpp"

namespace zel::memory {

record mem{};
u8* node_frame_spans = nullptr;

namespace {
std::unordered_map<u32, u32> idle_ages; // empty frame -> collections it has stayed unused
bool set_up_done = false;
u64 tracked_total = 0;
u64 tracked_items = 0;
u64 carved_since = 0; // bytes carved since the last collection
u64 live_after = 0;   // bytes in use when the last collection ended
bool raising_no_memory = false;
cell* prepared_error = nullptr;

// A shortage collects when enough was carved since the last collection to be worth it.
bool collection_due(u64 need) {
    if (!gc::active || gc::collecting) return false;
    return carved_since + need >= std::max<u64>(collection_budget, live_after / 2);
}

// The last resort before running out: a collection however recent the last one was.
bool collect_now() {
    if (!gc::active || gc::collecting) return false;
    gc::run_collection();
    return true;
}

template <class T> T* frame_at(u32 offset) { return arena::at<T>(offset); }

u32 round16(u64 bytes, bool& overflow) {
    u64 r = (bytes + 15) & ~u64(15);
    overflow = r > 0xF0000000u;
    return static_cast<u32>(r);
}

void insert_series_frame(u32 frame) {
    series_frame* f = frame_at<series_frame>(frame);
    if (!mem.first_series_frame) {
        f->next = f->prev = 0;
        mem.first_series_frame = mem.last_series_frame = frame;
        return;
    }
    if (frame < mem.first_series_frame) {
        f->prev = 0;
        f->next = mem.first_series_frame;
        frame_at<series_frame>(mem.first_series_frame)->prev = frame;
        mem.first_series_frame = frame;
        return;
    }
    if (frame > mem.last_series_frame) {
        f->next = 0;
        f->prev = mem.last_series_frame;
        frame_at<series_frame>(mem.last_series_frame)->next = frame;
        mem.last_series_frame = frame;
        return;
    }
    u32 above = mem.first_series_frame;
    while (above && above < frame) above = frame_at<series_frame>(above)->next;
    series_frame* a = frame_at<series_frame>(above);
    f->next = above;
    f->prev = a->prev;
    frame_at<series_frame>(a->prev)->next = frame;
    a->prev = frame;
}

u32 room(u32 frame) {
    series_frame* f = frame_at<series_frame>(frame);
    return f->end - f->free;
}
} // namespace

u64 tracked_bytes() { return tracked_total; }
u32 nodes_per_new_frame() {
    return gc::stress ? stress_nodes_per_frame : nodes_per_frame;
}
u64 tracked_count() { return tracked_items; }
bool is_set_up() { return set_up_done; }

void set_up() {
    if (!arena::reserved()) arena::reserve();
    if (!node_frame_spans) node_frame_spans = new u8[(u64(1) << 32) >> node_frame_shift]();
    mem = record{};
    mem.initial_series_size = initial_series_frame_size;
    mem.next_series_size = initial_series_frame_size;
    mem.limit = size_limit;
    set_up_done = true;
}

namespace {
// An OS frame (its block starting at a multiple of `align`), or 0 when the arena has no room
// for it even after the idle frames went back.
u32 try_alloc_frame(u64 size, u32 align = arena::page_size) {
    u64 bytes = (size + 4 + arena::page_size - 1) & ~u64(arena::page_size - 1);
    if (bytes > 0xFFFFF000u) return 0;
    u32 block = arena::take_aligned_pages(bytes, align);
    if (!block && !gc::collecting && release_idle_frames())
        block = arena::take_aligned_pages(bytes, align);
    if (!block) return 0;
    *arena::at<u32>(block) = static_cast<u32>(bytes);
    mem.total += bytes;
    return block + 4;
}
} // namespace

void no_memory() {
    arena::open_headroom();
    if (raising_no_memory) {
        if (prepared_error)
            error::raise_value_unhooked(prepared_error, err::E("internal", "no-memory").code());
        cell bare{type_id::error, 0, err::E("internal", "no-memory").code(), 0};
        error::raise_value_unhooked(&bare, bare.w2);
    }
    struct raising {
        raising() { raising_no_memory = true; }
        ~raising() { raising_no_memory = false; }
    } guard;
    error::raise(err::E("internal", "no-memory"));
}

bool no_memory_ready() {
    return prepared_error != nullptr;
}

void prepare_no_memory_error() {
    cell value = error::builder(err::E("internal", "no-memory"), nullptr, nullptr, nullptr);
    prepared_error = roots::append(&value);
}

void after_collection() {
    u64 live = tracked_total;
    for (u32 f = mem.first_series_frame; f; f = frame_at<series_frame>(f)->next)
        live += frame_at<series_frame>(f)->free - (f + sizeof(series_frame));
    for (u32 b = mem.big_list; b; b = frame_at<big_series>(b)->next)
        live += frame_at<big_series>(b)->size;
    live_after = live;
    carved_since = 0;
    arena::close_headroom();
}

u32 os_alloc_frame(u32 size) {
    u32 frame = try_alloc_frame(size);
    if (!frame) no_memory();
    return frame;
}

void os_free_frame(u32 frame) {
    forget_idle(frame);
    u32 bytes = *arena::at<u32>(frame - 4);
    mem.total -= bytes;
    arena::release_pages(frame - 4, bytes);
}

namespace {
u32 try_new_node_frame(u32 n) {
    n = std::min(n, max_nodes_per_frame);
    u32 frame = try_alloc_frame(sizeof(node_frame) + 4ull * n, node_frame_span);
    if (!frame) return 0;
    node_frame_spans[frame >> node_frame_shift] = 1;
    node_frame* f = frame_at<node_frame>(frame);
    *f = node_frame{};
    f->node_count = n;
    f->born = gc::series_cycles;
    u32 first = frame + sizeof(node_frame);
    for (u32 i = 0; i < n; i++) {
        u32 node = first + 4 * i;
        *arena::at<u32>(node) = (i + 1 < n) ? node + 4 : 0;
    }
    f->free_list = n ? first : 0;
    f->prev = mem.last_node_frame;
    f->next = 0;
    if (mem.last_node_frame) frame_at<node_frame>(mem.last_node_frame)->next = frame;
    mem.last_node_frame = frame;
    if (!mem.first_node_frame) {
        mem.first_node_frame = frame;
        mem.current_node_frame = frame;
    }
    return frame;
}

u32 frame_with_free_node() {
    for (u32 f = mem.first_node_frame; f; f = frame_at<node_frame>(f)->next) {
        node_frame* nf = frame_at<node_frame>(f);
        if (nf->free_list && !nf->evacuated) return f;
    }
    return 0;
}

u32 try_new_series_frame() {
    u32 s = mem.next_series_size;
    u32 frame = try_alloc_frame(u64(s) + sizeof(series_frame));
    if (!frame) return 0;
    if (s < mem.limit) mem.next_series_size = s * 2 > mem.limit ? mem.limit : s * 2;
    series_frame* f = frame_at<series_frame>(frame);
    f->size = s + sizeof(series_frame);
    f->free = frame + sizeof(series_frame);
    f->end = frame + f->size;
    insert_series_frame(frame);
    return frame;
}

// A big series block for `need` bytes, appended to the big list; 0 when the arena has no room.
u32 try_big_block(u64 need) {
    u32 block = try_alloc_frame(need + sizeof(big_series));
    if (!block) return 0;
    big_series* b = frame_at<big_series>(block);
    b->next = 0;
    b->prev = 0;
    b->size = static_cast<u32>(need);
    if (!mem.big_list) {
        mem.big_list = block;
    } else {
        u32 last = mem.big_list;
        while (frame_at<big_series>(last)->next) last = frame_at<big_series>(last)->next;
        frame_at<big_series>(last)->next = block;
    }
    return block;
}

// The series frame a carve of `need` bytes uses.
u32 frame_for(u64 need) {
    u32 frame = mem.current_series_frame;
    if (frame && room(frame) > need) return frame;
    frame = find_frame_with_room(static_cast<u32>(need));
    if (frame) return frame;
    bool collected = false;
    if (collection_due(need)) {
        gc::run_collection();
        collected = true;
        // A frame with ample room (one kept empty after the collection) serves before a new
        // one is made; the first with any room is the fallback when the arena is full.
        u32 ample = find_frame_with_room(static_cast<u32>(std::max<u64>(need, min_frame_room - 1)));
        if (ample) return ample;
        frame = find_frame_with_room(static_cast<u32>(need));
    }
    if (need >= mem.next_series_size) mem.next_series_size = mem.limit;
    if (u32 made = try_new_series_frame()) return made;
    // The arena is full: collect whatever the budget says, and take any room that is left.
    if (!frame && !collected && collect_now()) {
        frame = find_frame_with_room(static_cast<u32>(need));
        if (!frame) frame = try_new_series_frame();
    }
    if (!frame) no_memory();
    return frame;
}
} // namespace

u32 new_node_frame(u32 n) {
    u32 frame = try_new_node_frame(n);
    if (!frame) no_memory();
    return frame;
}

u32 take_node() {
    u32 frame = mem.current_node_frame;
    if (!frame || !frame_at<node_frame>(frame)->free_list) {
        frame = frame_with_free_node();
        if (!frame) frame = try_new_node_frame(nodes_per_new_frame());
        if (!frame && collect_now()) {
            frame = frame_with_free_node();
            if (!frame) frame = try_new_node_frame(nodes_per_new_frame());
        }
        if (!frame) no_memory();
        mem.current_node_frame = frame;
    }
    node_frame* f = frame_at<node_frame>(frame);
    u32 node = f->free_list;
    f->free_list = *arena::at<u32>(node);
    *arena::at<u32>(node) = 0;
    f->used++;
    return node;
}

void give_back_node(u32 node) {
    if (u32 f = node_frame_of(node)) return_node(f, node);
}

u32 new_series_frame() {
    u32 frame = try_new_series_frame();
    if (!frame) no_memory();
    return frame;
}

u32 find_frame_with_room(u32 bytes) {
    for (u32 f = mem.first_series_frame; f; f = frame_at<series_frame>(f)->next)
        if (room(f) > bytes) return f;
    return 0;
}

namespace {
// Fills in the header of a buffer carved at `at`.
inline series_buffer* init_buffer(u32 at, u32 size, u32 unit, u32 big_flag, i32 offset) {
    series_buffer* b = buffer_at(at);
    b->size = size;
    b->node = 0;
    u32 flags = unit | buffer_flag::in_use | big_flag | buffer_flag::always;
    u32 o;
    if (offset == -1) {
        flags |= buffer_flag::middle;
        o = size / 2;
    } else {
        o = static_cast<u32>(offset) > size ? size : static_cast<u32>(offset);
    }
    b->flags = flags;
    // The spare word after the data area stays zero.
    *arena::at<u32>(at + sizeof(series_buffer) + size) = 0;
    b->head = b->tail = at + sizeof(series_buffer) + o;
    return b;
}

// Everything but a small carve from the current frame: stress collections, big series, a frame
// that has run out.
[[gnu::noinline]] series_buffer* carve_slow(u32 size, u64 need, u32 unit, i32 offset) {
    if (gc::stress && gc::active) gc::run_collection();
    u32 at;
    u32 big_flag = 0;
    if (need >= mem.limit) {
        if (collection_due(need)) gc::run_collection();
        u32 block = try_big_block(need);
        if (!block && collect_now()) block = try_big_block(need);
        if (!block) no_memory();
        at = block + sizeof(big_series);
        big_flag = buffer_flag::big;
    } else {
        u32 frame = frame_for(need);
        mem.current_series_frame = frame;
        series_frame* f = frame_at<series_frame>(frame);
        at = f->free;
        f->free += static_cast<u32>(need);
    }
    carved_since += need;
    return init_buffer(at, size, unit, big_flag, offset);
}

// The common carve: the current series frame has the room (0 when it has not).
inline series_buffer* carve_fast(u64 size, u64 need, u32 unit, i32 offset) {
    u32 frame = mem.current_series_frame;
    if (!frame || gc::stress || need >= mem.limit) return nullptr;
    series_frame* f = frame_at<series_frame>(frame);
    if (f->end - f->free <= need) return nullptr;
    u32 at = f->free;
    f->free += static_cast<u32>(need);
    carved_since += need;
    return init_buffer(at, static_cast<u32>(size), unit, 0, offset);
}

series_buffer* carve(u32 units, u32 unit, i32 offset) {
    u64 size = (u64(units) * unit + 15) & ~u64(15);
    u64 need = size + 24;
    if (series_buffer* b = carve_fast(size, need, unit, offset)) return b;
    bool overflow;
    round16(u64(units) * unit, overflow);
    if (overflow) no_memory();
    return carve_slow(static_cast<u32>(size), need, unit, offset);
}

[[gnu::noinline]] u32 new_series_slow(u32 units, u32 unit, i32 offset) {
    u32 node = take_node();
    series_buffer* b;
    try {
        b = carve(units, unit, offset);
    } catch (...) {
        give_back_node(node); // out of memory: the node taken for the buffer is not leaked
        throw;
    }
    b->node = node;
    *arena::at<u32>(node) = arena::offset_of(b);
    return node;
}
} // namespace

series_buffer* carve_buffer(u32 units, u32 unit, i32 offset) { return carve(units, unit, offset); }

u32 new_series(u32 units, u32 unit, i32 offset) {
    // The common case inline: a free node in the current node frame, room in the current series
    // frame; nothing here can fail.
    u32 frame = mem.current_node_frame;
    if (frame) {
        node_frame* f = frame_at<node_frame>(frame);
        u32 node = f->free_list;
        if (node) {
            u64 size = (u64(units) * unit + 15) & ~u64(15);
            if (series_buffer* b = carve_fast(size, size + 24, unit, offset)) {
                f->free_list = *arena::at<u32>(node);
                f->used++;
                b->node = node;
                *arena::at<u32>(node) = arena::offset_of(b);
                return node;
            }
        }
    }
    return new_series_slow(units, unit, offset);
}

u32 new_cell_series(u32 n) { return new_series(n ? n : 1, sizeof(cell), 0); }

u32 new_unset_cell_series(u32 n) {
    u32 node = new_series(n ? n : 1, sizeof(cell), 0);
    series_buffer* b = buffer_of(node);
    cell* c = reinterpret_cast<cell*>(data_start(b));
    for (u32 i = 0; i < b->size / sizeof(cell); i++) init_unset(c + i);
    return node;
}

u32 new_byte_series(u32 n) { return new_series(n ? n : 16, 1, 0); }

u32 new_series_by_flags(u32 n, u32 unit) { return new_series(n ? n : 16 / unit, unit, 0); }

u32 new_filled_byte_series(u32 n, u8 byte) {
    u32 node = new_byte_series(n);
    series_buffer* b = buffer_of(node);
    fill_bytes(data_start(b), data_end(b), byte);
    return node;
}

u32 new_malloc_series(u32 units, u32 unit, u32 offset) {
    bool overflow;
    u32 size = round16(u64(units) * unit, overflow);
    if (overflow) no_memory();
    u64 bytes = u64(size) + sizeof(series_buffer) + 4;
    u32 at = arena::take_pages(bytes);
    if (!at && collect_now()) at = arena::take_pages(bytes);
    if (!at && !gc::collecting && release_idle_frames()) at = arena::take_pages(bytes);
    if (!at) no_memory();
    u32 node = take_node();
    tracked_total += bytes;
    tracked_items++;
    series_buffer* b = buffer_at(at);
    b->flags = unit | 0xA0100000u;
    b->node = node;
    b->size = size;
    b->head = b->tail = at + sizeof(series_buffer) + (offset > size ? size : offset);
    *arena::at<u32>(node) = at;
    return node;
}

void set_buffer_flags(u32 node, u32 bits) { buffer_of(node)->flags |= bits; }

void fill_bytes(u8* start, u8* end, u8 byte) {
    if (end > start) std::memset(start, byte, end - start);
}

void zero_words(u32* first, u32* past_last) {
    do *first++ = 0;
    while (first < past_last);
}

namespace {
// Carves the replacement and moves the node over to it; answers {old, new}. The carve may run a
// collection that moves the old buffer, so the old one is found again through the node.
std::pair<series_buffer*, series_buffer*> replace_buffer(series_buffer* buffer, u32 new_size) {
    u32 node = buffer->node;
    u32 unit = unit_of(buffer);
    if (new_size == 0) new_size = buffer->size * 2;
    if (new_size < 1) no_memory();
    series_buffer* fresh = carve_buffer(new_size / unit ? new_size / unit : 1, unit, 0);
    series_buffer* old = node ? buffer_of(node) : buffer;
    u32 keep = old->flags & ~(buffer_flag::big | buffer_flag::outside | buffer_flag::mark);
    fresh->flags = keep | (fresh->flags & buffer_flag::big);
    fresh->node = node;
    fresh->tail = fresh->head + (old->tail - old->head);
    if (node) *arena::at<u32>(node) = arena::offset_of(fresh);
    old->node = 0;
    old->flags &= ~buffer_flag::in_use;
    return {old, fresh};
}

void copy_contents(series_buffer* old, series_buffer* fresh) {
    u32 bytes = static_cast<u32>(data_end(old) - head_ptr(old));
    if (bytes > fresh->size) bytes = fresh->size;
    std::memmove(head_ptr(fresh), head_ptr(old), bytes);
}
} // namespace

series_buffer* reallocate_series(series_buffer* buffer, u32 new_size) {
    return replace_buffer(buffer, new_size).second;
}

series_buffer* grow_series(series_buffer* buffer, u32 new_size) {
    auto [old, fresh] = replace_buffer(buffer, new_size);
    copy_contents(old, fresh);
    return fresh;
}

series_buffer* grow_series_filled(series_buffer* buffer, u32 new_size, u8 byte) {
    auto [old, fresh] = replace_buffer(buffer, new_size);
    u32 old_size = old->size;
    copy_contents(old, fresh);
    u8* from = head_ptr(fresh) + old_size;
    if (from < data_end(fresh)) fill_bytes(from, data_end(fresh), byte);
    return fresh;
}

u32 clone_series(series_buffer* buffer) {
    u32 node = buffer->node;
    u32 size = buffer->size;
    u32 fresh_node = new_series(size ? size : 16, 1, 0);
    series_buffer* old = node ? buffer_of(node) : buffer;
    series_buffer* fresh = buffer_of(fresh_node);
    fresh->flags = old->flags & ~(buffer_flag::big | buffer_flag::outside | buffer_flag::mark |
                                  buffer_flag::owned | buffer_flag::library_code);
    fresh->flags |= buffer_flag::in_use | buffer_flag::always;
    u32 bytes = static_cast<u32>(data_end(old) - head_ptr(old));
    std::memcpy(head_ptr(fresh), head_ptr(old), bytes);
    fresh->tail = fresh->head + (old->tail - old->head);
    return fresh_node;
}

cell* append_cell_to_buffer(series_buffer* buffer) {
    if (tail_ptr(buffer) + sizeof(cell) > data_end(buffer)) buffer = grow_series(buffer, 0);
    cell* c = tail_cell(buffer);
    c->header = type_id::unset;
    buffer->tail += sizeof(cell);
    return c;
}

cell* append_cell_slot(const cell* block) { return append_cell_to_buffer(buffer_of(block->w2)); }

u8* reserve_tail_bytes(series_buffer* buffer, u32 n) {
    if (tail_ptr(buffer) + n > data_end(buffer)) {
        u64 want = buffer->size < n ? u64(n) * 2 : u64(buffer->size) * 2;
        if (want > 0xF0000000u) no_memory();
        buffer = grow_series(buffer, static_cast<u32>(want));
    }
    u8* old_tail = tail_ptr(buffer);
    buffer->tail += n;
    return old_tail;
}

void sweep_big_series() {
    u32 prev = 0;
    u32 block = mem.big_list;
    while (block) {
        big_series* b = frame_at<big_series>(block);
        u32 next = b->next;
        series_buffer* buf = buffer_at(block + sizeof(big_series));
        if (!(buf->flags & buffer_flag::mark)) {
            if (buf->node) gc::queue_node_release(buf->node);
            if (prev) frame_at<big_series>(prev)->next = next;
            else mem.big_list = next;
            os_free_frame(block);
        } else {
            buf->flags &= ~buffer_flag::mark;
            prev = block;
        }
        block = next;
    }
}

namespace {
void unlink_node_frame(u32 frame) {
    node_frame* f = frame_at<node_frame>(frame);
    if (f->prev) frame_at<node_frame>(f->prev)->next = f->next;
    else mem.first_node_frame = f->next;
    if (f->next) frame_at<node_frame>(f->next)->prev = f->prev;
    else mem.last_node_frame = f->prev;
    if (mem.current_node_frame == frame) mem.current_node_frame = mem.last_node_frame;
    node_frame_spans[frame >> node_frame_shift] = 0;
    os_free_frame(frame);
}
} // namespace

bool idle_long_enough(u32 frame) {
    return ++idle_ages[frame] > idle_collections;
}

void forget_idle(u32 frame) {
    if (!idle_ages.empty()) idle_ages.erase(frame);
}

void age_idle_node_frames() {
    for (u32 frame = mem.first_node_frame; frame; frame = frame_at<node_frame>(frame)->next) {
        node_frame* f = frame_at<node_frame>(frame);
        if (f->used == 0 && !f->evacuated) ++idle_ages[frame];
        else forget_idle(frame);
    }
}

void release_empty_node_frames() {
    bool current_set = false;
    u32 frame = mem.first_node_frame;
    while (frame) {
        node_frame* f = frame_at<node_frame>(frame);
        u32 next = f->next;
        bool idle = false;
        if (f->used == 0 && !f->evacuated) {
            auto age = idle_ages.find(frame);
            idle = age != idle_ages.end() && age->second > idle_collections;
        }
        if (f->evacuated || idle) {
            unlink_node_frame(frame);
        } else {
            if (!current_set && f->used < f->node_count) {
                mem.current_node_frame = frame;
                current_set = true;
            }
            f->history = (f->history << 1) | (f->used == f->last_used ? 1u : 0u);
            f->last_used = f->used;
        }
        frame = next;
    }
}

bool release_idle_frames() {
    bool any = false;
    for (u32 frame = mem.first_node_frame; frame;) {
        node_frame* f = frame_at<node_frame>(frame);
        u32 next = f->next;
        if (f->used == 0 && !f->evacuated) {
            unlink_node_frame(frame);
            any = true;
        }
        frame = next;
    }
    if (any) {
        u32 with_room = frame_with_free_node();
        mem.current_node_frame = with_room ? with_room : mem.last_node_frame;
    }
    for (u32 frame = mem.first_series_frame; frame;) {
        series_frame* f = frame_at<series_frame>(frame);
        u32 next = f->next;
        if (f->prev && next && f->free == frame + sizeof(series_frame)) {
            frame_at<series_frame>(f->prev)->next = next;
            frame_at<series_frame>(next)->prev = f->prev;
            if (mem.current_series_frame == frame) mem.current_series_frame = f->prev;
            os_free_frame(frame);
            any = true;
        }
        frame = next;
    }
    return any;
}

u32 count_node_frames() {
    u32 n = 0;
    for (u32 f = mem.first_node_frame; f; f = frame_at<node_frame>(f)->next) n++;
    return n;
}
u32 count_series_frames() {
    u32 n = 0;
    for (u32 f = mem.first_series_frame; f; f = frame_at<series_frame>(f)->next) n++;
    return n;
}
u32 count_big_series() {
    u32 n = 0;
    for (u32 b = mem.big_list; b; b = frame_at<big_series>(b)->next) n++;
    return n;
}

} // namespace zel::memory
