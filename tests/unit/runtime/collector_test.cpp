// The collector: what the roots reach survives with its contents, what they do not is reclaimed,
// and deep nesting does not overflow the machine stack.
#include <gtest/gtest.h>

#include <cstdlib>

#include "datatypes/context.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/ext_res.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

using namespace zel;

namespace {
cell new_block(u32 n) {
    return cell{type_id::block, 0, memory::new_cell_series(n ? n : 1), 0};
}
cell new_text(const char* t) {
    cell s;
    string::init_cell_bytes(&s, 8);
    gc::root keep(&s); // appending may grow it
    string::append_c_text(&s, t);
    return s;
}
u32 used_nodes() {
    u32 n = 0;
    for (u32 f = memory::mem.first_node_frame; f; f = arena::at<node_frame>(f)->next)
        n += arena::at<node_frame>(f)->used;
    return n;
}
int releases = 0;
void count_release(void*) {
    releases++;
}
} // namespace

TEST(Collector, RootsKeepTheirValuesAndGarbageGoes) {
    gc::run_collection();
    u32 baseline = used_nodes();
    // Reachable through the data stack: a block holding strings and a nested block.
    cell outer = new_block(4);
    cell* on_stack = stack::push_value(&outer);
    for (int i = 0; i < 50; i++) {
        gc::rooted_cell s(new_text(("text " + std::to_string(i)).c_str()));
        cell* slot = memory::append_cell_slot(on_stack);
        *slot = s.value;
    }
    // Reachable through an RAII root only.
    gc::rooted_cell kept(new_text("rooted"));
    // Garbage, interleaved so that live buffers must move.
    for (int i = 0; i < 2000; i++) new_text("garbage that nothing refers to");
    gc::run_collection();
    EXPECT_LT(used_nodes(), baseline + 100u);
    series_buffer* b = buffer_of(on_stack->w2);
    ASSERT_EQ(used_units(b), 50u);
    for (int i = 0; i < 50; i++) {
        cell s = head_cell(buffer_of(on_stack->w2))[i];
        EXPECT_EQ(utf8::encode_string(&s), "text " + std::to_string(i));
    }
    EXPECT_EQ(utf8::encode_string(&kept.value), "rooted");
    stack::drop_values(1);
    gc::run_collection();
    EXPECT_LE(used_nodes(), baseline + 2);
}

TEST(Collector, GlobalWordsAndSymbolsSurvive) {
    cell w = context::global_word(symbol::intern_text("collected-word"));
    cell v = new_text("value of a global word");
    context::set_word_value(&w, &v);
    for (int i = 0; i < 500; i++) new_text("more garbage");
    gc::run_collection();
    gc::run_collection();
    EXPECT_EQ(symbol::text(w.w2), "collected-word");
    EXPECT_EQ(utf8::encode_string(context::word_value_address(&w)), "value of a global word");
}

TEST(Collector, DeepNestingUsesNoMachineStack) {
    if (std::getenv("ZEL_GC_STRESS"))
        GTEST_SKIP() << "a collection per allocation over a growing chain takes minutes";
    cell b = new_block(1);
    cell* top = stack::push_value(&b);
    for (int i = 0; i < 200000; i++) {
        cell inner = new_block(1);
        *memory::append_cell_slot(&inner) = *top;
        *top = inner;
    }
    gc::run_collection();
    cell c = *top;
    int depth = 0;
    while (used_units(buffer_of(c.w2)) == 1) {
        c = *head_cell(buffer_of(c.w2));
        depth++;
    }
    EXPECT_EQ(depth, 200000);
    stack::drop_values(1);
}

TEST(Collector, HandlesKeepTheirRecordsUntilUnreferenced) {
    releases = 0;
    u32 kind = ext_res::push_entry(0, count_release);
    static int object;
    i32 index = ext_res::add_record(&object, kind);
    cell h{type_id::handle, 0, 0, static_cast<u32>(index)};
    cell* slot = stack::push_value(&h);
    gc::run_collection();
    EXPECT_EQ(releases, 0);
    slot->w3 = 0xFFFFFFFF; // a negative index marks no record
    gc::run_collection();
    EXPECT_EQ(releases, 1);
    gc::run_collection();
    EXPECT_EQ(releases, 1);
    stack::drop_values(1);
}
