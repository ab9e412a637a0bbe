// The interpreter end to end: source text loaded and evaluated.
#include <gtest/gtest.h>

#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/unicode.hpp"

using namespace zel;

namespace {
std::string eval_mold(const char* source) {
    cell code;
    if (!load_text::block_from_text(source, &code)) return "<load failed>";
    cell* holder = stack::push_value(&code);
    stack::mark m = stack::save();
    std::string result;
    try {
        interp::evaluate_block(holder, false);
        cell value = *(stack::top - 1);
        cell out;
        out::new_string(&out);
        cell* o = stack::push_value(&out);
        actions::mold_typed(&value, o, false, false, false, nullptr, 1 << 20, 0);
        result = utf8::encode_string(o);
    } catch (const unwind& u) {
        stack::restore(m);
        result = "<error " + std::to_string(error::last_code()) + ">";
    }
    stack::top = holder;
    return result;
}
} // namespace

TEST(InterpSmoke, Basics) {
    EXPECT_EQ(eval_mold("+: make op! :add  *: make op! :multiply  1 + 2 * 3"), "9");
    EXPECT_EQ(eval_mold("x: 10 y: x"), "10");
    EXPECT_EQ(eval_mold("f: func [a b] [a + b] f 3 4"), "7");
    EXPECT_EQ(eval_mold("b: [1 2 3] b/2"), "2");
    EXPECT_EQ(eval_mold("negate 1 + 2"), "-3");
    EXPECT_EQ(eval_mold("undefined-word"), "<error 300>");
}

#include "eval_fixture.hpp"

// Operators on two integers take a shorter road; it must give what the actions give.
TEST(InterpSmoke, IntegerOperatorsAgreeWithTheActions) {
    struct row {
        const char* source;
        const char* molded;
    };
    const row rows[] = {
        {"2147483647 + 1", "2147483648.0"},   {"-2147483648 - 1", "-2147483649.0"},
        {"65536 * 65536", "4294967296.0"},    {"7 / 2", "3.5"},
        {"6 / 3", "2"},                       {"-7 // 2", "1"},
        {"1 + 2 * 3", "9"},                   {"3 < 4", "true"},
        {"4 <= 4", "true"},                   {"5 = 5.0", "true"},
        {"1 + 2.5", "3.5"},                   {"2 == 2", "true"},
    };
    for (const row& r : rows) EXPECT_TRUE(test::gives(r.source, r.molded)) << r.source;
    EXPECT_TRUE(test::raises("1 / 0", err::E("math", "zero-divide")));
    EXPECT_TRUE(test::raises("-2147483648 / -1", err::E("math", "overflow")));
    EXPECT_TRUE(test::raises("1 < none", err::E("script", "invalid-compare")));
}

// Closing a frame leaves the caller's values alone: the result (if kept) sits where the callee's
// values began, and a dropping close lowers the top to exactly there, not below the caller's.
TEST(InterpSmoke, ClosingAFrameKeepsTheCallersValues) {
    struct row {
        const char* name;
        void (*close)();
        bool function_frame;
        long top_after; // cells above the callee's start
    };
    const row rows[] = {
        {"close_frame", stack::close_frame, false, 1},
        {"close_frame_drop", stack::close_frame_drop, false, 0},
        {"close_function_frame_drop", stack::close_function_frame_drop, true, 0},
    };
    for (const row& r : rows) {
        stack::mark m = stack::save();
        cell one, two;
        init_integer(&one, 1);
        init_integer(&two, 2);
        stack::open_native_frame(nullptr);
        cell* caller_args = stack::arguments;
        stack::push_value(&one);
        stack::push_value(&two); // a value of the caller above its result slot
        cell* callee_start = stack::top;
        if (r.function_frame)
            stack::open_function_frame(nullptr, 0);
        else
            stack::open_native_frame(nullptr);
        stack::push_value(&two);
        stack::push_value(&two);
        r.close();
        EXPECT_EQ(stack::arguments, caller_args) << r.name;
        EXPECT_EQ(stack::top - callee_start, r.top_after) << r.name;
        stack::restore(m);
    }
}
