// Node evacuation: sparse, stable node frames are emptied into other frames and released, every
// reference the collector reaches is rewritten to the moved node, and a frame whose nodes C++
// code may hold stays where it is.
#include <gtest/gtest.h>

#include <string>

#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "tests/unit/evaluator/eval_fixture.hpp"

using namespace zel;

namespace {

// Allocations enough for several frames in either mode (stress mode makes small frames).
u32 allocations() {
    return 2 * memory::nodes_per_new_frame() + 2000;
}

// Free nodes of every frame: allocating this many first lands what follows in new frames.
u32 free_nodes() {
    u32 n = 0;
    for (u32 f = memory::mem.first_node_frame; f; f = arena::at<node_frame>(f)->next)
        n += arena::at<node_frame>(f)->node_count - arena::at<node_frame>(f)->used;
    return n;
}

// Makes `evac-kept`: 20 objects made among many short strings that are then dropped,
// so that the objects' nodes end up alone in sparse frames. Each object holds a number, a
// string, a block, a word bound to itself and a function; `evac-index` is a hash! of their
// strings and `evac-log` hears of changes to the blocks they own. Answers the spacing of the
// objects: object k (from 1) holds k times it.
u32 make_sparse_values() {
    gc::run_collection();
    u32 fill = free_nodes();
    u32 n = fill + allocations(), every = n / 20;
    std::string text = "evac-log: copy [] evac-index: make hash! [] evac-kept: copy [] "
                       "garbage: copy [] repeat i " +
                       std::to_string(n) + " [append garbage copy \"\" if i // " +
                       std::to_string(every) +
                       " = 0 [append evac-kept o: make object! [n: i s: append copy \"text \" i "
                       "b: reduce [copy \"x\" i] w: 'n f: func [x] [x + n] "
                       "on-deep-change*: func [o w t action v i p] [append evac-log action]] "
                       "append evac-index reduce [o/s i]]] garbage: none";
    EXPECT_FALSE(test::run(text).raised);
    return every;
}

// The node frame that holds a node, or 0: a node in a released frame belongs to none.
u32 live_frame_of(u32 node) {
    for (u32 f = memory::mem.first_node_frame; f; f = arena::at<node_frame>(f)->next) {
        u32 first = f + sizeof(node_frame);
        if (node >= first && node < first + 4 * arena::at<node_frame>(f)->node_count) return f;
    }
    return 0;
}

// A reference that names a node of a live frame whose buffer names it back.
bool sound(u32 node) {
    return live_frame_of(node) && buffer_of(node)->node == node &&
           (buffer_of(node)->flags & buffer_flag::in_use);
}

void recycle_until_stable() {
    for (int i = 0; i < 8; i++) gc::run_collection();
}

} // namespace

TEST(Evacuation, EmptiesSparseFramesAndRewritesEveryReference) {
    u32 every = make_sparse_values();
    u32 frames = memory::count_node_frames();
    u32 cycles = gc::nodes_cycles;
    recycle_until_stable();
    EXPECT_GT(gc::nodes_cycles, cycles);
    // Stress mode moves one frame at a time and may open a frame to receive it: the count of
    // frames need not fall there, but every reference must still be rewritten (below).
    if (!gc::stress) {
        EXPECT_LT(memory::count_node_frames(), frames);
    }

    // Every reference into the kept values names a live node that leads back to it: one left
    // naming a node of a released frame would fail here instead of reading freed memory.
    test::outcome kept = test::run("evac-kept");
    ASSERT_TRUE(is(&kept.value, type_id::block));
    ASSERT_TRUE(sound(kept.value.w2));
    ASSERT_EQ(used_units(buffer_of(kept.value.w2)), 20u);
    for (u32 i = 0; i < 20; i++) {
        cell o = head_cell(buffer_of(kept.value.w2))[i];
        ASSERT_TRUE(is(&o, type_id::object));
        EXPECT_TRUE(sound(o.w1)) << "object " << i;
        cell* values = head_cell(buffer_of(head_cell(buffer_of(o.w1))->w2));
        for (u32 k = 0; k < used_units(buffer_of(head_cell(buffer_of(o.w1))->w2)); k++) {
            const cell* v = values + k;
            if (is(v, type_id::string) || is(v, type_id::block)) {
                EXPECT_TRUE(sound(v->w2));
            }
            if (is(v, type_id::word)) {
                EXPECT_TRUE(sound(v->w1)) << "binding of object " << i;
            }
            if (is(v, type_id::function)) {
                EXPECT_TRUE(sound(v->w1));
                EXPECT_TRUE(sound(v->w2));
                EXPECT_TRUE(sound(v->w3));
            }
        }
    }

    // And the values are what they were: contents, bindings, the index, functions, ownership.
    EXPECT_TRUE(test::gives("ok: true repeat i 20 [o: evac-kept/:i n: i * " +
                                std::to_string(every) +
                                " unless all [o/n = n o/s = append copy \"text \" n "
                                "o/b/1 = \"x\" o/b/2 = n (get o/w) = n (o/f 1) = (n + 1) "
                                "n = select evac-index o/s] [ok: false]] ok",
                            "true"));
    EXPECT_TRUE(test::gives("foreach o evac-kept [append o/b 0] length? evac-log", "40"));
    test::run("evac-kept: evac-index: evac-log: none");
}

TEST(Evacuation, LocalsOfARunningFunctionFollowTheirNodes) {
    // A function whose locals (on the data stack) refer to values in a sparse frame collects
    // while it runs.
    gc::run_collection();
    u32 fill = free_nodes();
    std::string n = std::to_string(fill + allocations());
    std::string half = std::to_string(fill + allocations() / 2);
    u32 cycles = gc::nodes_cycles;
    EXPECT_TRUE(test::gives("evac-f: func [/local a b g] [g: copy [] repeat i " + n +
                                " [append g copy \"\" if i = " + half +
                                " [a: append copy \"local \" i b: reduce [a i]]] g: none "
                                "loop 8 [recycle] reduce [a b/1 same? a b/1 b/2]] evac-f",
                            "[\"local " + half + "\" \"local " + half + "\" true " + half + "]"));
    // Whether the frame of `a` and `b` moved depends on what stale words the machine stack keeps
    // (the scan pins a frame for any word that could be one of its nodes), so only a move that
    // happened is checked: the values above are intact either way.
    if (gc::nodes_cycles == cycles) GTEST_LOG_(INFO) << "no frame moved in this run";
}

TEST(Evacuation, FramesHeldByCodeOrAHoldStayInPlace) {
    u32 every = make_sparse_values();
    test::outcome kept = test::run("evac-kept/20/s");
    ASSERT_TRUE(is(&kept.value, type_id::string));
    // A node in a C++ local: its frame is never evacuated, whatever else moves.
    volatile u32 held = kept.value.w2;
    u32 frame = live_frame_of(held);
    ASSERT_NE(frame, 0u);
    {
        gc::evacuation_hold hold;
        u32 cycles = gc::nodes_cycles;
        recycle_until_stable();
        EXPECT_EQ(gc::nodes_cycles, cycles) << "nothing moves while evacuation is held";
    }
    recycle_until_stable();
    EXPECT_EQ(live_frame_of(held), frame);
    ASSERT_TRUE(sound(held));
    series_buffer* b = buffer_of(held);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(head_ptr(b)), used_bytes(b)),
              "text " + std::to_string(every * 20));
    test::run("evac-kept: evac-index: evac-log: none");
}
