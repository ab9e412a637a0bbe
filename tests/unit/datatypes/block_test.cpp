// block!: mold and form (new-line marks, indentation, cycle marks, the /part budget), compare,
// make and to, copy (/deep, /types, cycles), path access and the helpers other units build on.
#include <gtest/gtest.h>

#include "runtime/cycle_stack.hpp"
#include "tests/unit/datatypes/block_support.hpp"

using namespace zel;
using namespace zel::test;

namespace {

namespace cop = actions::compare_op;

template <u32 S> auto handler() {
    return act::handler<S>(type_id::block);
}

std::string whole(const cell& b) {
    return show(at(b, 0));
}

// A block whose last cell is the block itself.
cell self_holding(const char* text, u32 type = type_id::block) {
    cell b = load(text);
    cell_ops::write_type(&b, type);
    block::append_value_copy(&b, &b);
    return b;
}

TEST(BlockMold, LinesAndIndentation) {
    struct row {
        const char* text; // "\n" marks the value after it
        bool only, flat;
        const char* expected;
    };
    const row rows[] = {
        {"1 2", false, false, "[1 2]"},
        {"1\n2", false, false, "[1\n2]"},
        {"\n1\n2", false, false, "[\n    1\n    2\n]"},
        {"\n1 2\n3", false, false, "[\n    1 2\n    3\n]"},
        {"1 [\n2 3]", false, false, "[1 [\n    2 3\n]]"},
        {"\n1 [\n2]", false, false, "[\n    1 [\n        2\n    ]\n]"},
        {"\n1 [2\n3]", false, false, "[\n    1 [2\n    3]\n]"},
        {"1 (\n2)", false, false, "[1 (\n    2\n)]"},
        {"\n1\n2", false, true, "[1 2]"},
        {"\n1 [\n2]", false, true, "[1 [2]]"},
        {"\n1\n2", true, false, "1\n2"},
        {"1 [2]", true, false, "1 [2]"},
        {"", false, false, "[]"},
        {"[] [[]]", false, false, "[[] [[]]]"},
    };
    for (const row& r : rows) EXPECT_EQ(mold(load(r.text), r.only, r.flat), r.expected) << r.text;
}

TEST(BlockMold, CycleMarks) {
    EXPECT_EQ(mold(self_holding("1 2")), "[1 2 [...]]");
    EXPECT_EQ(mold(self_holding("1", type_id::paren)), "(1 (...))");
    EXPECT_EQ(form(self_holding("1 2")), "1 2 ...");
    // A block met twice but not inside itself is written in full both times.
    cell inner = load("7");
    cell outer = load("");
    block::append_value_copy(&outer, &inner);
    block::append_value_copy(&outer, &inner);
    EXPECT_EQ(mold(outer), "[[7] [7]]");
    EXPECT_EQ(cycle_stack::depth(), 0u);
}

TEST(BlockMold, PartBudget) {
    struct row {
        const char* text;
        i32 limit;
        const char* expected;
        i32 left;
    };
    const row rows[] = {
        {"1 2 3 4 5", 4, "[1 2]", -1},
        {"1 2 3 4 5", 20, "[1 2 3 4 5]", 9},
        {"\n1\n2\n3", 8, "[\n    1\n    2]", -6},
        {"[1 2 3] 4", 3, "[[1]]", -2},
        {"1 2", 1, "[]", -1},
    };
    for (const row& r : rows) {
        i32 left;
        EXPECT_EQ(mold(load(r.text), false, false, r.limit, &left), r.expected) << r.text;
        EXPECT_EQ(left, r.left) << r.text;
    }
    i32 left;
    EXPECT_EQ(form(load("1 [2 3] 4"), 3, &left), "1 2");
    EXPECT_EQ(left, 0);
}

TEST(BlockForm, NoBrackets) {
    EXPECT_EQ(form(load("1 [2 [3]] none (4)")), "1 2 3 none 4");
    EXPECT_EQ(form(load("")), "");
}

TEST(BlockCompare, Orderings) {
    struct row {
        const char* a;
        const char* b;
        i32 op;
        i32 expected;
    };
    const row rows[] = {
        {"1 2", "1 2 3", cop::equal, 1},
        {"1 2", "1 2 3", cop::lesser, -1},
        {"", "1", cop::lesser, -1},
        {"1", "", cop::lesser, 1},
        {"", "", cop::equal, 0},
        {"1 2", "1 3", cop::lesser, -1},
        {"1 [2 3]", "1 [2 3]", cop::equal, 0},
        {"1 [2 4]", "1 [2 3]", cop::sort, 1},
        {"1 none", "1 2", cop::sort, -1},
        {"1 2", "1 2", cop::same, -1},
        {"true", "false", cop::sort, 1},
    };
    auto compare = handler<act::slot::compare>();
    for (const row& r : rows) {
        cell a = load(r.a), b = load(r.b);
        EXPECT_EQ(compare(&a, &b, r.op), r.expected) << r.a << " / " << r.b << " op " << r.op;
    }
    cell a = load("1 2 3");
    cell a1 = at(a, 1), a1b = at(a, 1);
    EXPECT_EQ(compare(&a1, &a1b, cop::same), 0);
    EXPECT_EQ(compare(&a, &a1, cop::same), -1);
    // A head past the tail counts as empty.
    cell past = at(load("1"), 5), empty = load("");
    EXPECT_EQ(compare(&past, &empty, cop::equal), 0);
    // Paths and lit-paths compare only under ops 10 and 11.
    cell p = load("1/2"), lp = load("'1/2");
    cell path = *block::cell_address(&p, 0), lit = *block::cell_address(&lp, 0);
    EXPECT_EQ(compare(&path, &lit, cop::equal), -2);
    EXPECT_EQ(compare(&path, &lit, cop::equal_10), 0);
    cell paren = load("(1 2)"), par = *block::cell_address(&paren, 0);
    cell blk = load("1 2");
    EXPECT_EQ(compare(&blk, &par, cop::equal), -2);
}

TEST(BlockCompare, CyclesEnd) {
    cell a = self_holding("1"), b = self_holding("1");
    auto compare = handler<act::slot::compare>();
    EXPECT_EQ(compare(&a, &b, cop::equal), 0);
    EXPECT_EQ(cycle_stack::depth(), 0u);
}

TEST(BlockMake, SpecsAndConversions) {
    auto make = handler<act::slot::make>();
    auto to = handler<act::slot::to>();
    cell out;
    cell zero = integer_cell(0), minus = integer_cell(-5), f;
    init_float(&f, 3.9);
    for (cell* spec : {&zero, &minus, &f}) {
        make(&out, spec, type_id::block);
        EXPECT_EQ(mold(out), "[]");
    }
    init_float(&f, 3e10);
    EXPECT_RAISES(make(&out, &f, type_id::block), "script", "out-of-range");
    cell source = load("1 [2] 3");
    cell from = at(source, 1);
    make(&out, &from, type_id::paren);
    EXPECT_EQ(mold(out), "([2] 3)");
    // Shallow: the nested block is shared.
    EXPECT_EQ(block::cell_address(&out, 0)->w2, block::cell_address(&source, 1)->w2);
    cell none;
    init_none(&none);
    EXPECT_RAISES(make(&out, &none, type_id::block), "script", "bad-make-arg");
    cell five = integer_cell(5);
    to(&out, &five, type_id::block);
    EXPECT_EQ(mold(out), "[5]");
    to(&out, &source, type_id::block);
    EXPECT_EQ(mold(out), "[1 [2] 3]");
    EXPECT_NE(out.w2, source.w2);
}

TEST(BlockCopy, DeepAndTyped) {
    auto copy = handler<act::slot::copy>();
    cell source = load("1 [2 [3]] (4)");
    cell out;
    copy(&source, &out, nullptr, true, nullptr);
    EXPECT_EQ(mold(out), "[1 [2 [3]] (4)]");
    cell* inner = block::cell_address(&out, 1);
    EXPECT_NE(inner->w2, block::cell_address(&source, 1)->w2);
    EXPECT_NE(block::cell_address(inner, 1)->w2,
              block::cell_address(block::cell_address(&source, 1), 1)->w2);
    EXPECT_NE(block::cell_address(&out, 2)->w2, block::cell_address(&source, 2)->w2);
    // /types: only the values of those types are copied.
    cell paren_type;
    init_datatype(&paren_type, type_id::paren);
    copy(&source, &out, nullptr, false, &paren_type);
    EXPECT_EQ(block::cell_address(&out, 1)->w2, block::cell_address(&source, 1)->w2);
    EXPECT_NE(block::cell_address(&out, 2)->w2, block::cell_address(&source, 2)->w2);
    // Shallow copy shares.
    copy(&source, &out, nullptr, false, nullptr);
    EXPECT_EQ(block::cell_address(&out, 1)->w2, block::cell_address(&source, 1)->w2);
}

TEST(BlockCopy, DeepCopyOfACycleRaises) {
    cell a = self_holding("1 2"), out;
    cell outer = load("0");
    block::append_value_copy(&outer, &a);
    EXPECT_RAISES(handler<act::slot::copy>()(&outer, &out, nullptr, true, nullptr), "internal",
                  "no-cycle");
    EXPECT_EQ(cycle_stack::depth(), 0u);
    EXPECT_RAISES(block::push_duplicate(&a, true, false), "internal", "no-cycle");
}

TEST(BlockPath, GetAndSet) {
    auto eval_path = handler<act::slot::eval_path>();
    cell b = load("10 none 20 true 30 [1] 40");
    path_step step;
    cell two = integer_cell(2);
    EXPECT_TRUE(is_none(eval_path(&b, &two, nullptr, step)));
    cell t;
    init_logic(&t, true);
    EXPECT_EQ(int_of(eval_path(&b, &t, nullptr, step)), 30);
    cell key = load("[1]"); // a block key is looked for as one value (select/only)
    EXPECT_EQ(int_of(eval_path(&b, block::cell_address(&key, 0), nullptr, step)), 40);
    cell v = integer_cell(99);
    eval_path(&b, &t, &v, step);
    EXPECT_EQ(whole(b), "[10 none 20 true 99 [1] 40]");
    eval_path(&b, &two, &v, step);
    EXPECT_EQ(whole(b), "[10 99 20 true 99 [1] 40]");
    cell absent;
    init_logic(&absent, false);
    EXPECT_RAISES(eval_path(&b, &absent, &v, step), "script", "bad-path-set");
    cell last = integer_cell(40);
    EXPECT_RAISES(eval_path(&b, &last, &v, step), "script", "out-of-range");
    // A word finds the value after the first word-kind cell of that symbol.
    cell words = load("1 2 3 4");
    *block::cell_address(&words, 0) = cell{type_id::set_word, 0, 77, 0};
    *block::cell_address(&words, 2) = cell{type_id::word, 0, 78, 0};
    cell w = cell{type_id::word, 0, 78, 0};
    EXPECT_EQ(int_of(eval_path(&words, &w, nullptr, step)), 4);
    w.w2 = 77;
    EXPECT_EQ(int_of(eval_path(&words, &w, nullptr, step)), 2);
    w.w2 = 79;
    EXPECT_TRUE(is_none(eval_path(&words, &w, nullptr, step)));
}

TEST(BlockHelpers, BuildingAndLookups) {
    cell b = load("1 2 3");
    b.w1 = 1;
    cell nine = integer_cell(9);
    block::insert_one(&b, &nine, true, false);
    EXPECT_EQ(whole(b), "[1 9 2 3]");
    EXPECT_EQ(b.w1, 2u);
    block::insert_one(&b, &nine, false, true);
    EXPECT_EQ(whole(b), "[9 1 9 2 3]");
    cell src = at(load("7 8"), 0);
    block::insert_cells_of(&b, &src);
    EXPECT_EQ(whole(b), "[9 1 7 8 9 2 3]");
    EXPECT_EQ(b.w1, 4u);
    cell two = integer_cell(2);
    cell after = block::select_value(&b, &two);
    EXPECT_EQ(int_of(&after), 3);
    cell three = integer_cell(3);
    after = block::select_value(&b, &three); // the last cell
    EXPECT_TRUE(is_none(&after));
    EXPECT_TRUE(block::remove_first_match(&b, &nine, false)); // the one at the head
    EXPECT_EQ(whole(b), "[9 1 7 8 2 3]");
    EXPECT_FALSE(block::remove_first_match(&b, &three, false)); // found after the head
    EXPECT_EQ(whole(b), "[9 1 7 8 2]");
    cell absent = integer_cell(5);
    EXPECT_FALSE(block::remove_first_match(&b, &absent, true));
    block::drop_last(&b);
    EXPECT_EQ(whole(b), "[9 1 7 8]");
    b.w1 = 4;
    block::drop_last(&b);
    EXPECT_EQ(b.w1, 3u);
    cell c = load("1 [2]");
    cell* dup = block::push_duplicate(&c, true, false);
    EXPECT_EQ(mold(*dup), "[1 [2]]");
    EXPECT_NE(block::cell_address(dup, 1)->w2, block::cell_address(&c, 1)->w2);
    stack::drop_values(1);
}

} // namespace
