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
