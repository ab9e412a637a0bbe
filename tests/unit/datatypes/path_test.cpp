// paren! and the path kinds: making, converting, forming and molding, cycle marks, and the
// actions they refuse or inherit.
#include <gtest/gtest.h>

#include "datatypes/path.hpp"
#include "runtime/cycle_stack.hpp"
#include "tests/unit/datatypes/block_support.hpp"

using namespace zel;
using namespace zel::test;

namespace {

cell first_of(const char* text) {
    cell b = load(text);
    return *block::cell_address(&b, 0);
}

TEST(Path, MoldAndForm) {
    struct row {
        const char* text;
        const char* mold;
    };
    const row rows[] = {
        {"1/2", "1/2"},
        {"'1/2", "'1/2"},
        {"1/2:", "1/2:"},
        {":1/2", ":1/2"},
        {"1/none/true", "1/none/true"},
        {"(1 2)", "(1 2)"},
        {"(\n1 2)", "(\n    1 2\n)"},
        {"(1\n2)", "(1\n2)"},
    };
    for (const row& r : rows) EXPECT_EQ(mold(first_of(r.text)), r.mold) << r.text;
    cell nested = first_of("1/2/4");
    *block::cell_address(&nested, 1) = load("2 3");
    EXPECT_EQ(mold(nested), "1/[2 3]/4");
    EXPECT_EQ(form(nested), "1/2 3/4");
    // A new-line mark inside a path writes no line break.
    cell p = first_of("1/2/3");
    cell_ops::set_newline(block::cell_address(&p, 1), true);
    EXPECT_EQ(mold(p), "1/2/3");
    i32 left;
    EXPECT_EQ(form(first_of("1/2/3"), 2, &left), "1/2");
    EXPECT_EQ(left, -1);
    EXPECT_EQ(mold(first_of("1/2/3"), false, false, 1, &left), "1");
}

TEST(Path, ThatHoldsItself) {
    for (u32 type : {type_id::path, type_id::set_path}) {
        cell p = first_of("1/2");
        cell_ops::write_type(&p, type);
        block::append_value_copy(&p, &p);
        EXPECT_EQ(mold(p), type == type_id::path ? "1/2/..." : "1/2/...::");
        EXPECT_EQ(form(p), "1/2/...");
        EXPECT_EQ(cycle_stack::depth(), 0u);
    }
}

TEST(Path, MakeAndTo) {
    auto make = act::handler<act::slot::make>(type_id::path);
    auto to = act::handler<act::slot::to>(type_id::path);
    cell out;
    for (i32 n : {0, 3, -4}) {
        cell size = integer_cell(n);
        make(&out, &size, type_id::set_path);
        EXPECT_EQ(type_of(&out), type_id::set_path);
        EXPECT_EQ(block::cells_from_head(&out), 0u) << n;
    }
    cell spec = load("1 2");
    make(&out, &spec, type_id::path);
    EXPECT_EQ(mold(out), "1/2");
    EXPECT_NE(out.w2, spec.w2);
    cell none;
    init_none(&none);
    EXPECT_RAISES(make(&out, &none, type_id::path), "script", "bad-make-arg");
    cell object{type_id::object, 0, 1000001, 0};
    to(&out, &object, type_id::lit_path);
    EXPECT_EQ(type_of(&out), type_id::lit_path);
    EXPECT_EQ(block::cells_from_head(&out), 1u);
    EXPECT_EQ(block::cell_address(&out, 0)->w2, 1000001u);
    cell five = integer_cell(5);
    to(&out, &five, type_id::get_path);
    EXPECT_EQ(mold(out), ":5");
    cell* pushed = paren::push_retyped(&spec);
    EXPECT_EQ(mold(*pushed), "(1 2)");
    stack::drop_values(1);
}

TEST(Path, RefusedAndInheritedActions) {
    for (u32 t : {type_id::path, type_id::lit_path, type_id::set_path, type_id::get_path}) {
        EXPECT_EQ(act::handler<act::slot::sort>(t), nullptr) << t;
        EXPECT_EQ(act::handler<act::slot::trim>(t), nullptr) << t;
        EXPECT_EQ(act::handler<act::slot::random>(t), nullptr) << t;
        EXPECT_NE(act::handler<act::slot::find>(t), nullptr) << t;
        EXPECT_NE(act::handler<act::slot::take>(t), nullptr) << t;
        EXPECT_NE(act::handler<act::slot::modify>(t), nullptr) << t;
        EXPECT_EQ(act::handler<act::slot::add>(t), nullptr) << t;
    }
    EXPECT_EQ(act::handler<act::slot::trim>(type_id::paren), nullptr);
    EXPECT_NE(act::handler<act::slot::sort>(type_id::paren), nullptr);
    EXPECT_NE(act::handler<act::slot::random>(type_id::paren), nullptr);
    EXPECT_EQ(act::handler<act::slot::copy>(type_id::set_path),
              act::handler<act::slot::copy>(type_id::path));
    EXPECT_EQ(datatype::raw_handler(type_id::block, 8), nullptr);
    // Copying keeps the kind.
    cell p = first_of("1/2"), out;
    act::handler<act::slot::copy>(type_id::path)(&p, &out, nullptr, false, nullptr);
    EXPECT_EQ(mold(out), "1/2");
    EXPECT_NE(out.w2, p.w2);
    cell paren = first_of("(3 1 2)");
    act::handler<act::slot::sort>(type_id::paren)(&paren, false, nullptr, nullptr, nullptr, false,
                                                  false, true);
    EXPECT_EQ(mold(paren), "(1 2 3)");
}

} // namespace
