// typeset!: making, set operations, membership, comparison and molding.
#include <gtest/gtest.h>

#include "datatypes/registry.hpp"
#include "datatypes/typeset.hpp"
#include "object_helpers.hpp"
#include "runtime/collector.hpp"

using namespace zel;
using namespace zel::test;

namespace {

cell datatype_of(u32 t) {
    cell d;
    return *init_datatype(&d, t);
}

cell set_of(std::initializer_list<u32> types) {
    cell s;
    typeset::init_cell(&s, 0, 0, 0);
    for (u32 t : types) typeset_set(&s, t);
    return s;
}

cell made(cell spec) {
    cell proto = datatype_of(type_id::typeset);
    return *act::handler<act::slot::make>(type_id::typeset)(&proto, &spec, type_id::typeset);
}

// Runs a set operation on two values through the frame, as the natives do.
cell operate(u32 code, cell a, cell b) {
    cell* base = stack::top;
    cell* saved_arguments = stack::arguments;
    stack::arguments = stack::top;
    stack::push_value(&a);
    stack::push_value(&b);
    typeset::set_op(code);
    cell r = *stack::arg(0);
    stack::arguments = saved_arguments;
    stack::top = base;
    return r;
}

bool member(cell set, u32 t) {
    cell d = datatype_of(t);
    return act::handler<act::slot::find>(type_id::typeset)(&set, &d, nullptr, false, false, false,
                                                           false, nullptr, nullptr, false, false,
                                                           false, false)
        ->w1;
}

} // namespace

TEST(Typesets, MakeFromBlocks) {
    // The words integer! and float! stand for their datatypes.
    cell int_word = *datatype::word_of(type_id::integer);
    cell float_word = *datatype::word_of(type_id::float_);
    cell int_type = datatype_of(type_id::integer), float_type = datatype_of(type_id::float_);
    context::set_word_value(&int_word, &int_type);
    context::set_word_value(&float_word, &float_type);
    cell s = made(block_of({int_word, float_word}));
    EXPECT_EQ(s.w2, 0u);
    EXPECT_EQ(s.w3, 0u);
    const u8* bytes = reinterpret_cast<const u8*>(&s.w1);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 0x18); // bits 11 and 12
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(typeset::count_types(&s), 2u);

    cell combined = made(
        block_of({set_of({type_id::block}), datatype_of(type_id::string), block_of({integer(1)})}));
    EXPECT_EQ(typeset::count_types(&combined), 2u);
    EXPECT_TRUE(member(combined, type_id::block));
    EXPECT_TRUE(member(combined, type_id::string));
    EXPECT_EQ(made(s).w2, s.w2);
    EXPECT_TRUE(
        raises(err::E("script", "invalid-type-spec"), [] { made(block_of({integer(1)})); }));
    EXPECT_TRUE(raises(err::E("script", "no-value"), [] { made(block_of({word("unset-word")})); }));
    EXPECT_TRUE(raises(err::E("script", "bad-to-arg"), [] { made(integer(3)); }));
}

TEST(Typesets, SetOperations) {
    cell a = set_of({type_id::integer, type_id::float_});
    cell b = set_of({type_id::float_, type_id::string});
    struct op_case {
        u32 code;
        std::initializer_list<u32> expected;
    };
    const op_case cases[] = {
        {typeset::op::or_, {type_id::integer, type_id::float_, type_id::string}},
        {typeset::op::union_, {type_id::integer, type_id::float_, type_id::string}},
        {typeset::op::and_, {type_id::float_}},
        {typeset::op::intersect, {type_id::float_}},
        {typeset::op::xor_, {type_id::integer, type_id::string}},
        {typeset::op::difference, {type_id::integer, type_id::string}},
        {typeset::op::exclude, {type_id::integer}},
        {typeset::op::unique, {type_id::integer, type_id::float_}},
    };
    for (const op_case& c : cases) {
        SCOPED_TRACE(c.code);
        cell r = operate(c.code, a, b);
        cell expected = set_of(c.expected);
        EXPECT_EQ(type_of(&r), type_id::typeset);
        EXPECT_TRUE(r.w1 == expected.w1 && r.w2 == expected.w2 && r.w3 == expected.w3);
    }
    cell with_string = operate(typeset::op::union_, a, datatype_of(type_id::string));
    EXPECT_TRUE(member(with_string, type_id::string));
    EXPECT_TRUE(raises(err::E("script", "invalid-arg"),
                       [&] { operate(typeset::op::union_, a, integer(1)); }));
}

TEST(Typesets, MembershipAndComplement) {
    cell all_but_unset;
    typeset::init_all_but_unset(&all_but_unset);
    EXPECT_FALSE(member(all_but_unset, type_id::unset));
    EXPECT_TRUE(member(all_but_unset, type_id::none));
    cell empty = set_of({});
    act::handler<act::slot::complement>(type_id::typeset)(&empty);
    for (u32 t = 1; t <= datatype::max_type_id(); t++) EXPECT_TRUE(member(empty, t));
    EXPECT_TRUE(raises(err::E("script", "invalid-arg"), [&] {
        cell v = integer(1);
        act::handler<act::slot::find>(type_id::typeset)(&empty, &v, nullptr, false, false, false,
                                                        false, nullptr, nullptr, false, false,
                                                        false, false);
    }));
}

TEST(Typesets, CompareAndMold) {
    auto cmp = [](cell a, cell b, i32 op) { return actions::compare_three_way(&a, &b, op); };
    cell one = set_of({type_id::block});
    cell two = set_of({type_id::integer, type_id::float_});
    EXPECT_EQ(cmp(two, set_of({type_id::float_, type_id::integer}), 0), 0);
    EXPECT_EQ(cmp(one, two, 0), 1);
    EXPECT_EQ(cmp(one, two, actions::compare_op::sort), -1);
    EXPECT_EQ(cmp(two, one, actions::compare_op::sort), 1);
    EXPECT_EQ(cmp(one, two, actions::compare_op::lesser), -2);
    EXPECT_EQ(cmp(one, integer(1), 0), -2);

    EXPECT_EQ(molded(two), "make typeset! [integer! float!]");
    EXPECT_EQ(formed(two), "make typeset! [integer! float!]");
    EXPECT_EQ(molded(two, true), "integer! float!");
    EXPECT_EQ(molded(set_of({})), "make typeset! []");
    EXPECT_EQ(molded(set_of({}), true), "");
    cell b = block_of({});
    gc::root keep_b(&b); // to_block grows it
    typeset::to_block(&two, &b);
    ASSERT_EQ(block_length(b), 2u);
    EXPECT_EQ(block_at(b, 0)->w2, datatype::word_of(type_id::integer)->w2);
}
