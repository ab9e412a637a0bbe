// integer!: the arithmetic kernel (overflow to float, division rules) and rounding.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/integer.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/registry.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"

using namespace zel;
namespace op = cores::op;

namespace {
struct arith_case {
    i32 a, b, operation;
    bool is_float;
    double expected;
};

// Expected values as Python computes them (float results where the 32-bit range or exact
// division is left).
const arith_case arith_cases[] = {
    {2147483647, 1, op::add, true, 2147483648.0},
    {-2147483648, 1, op::subtract, true, -2147483649.0},
    {65536, 65536, op::multiply, true, 4294967296.0},
    {-65536, 65536, op::multiply, true, -4294967296.0},
    {6, 3, op::divide, false, 2},
    {7, 2, op::divide, true, 3.5},
    {-7, 2, op::divide, true, -3.5},
    {-7, 2, op::remainder, false, -1},
    {7, -2, op::remainder, false, 1},
    {-2147483648, 1, op::remainder, false, 0},
    {12, 10, op::and_, false, 8},
    {12, 10, op::or_, false, 14},
    {12, 10, op::xor_, false, 6},
    {2147483647, -2147483648, op::add, false, -1},
};

u32 raised_code(void (*body)()) {
    try {
        body();
    } catch (const unwind&) {
        return error::last_code();
    }
    return 0;
}
} // namespace

TEST(Integer, ArithmeticKernel) {
    for (const auto& c : arith_cases) {
        cell r;
        init_integer(&r, c.a);
        integer::arith_op(c.a, c.b, c.operation, &r);
        if (c.is_float) {
            ASSERT_EQ(type_of(&r), type_id::float_) << c.a << " op" << c.operation << " " << c.b;
            EXPECT_EQ(float_of(&r), c.expected);
        } else {
            ASSERT_EQ(type_of(&r), type_id::integer) << c.a << " op" << c.operation << " " << c.b;
            EXPECT_EQ(int_of(&r), static_cast<i32>(c.expected));
        }
    }
    EXPECT_EQ(raised_code([] { integer::arith_op(1, 0, op::divide, nullptr); }),
              err::E("math", "zero-divide").code());
    EXPECT_EQ(raised_code([] { integer::arith_op(-2147483648, -1, op::divide, nullptr); }),
              err::E("math", "overflow").code());
    EXPECT_EQ(raised_code([] { integer::arith_op(-2147483648, -1, op::remainder, nullptr); }),
              err::E("math", "overflow").code());
}

TEST(Integer, Rounding) {
    auto round = act::handler<act::slot::round>(type_id::integer);
    struct row {
        i32 value, scale;
        const char* rule;
        i32 expected;
    };
    const row rows[] = {
        {15, 10, "", 20},
        {-15, 10, "", -20},
        {25, 10, "even", 20},
        {35, 10, "even", 40},
        {15, 10, "half-down", 10},
        {-11, 10, "floor", -20},
        {-11, 10, "ceiling", -10},
        {11, 10, "floor", 10},
        {14, -10, "", 10},
        {7, 0, "", 7},
        {-2147483648, 10, "", -2147483648},
        // Only the multiple picked must fit.
        {2147483647, 10, "down", 2147483640},
        {2147483647, 10, "floor", 2147483640},
    };
    for (const row& r : rows) {
        cell v, s;
        init_integer(&v, r.value);
        init_integer(&s, r.scale);
        std::string rule = r.rule;
        round(&v, &s, rule == "even", rule == "down", rule == "half-down", rule == "floor",
              rule == "ceiling", rule == "half-ceiling");
        EXPECT_EQ(int_of(&v), r.expected) << r.value << " " << r.scale << " " << rule;
    }
    EXPECT_EQ(raised_code([] {
                  cell v, s;
                  init_integer(&v, 2147483647);
                  init_integer(&s, 10);
                  act::handler<act::slot::round>(type_id::integer)(&v, &s, false, false, false,
                                                                   false, true, false);
              }),
              err::E("math", "overflow").code());
    EXPECT_EQ(raised_code([] {
                  cell v, s;
                  init_integer(&v, 5);
                  init_integer(&s, -2147483648);
                  act::handler<act::slot::round>(type_id::integer)(&v, &s, false, false, false,
                                                                   false, false, false);
              }),
              err::E("math", "overflow").code());
}

TEST(Integer, DecimalText) {
    EXPECT_EQ(integer::to_decimal_text(0), "0");
    EXPECT_EQ(integer::to_decimal_text(-2147483648), "-2147483648");
    EXPECT_EQ(integer::to_decimal_text(2147483647), "2147483647");
    EXPECT_EQ(integer::to_decimal_text(-45), "-45");
}
