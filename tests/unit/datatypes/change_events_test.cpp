// Object change events on the C++ side: the handler information, `set` on objects, and the
// checks made before a handler would run. Handlers that actually run need the interpreter; these
// tests use a routine! handler, which passes the build but is refused when it would be called.
#include <gtest/gtest.h>

#include "datatypes/change_events.hpp"
#include "datatypes/object.hpp"
#include "datatypes/words_rt.hpp"
#include "object_helpers.hpp"

using namespace zel;
using namespace zel::test;

namespace {

class ChangeEvents : public testing::Test {
  protected:
    void SetUp() override { base = stack::top; }
    void TearDown() override {
        stack::top = base;
        release_kept();
    }
    cell* base = nullptr;
};

cell object_of(std::initializer_list<cell> spec) {
    cell b = block_of(spec);
    cell* base = stack::top;
    cell o = *object::new_from_proto(&b, nullptr, true);
    stack::top = base;
    return keep(o);
}

// A callable of the given type whose spec is [a b c /local x y].
cell handler(u32 type) {
    cell spec = block_of({word("a"), word("b"), word("c"), word("local", type_id::refinement),
                          word("x"), word("y")});
    return keep(cell{type, 0, spec.w2, 0});
}

i32 int_field(const cell& o, u32 i) {
    return int_of(context::values_base(o.w1) + i);
}
bool changed(const cell& o, u32 i) {
    return context::key_word(o.w1, i)->header & cell_flag::changed_key;
}

} // namespace

TEST_F(ChangeEvents, BuildingTheInformation) {
    cell plain = object_of({set_word("a"), integer(1)});
    object::build_change_info(&plain);
    EXPECT_EQ(plain.w3, 0u);
    EXPECT_EQ(object::handler_index(&plain, 0), object::no_handler);

    cell o =
        object_of({set_word("a"), integer(1), set_word("on-deep-change*"),
                   handler(type_id::routine), set_word("On-Change*"), handler(type_id::function)});
    object::build_change_info(&o);
    ASSERT_NE(o.w3, 0u);
    EXPECT_EQ(context::self_cell(o.w1)->w3, o.w3);
    EXPECT_EQ(object::handler_index(&o, 0), 2u);
    EXPECT_EQ(object::handler_index(&o, 1), 1u);
    EXPECT_EQ(object::handler_locals(&o, 0), 3u);
    EXPECT_EQ(type_of(head_cell(buffer_of(o.w3))), type_id::pair);

    cell bad = object_of({set_word("on-change*"), integer(0)});
    EXPECT_TRUE(
        raises(err::E("script", "bad-field-set"), [&] { object::build_change_info(&bad); }));
    // Compiled code gives the indexes itself.
    cell* top = stack::push_value(&plain);
    object::finish_on_top(0, 2, -1, 0);
    EXPECT_EQ(object::handler_index(top, 0), 0u);
    EXPECT_EQ(object::handler_locals(top, 0), 2u);
    EXPECT_EQ(object::handler_index(top, 1), object::no_handler);
}

TEST_F(ChangeEvents, SetSpreadsOverFields) {
    cell o = object_of(
        {set_word("a"), integer(1), set_word("b"), integer(2), set_word("c"), integer(3)});
    cell two = block_of({integer(10), integer(20)});
    object::assign_from(&o, &two, false, false, false);
    EXPECT_EQ(int_field(o, 0), 10);
    EXPECT_EQ(int_field(o, 1), 20);
    EXPECT_EQ(type_of(context::values_base(o.w1) + 2), type_id::none);
    EXPECT_TRUE(changed(o, 0) && changed(o, 1) && changed(o, 2));

    cell p = object_of({set_word("a"), integer(1), set_word("b"), integer(2)});
    cell first_none = block_of({none_value(), integer(7)});
    object::assign_from(&p, &first_none, false, false, true);
    EXPECT_EQ(int_field(p, 0), 1);
    EXPECT_FALSE(changed(p, 0));
    EXPECT_EQ(int_field(p, 1), 7);
    // One value for every field: /some does not skip it.
    cell none = none_value();
    object::assign_from(&p, &none, false, false, true);
    EXPECT_EQ(type_of(context::values_base(p.w1)), type_id::none);
    // /only gives the block itself to every field.
    object::assign_from(&p, &two, false, true, false);
    EXPECT_EQ(context::values_base(p.w1)[1].w2, two.w2);

    cell q = object_of({set_word("a"), integer(1), set_word("b"), integer(2)});
    cell source = object_of({set_word("B"), integer(5), set_word("z"), integer(9)});
    object::assign_from(&q, &source, false, false, false);
    EXPECT_EQ(int_field(q, 0), 1);
    EXPECT_FALSE(changed(q, 0));
    EXPECT_EQ(int_field(q, 1), 5);

    cell unset_value{type_id::unset, 0, 0, 0};
    cell with_unset = block_of({integer(4), unset_value});
    EXPECT_TRUE(raises(err::E("script", "need-value"),
                       [&] { object::assign_from(&q, &with_unset, false, false, false); }));
    EXPECT_EQ(int_field(q, 0), 1); // checked before anything is stored
    object::assign_from(&q, &with_unset, true, false, false);
    EXPECT_EQ(int_field(q, 0), 4);
}

TEST_F(ChangeEvents, HandlerFieldsAreKeptAndRoutinesRefused) {
    cell o =
        object_of({set_word("on-change*"), handler(type_id::routine), set_word("a"), integer(1)});
    object::build_change_info(&o);
    cell values = block_of({integer(8), integer(9)});
    EXPECT_TRUE(raises(err::E("script", "invalid-obj-evt"),
                       [&] { object::assign_from(&o, &values, false, false, false); }));
    EXPECT_EQ(type_of(context::values_base(o.w1)), type_id::routine);
    EXPECT_TRUE(changed(o, 0));
    EXPECT_EQ(int_field(o, 1), 9); // stored before the handler is looked at
    // A store through a word reaches the same check.
    cell a = *context::key_word(o.w1, 1);
    cell v = integer(3);
    EXPECT_TRUE(
        raises(err::E("script", "invalid-obj-evt"), [&] { context::set_word_value(&a, &v); }));
    EXPECT_EQ(int_field(o, 1), 3);

    cell plain = object_of({set_word("a"), integer(1)});
    cell w = word("a"), action = word("append");
    EXPECT_TRUE(raises(err::E("script", "invalid-obj-evt"), [&] {
        object::notify_deep_change(&plain, &w, &plain, &action, nullptr, 0, 1);
    }));
    // Without an on-change* handler nothing is called.
    cell deep_only = object_of({set_word("on-deep-change*"), handler(type_id::function)});
    object::build_change_info(&deep_only);
    object::notify_change(&deep_only, &w, &v, &v);
}
