// Cells, the cycle guard, the external-resource registry, the cell pool and raw buffers.
#include <gtest/gtest.h>

#include "runtime/cell_pool.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/ext_res.hpp"

using namespace zel;

TEST(Cell, AssignAndTypeFlags) {
    cell a;
    init_integer(&a, 42);
    EXPECT_EQ(cell_ops::assign(&a, &a), &a);
    EXPECT_EQ(int_of(&a), 42);

    a.header |= cell_flag::newline | 0x2000;
    cell_ops::write_type(&a, type_id::char_);
    EXPECT_EQ(type_of(&a), type_id::char_);
    EXPECT_TRUE(cell_ops::has_newline(&a));
    EXPECT_TRUE(a.header & 0x2000);
    cell_ops::clear_newline_flag(&a);
    EXPECT_FALSE(cell_ops::has_newline(&a));

    cell f;
    init_float(&f, -2.5);
    EXPECT_EQ(float_of(&f), -2.5);
}

TEST(Cell, TypesetBits) {
    cell ts{type_id::typeset, 0, 0, 0};
    typeset_set(&ts, type_id::block);
    typeset_set(&ts, type_id::image);
    EXPECT_TRUE(typeset_has(&ts, type_id::block));
    EXPECT_TRUE(typeset_has(&ts, type_id::image));
    EXPECT_FALSE(typeset_has(&ts, type_id::integer));
    // block! (5) is bit 0x04 of byte 0.
    EXPECT_EQ(reinterpret_cast<const u8*>(&ts.w1)[0], 0x04);
}

TEST(CycleStack, GuardPopsOnEveryUnwind) {
    cycle_stack::clear();
    try {
        cycle_stack::guard outer(100);
        cycle_stack::guard inner(200);
        EXPECT_TRUE(cycle_stack::contains(200));
        throw unwind{throw_code::error};
    } catch (const unwind&) {
    }
    EXPECT_EQ(cycle_stack::depth(), 0u);
}

TEST(CycleStack, TooDeepEmptiesAndRaises) {
    cycle_stack::clear();
    bool raised = false;
    try {
        for (u32 i = 1; i <= cycle_stack::capacity; i++) cycle_stack::push_node(i);
    } catch (const unwind&) {
        raised = error::last_code() == err::E("internal", "too-deep").code();
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(cycle_stack::depth(), 0u);
    cycle_stack::pop_node(); // popping an empty stack leaves it empty
    EXPECT_EQ(cycle_stack::depth(), 0u);
}

TEST(CycleStack, Marks) {
    cell blk{type_id::block, 0, 8, 0}, obj{type_id::object, 8, 0, 0}, par{type_id::paren, 0, 8, 0};
    EXPECT_EQ(cycle_stack::cycle_mark(&blk, true), "[...]");
    EXPECT_EQ(cycle_stack::cycle_mark(&par, true), "(...)");
    EXPECT_EQ(cycle_stack::cycle_mark(&obj, true), "make object! [...]");
    EXPECT_EQ(cycle_stack::cycle_mark(&blk, false), "...");
    EXPECT_EQ(cycle_stack::key_of(&obj), 8u);
    EXPECT_EQ(cycle_stack::key_of(&blk), 8u);

    u8 bytes[10] = {7, 9};
    EXPECT_EQ(memory::replicate_bytes(bytes, 2, 5), bytes + 10);
    for (int i = 0; i < 10; i += 2) EXPECT_EQ(bytes[i] * 10 + bytes[i + 1], 79);
}

namespace {
int releases = 0;
void count_release(void*) { releases++; }
} // namespace

TEST(ExtRes, GrowthReplaceAndSweep) {
    ext_res::set_up_tables();
    releases = 0;
    u32 kind = ext_res::push_entry(0, count_release);
    u32 silent = ext_res::push_entry(0, nullptr);
    std::vector<i32> idx;
    static int objects[1001];
    for (int i = 0; i < 1001; i++) idx.push_back(ext_res::add_record(&objects[i], kind));
    EXPECT_EQ(ext_res::capacity(), 2000u);
    EXPECT_EQ(ext_res::at(idx[0])->object, &objects[0]);
    EXPECT_EQ(ext_res::at(idx[1000])->object, &objects[1000]);

    ext_res::replace_object(idx[0], &objects[0]);
    EXPECT_EQ(releases, 0);
    ext_res::replace_object(idx[0], &objects[1]);
    EXPECT_EQ(releases, 1);

    i32 quiet = ext_res::add_record(&objects[5], silent);
    for (int i = 1; i < 1001; i++) ext_res::set_mark(idx[i]);
    u32 gen = ext_res::at(idx[0])->generation;
    ext_res::sweep_unmarked(); // idx[0] and the silent record go
    EXPECT_EQ(releases, 2);
    EXPECT_FALSE(ext_res::is_live(idx[0], gen));
    EXPECT_FALSE(ext_res::is_live(quiet, 0));
    EXPECT_TRUE(ext_res::is_live(idx[1], 0));
    ext_res::sweep_unmarked(); // unmarked now: every record released once
    EXPECT_EQ(releases, 1002);
}

TEST(CellPool, GrowthAndFreeList) {
    cell v;
    std::vector<u32> slots;
    for (int i = 0; i < 101; i++) slots.push_back(cell_pool::store(init_integer(&v, 1000 + i)));
    EXPECT_EQ(cell_pool::capacity(), 200u);
    for (int i = 0; i < 101; i++) EXPECT_EQ(int_of(cell_pool::cell_at(slots[i])), 1000 + i);
    cell_pool::free(0);
    cell_pool::free(slots[7]);
    EXPECT_EQ(cell_pool::store(init_integer(&v, 5)), slots[7]);
}

TEST(RawBuffer, Items) {
    u32 rb = raw_buffer::create(2, 4);
    for (i32 v : {5, 7, 5, 9}) raw_buffer::append_int32(rb, v);
    EXPECT_EQ(raw_buffer::length(rb), 4u);
    raw_buffer::remove_item(rb, 42);
    EXPECT_EQ(raw_buffer::length(rb), 4u);
    raw_buffer::remove_item(rb, 5);
    ASSERT_EQ(raw_buffer::length(rb), 3u);
    EXPECT_EQ(raw_buffer::item_at(rb, 1), 7);
    EXPECT_EQ(raw_buffer::item_at(rb, 2), 5);
    raw_buffer::insert_int32(rb, 1, 0);
    EXPECT_EQ(raw_buffer::item_at(rb, 1), 1);
    EXPECT_EQ(raw_buffer::offset_of(rb, 9), 12);
    raw_buffer::truncate_at(rb, 1);
    EXPECT_EQ(raw_buffer::length(rb), 0u);
}
