// The evaluation cache: cached code gives what the general path gives, and the records never
// outlive what they were made from (a changed cell, a collection).
#include "tests/unit/evaluator/eval_fixture.hpp"

#include <string>

#include "evaluator/code_cache.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"

namespace zel {
namespace {

// Runs a block of the text three times (the later runs take the cached paths); answers its node.
u32 warm(gc::rooted_cell* holder, std::string_view text) {
    holder->value = test::load(text);
    for (int i = 0; i < 3; i++) {
        cell* at = stack::push_value(&holder->value);
        interp::evaluate_block(at, false);
        stack::top = at;
    }
    return holder->value.w2;
}

TEST(CodeCache, IntegerOperatorsInCachedCodeAgreeWithTheActions) {
    struct row {
        const char* expression;
        const char* molded;
    };
    const row rows[] = {
        {"2147483647 + 1", "2147483648.0"}, {"-2147483648 - 1", "-2147483649.0"},
        {"65536 * 65536", "4294967296.0"},  {"7 / 2", "3.5"},
        {"6 / 3", "2"},                     {"-7 // 2", "1"},
        {"1 + 2 * 3", "9"},                 {"3 < 4", "true"},
        {"x + 1", "42"},                    {"x * x", "1681"},
        {"x > y", "true"},                 {"(x - 1) / (y - 1)", "40"},
    };
    for (const row& r : rows) {
        std::string text = std::string("x: 41 y: 2 r: none loop 3 [r: ") + r.expression + "] r";
        EXPECT_TRUE(test::gives(text, r.molded)) << r.expression;
    }
    // The errors of the operators are raised on the first pass and on a later one alike.
    EXPECT_TRUE(test::raises("d: 1 loop 3 [r: 1 / d d: d - 1]", err::E("math", "zero-divide")));
    EXPECT_TRUE(test::raises("d: -1 loop 3 [r: -2147483648 / d]", err::E("math", "overflow")));
    EXPECT_TRUE(
        test::raises("v: 1 loop 3 [r: v < 2 v: none]", err::E("script", "invalid-compare")));
}

TEST(CodeCache, AChangedCellDropsTheShapesThatCoverIt) {
    gc::rooted_cell holder;
    u32 node = warm(&holder, "x: 1 y: x + 1");
    code_cache::block* b = code_cache::of(node);
    ASSERT_NE(b, nullptr);
    ASSERT_GE(b->count, 6u);
    const cell* code = head_cell(buffer_of(node));
    code_cache::record* r = code_cache::at(b, 2, code + 2);
    ASSERT_NE(r->shape, code_cache::shape::unknown); // `y: x + 1` was worked out
    // The literal 1 after the operator becomes 2: the next look at it drops the assignment's
    // shape, which covers it.
    cell* one = head_cell(buffer_of(node)) + 5;
    init_integer(one, 2);
    code_cache::at(b, 5, one);
    EXPECT_EQ(b->records[2].shape, code_cache::shape::unknown);
    EXPECT_TRUE(test::gives("x: 1 y: x + 1 y", "2"));
}

TEST(CodeCache, ACollectionDropsEveryRecord) {
    gc::rooted_cell holder;
    u32 node = warm(&holder, "n: 1 n: n + 1");
    code_cache::block* b = code_cache::of(node);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(code_cache::same(&b->records[0].copy, head_cell(buffer_of(node))));
    u32 before = code_cache::generation;
    gc::run_collection();
    EXPECT_NE(code_cache::generation, before);
    b = code_cache::of(node);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->records[0].copy.header, 0xFFFFFFFFu); // made again on its next use
}

TEST(CodeCache, LongBlocksAreNotCached) {
    std::string text;
    for (u32 i = 0; i <= code_cache::max_cells; i++) text += "1 ";
    gc::rooted_cell holder;
    u32 node = warm(&holder, text);
    EXPECT_EQ(code_cache::of(node), nullptr);
}

} // namespace
} // namespace zel
