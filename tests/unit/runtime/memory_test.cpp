// Memory manager: carving, growth, frames, big series and the arena limit.
#include <gtest/gtest.h>

#include "runtime/arena.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

using namespace zel;

namespace {
u32 frame_room(u32 frame) {
    auto f = arena::at<series_frame>(frame);
    return f->end - f->free;
}

// Keeps a series alive across the allocations of a test; its buffer is re-read through the node.
struct held_series : gc::rooted_cell {
    held_series(u32 type, u32 node) : gc::rooted_cell(cell{type, 0, node, 0}) {}
    u32 node() const { return value.w2; }
};

// Stops collections while a test looks at a buffer address that a collection would move.
struct no_collection {
    bool was = gc::active;
    no_collection() { gc::active = false; }
    ~no_collection() { gc::active = was; }
};
} // namespace

TEST(Memory, BufferHeaderAndFlags) {
    u32 node = memory::new_series(10, 4, 0);
    series_buffer* b = buffer_of(node);
    EXPECT_EQ(b->node, node);
    EXPECT_EQ(b->size, 48u); // 40 bytes rounded up to 16
    EXPECT_EQ(b->flags, 4u | buffer_flag::in_use | buffer_flag::always);
    EXPECT_EQ(b->head, b->tail);
    EXPECT_EQ(head_ptr(b), data_start(b));

    u32 mid = memory::new_series(8, 16, -1);
    series_buffer* m = buffer_of(mid);
    EXPECT_TRUE(m->flags & buffer_flag::middle);
    EXPECT_EQ(head_ptr(m), data_start(m) + 64);
}

TEST(Memory, EmptyByteSeriesGetsSixteenBytes) {
    EXPECT_EQ(buffer_of(memory::new_byte_series(0))->size, 16u);
    EXPECT_EQ(buffer_of(memory::new_unset_cell_series(0))->size, 16u);
}

TEST(Memory, BigSeriesThreshold) {
    // Rounded size + 24 reaching the limit makes a big series; 16 bytes less is carved.
    u32 big = memory::new_series(memory::size_limit - 24, 1, 0);
    EXPECT_TRUE(buffer_of(big)->flags & buffer_flag::big);
    EXPECT_EQ(memory::count_big_series(), 1u);
    u32 small = memory::new_series(memory::size_limit - 40, 1, 0);
    EXPECT_FALSE(buffer_of(small)->flags & buffer_flag::big);
}

TEST(Memory, GrowKeepsContentAndDoubles) {
    held_series held(type_id::block, memory::new_cell_series(16));
    u32 node = held.node();
    for (int i = 0; i < 16; i++) init_integer(memory::append_cell_to_buffer(buffer_of(node)), i);
    series_buffer* b = buffer_of(node);
    EXPECT_EQ(b->size, 256u);
    series_buffer* g;
    {
        no_collection hold; // the old buffer is checked below: it must stay where it was
        g = memory::grow_series(b, 0);
    }
    EXPECT_EQ(buffer_of(node), g);
    EXPECT_EQ(g->size, 512u);
    EXPECT_EQ(used_units(g), 16u);
    for (int i = 0; i < 16; i++) EXPECT_EQ(int_of(head_cell(g) + i), i);
    // The old buffer is abandoned: no node, not in use.
    EXPECT_EQ(b->node, 0u);
    EXPECT_FALSE(b->flags & buffer_flag::in_use);
}

TEST(Memory, AppendCellGrowsThroughTheNode) {
    gc::rooted_cell held{cell{type_id::block, 0, memory::new_cell_series(1), 0}};
    for (int i = 0; i < 100; i++) init_integer(memory::append_cell_slot(&held.value), i * 3);
    series_buffer* b = buffer_of(held.value.w2);
    ASSERT_EQ(used_units(b), 100u);
    for (int i = 0; i < 100; i++) EXPECT_EQ(int_of(head_cell(b) + i), i * 3);
}

TEST(Memory, ReserveTailBytes) {
    held_series held(type_id::binary, memory::new_byte_series(16));
    u32 node = held.node();
    memory::reserve_tail_bytes(buffer_of(node), 10);
    EXPECT_EQ(used_bytes(buffer_of(node)), 10u);
    memory::reserve_tail_bytes(buffer_of(node), 100); // data area smaller than n: twice n
    EXPECT_EQ(buffer_of(node)->size, 208u);
    EXPECT_EQ(used_bytes(buffer_of(node)), 110u);
}

TEST(Memory, SeriesFrameSizesAndExactRoomPassedOver) {
    gc::active = false; // the frames themselves are under test, not what a collection frees
    u32 frames = memory::count_series_frames();
    EXPECT_EQ(arena::at<series_frame>(memory::mem.first_series_frame)->size,
              memory::initial_series_frame_size + 20);
    // Start-up may have filled frames already: all but the last keep too little room to matter.
    for (u32 f = memory::mem.first_series_frame; f != memory::mem.last_series_frame;
         f = arena::at<series_frame>(f)->next)
        if (frame_room(f) > 64) {
            memory::mem.current_series_frame = f;
            memory::new_series((frame_room(f) - 64) & ~15u, 1, 0);
        }
    u32 first = memory::mem.last_series_frame;
    memory::mem.current_series_frame = first;
    u32 next_size = memory::mem.next_series_size;
    // Fill the last frame so that its room equals the next need exactly.
    u32 room = frame_room(first);
    u32 filler = room - 1024 - 24;
    memory::new_series(filler - filler % 16, 1, 0);
    u32 left = frame_room(first);
    ASSERT_GT(left, 24u);
    u32 exact = left - 24; // need == room: passed over
    exact -= exact % 16;
    if (exact + 24 == left) {
        memory::new_series(exact, 1, 0);
        EXPECT_EQ(memory::count_series_frames(), frames + 1);
        u32 second = memory::mem.last_series_frame;
        EXPECT_EQ(arena::at<series_frame>(second)->size, next_size + 20);
    }
}

TEST(Memory, NodeFramesGrowByTenThousand) {
    u32 frames = memory::count_node_frames();
    for (u32 i = 0; i < memory::nodes_per_frame + 1; i++) memory::take_node();
    EXPECT_GE(memory::count_node_frames(), frames + 1);
}

TEST(Memory, MallocSeriesFlags) {
    u32 node = memory::new_malloc_series(100, 16, 0);
    series_buffer* b = buffer_of(node);
    EXPECT_EQ(b->flags, 16u | 0xA0100000u);
    EXPECT_EQ(b->size, 1600u);
}

TEST(Memory, CloneCopiesDataAndFlags) {
    held_series held(type_id::binary, memory::new_byte_series(32));
    u32 node = held.node();
    u8* p = memory::reserve_tail_bytes(buffer_of(node), 5);
    std::memcpy(p, "hello", 5);
    u32 copy = memory::clone_series(buffer_of(node));
    series_buffer* c = buffer_of(copy);
    EXPECT_NE(copy, node);
    EXPECT_EQ(used_bytes(c), 5u);
    EXPECT_EQ(std::memcmp(head_ptr(c), "hello", 5), 0);
    EXPECT_EQ(unit_of(c), 1u);
}

TEST(Memory, ArenaExhaustionRaisesNoMemory) {
    gc::active = false; // nothing refers to the series: a collection would free them
    arena::set_limit(arena::bytes_in_use() + (4u << 20));
    bool raised = false;
    try {
        for (int i = 0; i < 100; i++) memory::new_series(memory::size_limit, 1, 0);
    } catch (const unwind& u) {
        raised = u.code == throw_code::error &&
                 error::last_code() == err::E("internal", "no-memory").code();
    }
    arena::set_limit(0);
    EXPECT_TRUE(raised);
}

bool listed(u32 frame) {
    for (u32 f = memory::mem.first_node_frame; f; f = arena::at<node_frame>(f)->next)
        if (f == frame) return true;
    return false;
}

TEST(Memory, NodeFramesAreFoundByMasking) {
    u32 frame = memory::new_node_frame(memory::nodes_per_frame);
    EXPECT_EQ((frame - 4) % memory::node_frame_span, 0u);
    u32 first = frame + sizeof(node_frame);
    u32 last = first + 4 * (memory::nodes_per_frame - 1);
    EXPECT_EQ(memory::node_frame_of(first), frame);
    EXPECT_EQ(memory::node_frame_of(last), frame);
    // The header, the word past the last node, a misaligned word and a series frame: no node.
    for (u32 stray : {frame, last + 4, first + 2, memory::mem.first_series_frame + 64})
        EXPECT_EQ(memory::node_frame_of(stray), 0u) << stray;
}

TEST(Memory, EmptyNodeFramesWaitBeforeRelease) {
    gc::evacuation_hold hold; // no node moves into the frame while it is meant to stay empty
    u32 frame = memory::new_node_frame(memory::nodes_per_frame);
    // Drawn from between collections (its nodes dying each time), the frame stays however many
    // collections pass.
    for (u32 i = 0; i < 2 * memory::idle_collections + 2; i++) {
        memory::mem.current_node_frame = frame;
        u32 garbage = memory::new_byte_series(8);
        ASSERT_EQ(memory::node_frame_of(garbage), frame);
        gc::run_collection();
        ASSERT_TRUE(listed(frame)) << i;
        ASSERT_EQ(arena::at<node_frame>(frame)->used, 0u);
    }
    // Left alone, it goes back after the idle collections.
    for (u32 i = 0; i < memory::idle_collections; i++) {
        gc::run_collection();
        ASSERT_TRUE(listed(frame)) << i;
    }
    gc::run_collection();
    EXPECT_FALSE(listed(frame));
    EXPECT_EQ(memory::node_frame_of(frame + sizeof(node_frame)), 0u);
}

TEST(Memory, ShortageReleasesIdleFrames) {
    u32 idle = memory::new_node_frame(memory::nodes_per_frame);
    u64 frame_bytes = 10 * arena::page_size; // a node frame of 10,000 nodes, rounded to pages
    u64 used = arena::bytes_in_use() + arena::host_bytes();
    arena::set_limit(used + (1u << 20) + frame_bytes - arena::page_size);
    arena::set_limit(used + arena::headroom() + frame_bytes - arena::page_size);
    ASSERT_FALSE(arena::fits(frame_bytes));
    u32 fresh = 0;
    try {
        fresh = memory::new_node_frame(memory::nodes_per_frame);
    } catch (const unwind&) {
    }
    arena::set_limit(0);
    EXPECT_NE(fresh, 0u);
    EXPECT_FALSE(listed(idle) && idle != fresh);
}
