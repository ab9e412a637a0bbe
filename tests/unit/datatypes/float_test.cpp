// float!: its text forms, tolerant equality and rounding.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/float.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/unicode.hpp"

using namespace zel;

namespace {
std::string molded(double d) {
    cell v, out;
    init_float(&v, d);
    out::new_string(&out);
    gc::root keep(&out); // growing the text may collect
    actions::mold_typed(&v, &out, false, false, false, nullptr, 100, 0);
    return utf8::encode_string(&out);
}
} // namespace

TEST(Float, FormTexts) {
    struct row {
        double value;
        int code;
        const char* text;
    };
    const row rows[] = {
        {100.0, float_::format::float_, "100.0"},
        {1e20, float_::format::float_, "1.0e20"},
        {1.5e-7, float_::format::float_, "1.5e-7"},
        {1e-17, float_::format::float_, "0.0"},
        {1e-17, float_::format::percent, "0%"},
        {0.1 + 0.2, float_::format::float_, "0.3"},
        {0.1 + 0.7, float_::format::float_, "0.8"},
        {1.0 / 0.0, float_::format::float_, "1.#INF"},
        {-1.0 / 0.0, float_::format::float_, "-1.#INF"},
        {std::nan(""), float_::format::percent, "1.#NaN"},
        {50.0, float_::format::percent, "50%"},
        {2.5, float_::format::coordinate, "2.5"},
        {3.0, float_::format::coordinate, "3"},
    };
    for (const row& r : rows) EXPECT_EQ(float_::text(r.value, r.code), r.text) << r.value;
    float_::pretty = false;
    EXPECT_EQ(float_::text(0.1 + 0.7, float_::format::float_), "0.7999999999999999");
    float_::pretty = true;
    EXPECT_EQ(molded(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(molded(100.0), "100.0");
}

TEST(Float, EqualityAndNegate) {
    cell a, b;
    init_float(&a, 0.1 + 0.2);
    init_float(&b, 0.3);
    EXPECT_TRUE(actions::compare(&a, &b, actions::compare_op::equal));
    EXPECT_FALSE(actions::compare(&a, &b, actions::compare_op::strict_equal));
    cell z;
    init_float(&z, 0.0);
    act::handler<act::slot::negate>(type_id::float_)(&z);
    EXPECT_FALSE(std::signbit(float_of(&z)));
}

TEST(Float, Rounding) {
    auto round = act::handler<act::slot::round>(type_id::float_);
    struct row {
        double value;
        const char* rule;
        double expected;
    };
    const row rows[] = {{2.5, "", 3.0},          {-2.5, "", -3.0},     {2.5, "even", 2.0},
                        {2.5, "half-down", 2.0}, {-2.7, "down", -2.0}, {2.4, "ceiling", 3.0}};
    for (const row& r : rows) {
        cell v;
        init_float(&v, r.value);
        std::string rule = r.rule;
        round(&v, nullptr, rule == "even", rule == "down", rule == "half-down", rule == "floor",
              rule == "ceiling", rule == "half-ceiling");
        EXPECT_EQ(float_of(&v), r.expected) << r.value << " " << rule;
    }
    cell v, scale;
    init_float(&v, 7.3);
    init_integer(&scale, 2);
    round(&v, &scale, false, false, false, false, false, false);
    EXPECT_EQ(type_of(&v), type_id::integer);
    EXPECT_EQ(int_of(&v), 8);
}
