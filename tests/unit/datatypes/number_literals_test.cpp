// Form and mold of the number-like literals: pair!, tuple!, point2D!/point3D!, percent!,
// triple!, time! (also against Python's timedelta) and money!.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/point.hpp"
#include "datatypes/time.hpp"
#include "datatypes/triple.hpp"
#include "datatypes/tuple.hpp"
#include "literal_helpers.hpp"
#include "tests/unit/library/library_fixture.hpp"

namespace zel {
namespace {

using test::form_text;
using test::mold_text;

cell fresh() {
    return cell{0, 0, 0, 0};
}

TEST(PairText, FormAndMoldGiveXThenY) {
    struct row {
        i32 x, y;
        const char* text;
    } rows[] = {
        {10, 20, "10x20"}, {-5, 0, "-5x0"}, {INT32_MIN, INT32_MAX, "-2147483648x2147483647"}};
    for (const row& r : rows) {
        cell p = fresh();
        pair::init_cell(&p, r.x, r.y);
        EXPECT_EQ(mold_text(p), r.text);
        EXPECT_EQ(form_text(p), r.text);
    }
}

TEST(PairText, MakerKeepsTheSlotsFlagBits) {
    cell p{cell_flag::newline | type_id::integer, 7, 7, 7};
    pair::init_cell(&p, 1, 2);
    EXPECT_EQ(p.header, cell_flag::newline | type_id::pair);
    EXPECT_EQ(p.w1, 0u);
}

TEST(TupleText, ElementsJoinedByPoints) {
    const u8 bytes[12] = {1, 2, 3, 255, 0, 128, 9, 10, 11, 12, 13, 14};
    struct row {
        u32 n;
        const char* text;
    } rows[] = {{3, "1.2.3"}, {4, "1.2.3.255"}, {12, "1.2.3.255.0.128.9.10.11.12.13.14"}};
    for (const row& r : rows) {
        cell t = fresh();
        tuple::init_cell(&t, bytes, r.n);
        EXPECT_EQ(tuple::length_of(&t), r.n);
        EXPECT_EQ(mold_text(t), r.text);
        EXPECT_EQ(form_text(t), r.text);
    }
    cell zero = fresh();
    const u8 zeros[3] = {};
    tuple::init_cell(&zero, zeros, 3);
    EXPECT_EQ(mold_text(zero), "0.0.0");
}

TEST(TupleText, PushNewTakesLittleEndianWordsAndZeroesTheRest) {
    stack::mark m = stack::save();
    cell* t = tuple::push_new(5, 0x04030201, 0xAABBCC05, 0xFFFFFFFF);
    EXPECT_EQ(mold_text(*t), "1.2.3.4.5");
    EXPECT_EQ(t->w2, 5u); // bytes past the length are 0
    EXPECT_EQ(t->w3, 0u);
    stack::restore(m);
}

TEST(PointText, CoordinatesInSevenDigits) {
    cell p = fresh();
    point2d::init_cell(&p, 1.0f, 2.5f);
    EXPECT_EQ(mold_text(p), "(1, 2.5)");
    point2d::init_cell(&p, 0.1f, -3.0f);
    EXPECT_EQ(form_text(p), "(0.1, -3)");
    point2d::init_cell(&p, std::numeric_limits<float>::infinity(), std::nanf(""));
    EXPECT_EQ(mold_text(p), "(1.#INF, 1.#NaN)");
    point2d::init_cell(&p, 1e-5f, 123456789.0f);
    EXPECT_EQ(mold_text(p), "(1e-5, 1.234568e8)");
    cell q = fresh();
    point3d::init_cell(&q, 1, 2, 3);
    EXPECT_EQ(mold_text(q), "(1, 2, 3)");
    EXPECT_EQ(q.w3, std::bit_cast<u32>(3.0f));
}

TEST(PercentText, FractionTimesHundred) {
    struct row {
        double fraction;
        const char* text;
    } rows[] = {
        {0.5, "50%"},
        {0.125, "12.5%"},
        {1.0, "100%"},
        {-0.25, "-25%"},
        {0.001, "0.1%"},
        {1.0 / 3, "33.33333333333%"},
        // The literal syntax has no exponent before "%": such values are written out.
        {1e-9, "0.0000001%"},
        {-1.5e-8, "-0.0000015%"},
        {1e15, "100000000000000000%"},
        {std::numeric_limits<double>::infinity(), "1.#INF"},
        {std::nan(""), "1.#NaN"},
    };
    for (const row& r : rows) {
        cell p = fresh();
        percent::init_cell(&p, r.fraction);
        EXPECT_EQ(mold_text(p), r.text) << r.fraction;
        EXPECT_EQ(form_text(p), r.text) << r.fraction;
    }
    cell halves = fresh();
    double half = 0.5;
    u64 bits = std::bit_cast<u64>(half);
    percent::init_cell_halves(&halves, static_cast<u32>(bits), static_cast<u32>(bits >> 32));
    EXPECT_EQ(mold_text(halves), "50%");
}

TEST(TripleText, MakeTripleBlock) {
    cell t = fresh();
    triple::init_cell(&t, 1, -2, 3);
    EXPECT_EQ(mold_text(t), "make triple! [1 -2 3]");
    triple::init_cell(&t, 0, INT32_MIN, 0);
    EXPECT_EQ(form_text(t), "make triple! [0 -2147483648 0]");
}

TEST(TimeText, HoursMinutesSeconds) {
    struct row {
        double seconds;
        const char* text;
    } rows[] = {
        {0, "0:00:00"},
        {3723.5, "1:02:03.5"},
        {-5400, "-1:30:00"},
        {360000, "100:00:00"},
        {0.0000001, "0:00:00"},
        {5.25, "0:00:05.25"},
        {0.001, "0:00:00.001"},
        {59.123456789, "0:00:59.1235"},
        // Seconds that round up to 60 carry into the minute instead of showing ":60".
        {59.9999999, "0:01:00"},
        {3599.9999999, "1:00:00"},
        {-86399.99999999, "-24:00:00"},
        {1e13, "2777777777:46:40"},
    };
    for (const row& r : rows) {
        cell t = fresh();
        time::init_cell(&t, r.seconds);
        EXPECT_EQ(mold_text(t), r.text) << r.seconds;
        EXPECT_EQ(form_text(t), r.text) << r.seconds;
    }
}

TEST(TimeText, FieldsTruncateTowardZero) {
    EXPECT_EQ(time::hours_of(-5400), -1);
    EXPECT_EQ(time::minutes_of(-5400), 30);
    EXPECT_EQ(time::hours_of(3723.5), 1);
    EXPECT_EQ(time::minutes_of(3723.5), 2);
}

TEST(TimeText, AgreesWithPythonTimedelta) {
    auto lines = test::literal_oracle("times");
    if (lines.empty()) GTEST_SKIP() << "python3 not available";
    for (const std::string& line : lines) {
        auto f = test::fields(line, '|');
        cell t = fresh();
        time::init_cell(&t, std::strtod(f[0].c_str(), nullptr));
        EXPECT_EQ(mold_text(t), f[1]) << line;
    }
}

TEST(TimeText, MakersKeepTheNewLineMarkOnly) {
    cell t{cell_flag::newline | 0x4000 | type_id::integer, 1, 1, 1};
    time::init_cell(&t, 1.5);
    EXPECT_EQ(t.header, cell_flag::newline | type_id::time);
    EXPECT_EQ(float_of(&t), 1.5);
}

struct money_row {
    bool negative;
    const char* currency;
    const char* integral;
    const char* fraction;
    const char* form;
    const char* mold;
    const char* mold_all;
};

TEST(MoneyText, FormGroupsMoldDoesNotMoldAllShowsFiveDigits) {
    money_row rows[] = {
        {false, "", "1234", "5", "$1'234.50", "$1234.50", "$1234.50000"},
        {true, "EUR", "3", "", "-EUR$3.00", "-EUR$3.00", "-EUR$3.00000"},
        {false, "usd", "1'000", "25", "USD$1'000.25", "USD$1000.25", "USD$1000.25000"},
        {false, "", "0", "00001", "$0.00", "$0.00", "$0.00001"},
        {true, "", "0", "", "$0.00", "$0.00", "$0.00000"}, // a negative zero shows no sign
        {false, "", "99999999999999999", "99999", "$99'999'999'999'999'999.99",
         "$99999999999999999.99", "$99999999999999999.99999"},
        {false, "", "0000000000000000000042", "1234567", "$42.12", "$42.12", "$42.12345"},
    };
    for (const money_row& r : rows) {
        cell m = fresh();
        ASSERT_TRUE(money::init_cell_from_text(&m, r.negative, r.currency, r.integral, r.fraction))
            << r.integral;
        EXPECT_EQ(form_text(m), r.form);
        EXPECT_EQ(mold_text(m), r.mold);
        EXPECT_EQ(mold_text(m, {.all = true}), r.mold_all);
    }
}

TEST(MoneyText, MakerRefusesUnknownCodesAndTooManyDigits) {
    cell m{type_id::integer, 0, 9, 0};
    EXPECT_FALSE(money::init_cell_from_text(&m, false, "XXX", "1", ""));
    EXPECT_FALSE(money::init_cell_from_text(&m, false, "", "123456789012345678", ""));
    EXPECT_FALSE(money::init_cell_from_text(&m, false, "", "1x", ""));
    EXPECT_EQ(type_of(&m), type_id::integer); // untouched
    EXPECT_EQ(money::find_currency("AED"), 1);
    EXPECT_EQ(money::find_currency("zmw"), 170);
    EXPECT_EQ(money::find_currency("ZZZ"), -1);
}

TEST(MoneyText, LayoutOfTheCell) {
    cell m = fresh();
    ASSERT_TRUE(money::init_cell_from_text(&m, true, "AFN", "12", "5"));
    const u8* bytes = reinterpret_cast<const u8*>(&m.w1);
    EXPECT_EQ(m.header, type_id::money | money::sign_bit);
    EXPECT_EQ(bytes[0], 2);    // AFN is the second currency
    EXPECT_EQ(bytes[8], 0x01); // positions 15-16
    EXPECT_EQ(bytes[9], 0x25); // positions 17-18: units 2, tenths 5
    cell copy = fresh();
    money::init_cell(&copy, true, 2, bytes + 1);
    EXPECT_EQ(std::memcmp(&copy, &m, sizeof(cell)), 0);
}

// The digits shown follow system/options/money-digits as the user sets it.
TEST(MoneyText, FractionDigitsFollowTheOption) {
    cell m = fresh();
    ASSERT_TRUE(money::init_cell_from_text(&m, false, "", "1234567", "12345"));
    struct row {
        const char* setting;
        const char* formed;
        const char* molded;
    } rows[] = {
        {"0", "$1'234'567", "$1234567"},
        {"9", "$1'234'567.123'45", "$1234567.12345"},
        {"4", "$1'234'567.123'4", "$1234567.1234"},
        {"-1", "$1'234'567", "$1234567"},
        {"none", "$1'234'567.12", "$1234567.12"},
    };
    for (const row& r : rows) {
        libtest::run(std::string("system/options/money-digits: ") + r.setting);
        EXPECT_EQ(form_text(m), r.formed) << r.setting;
        EXPECT_EQ(mold_text(m), r.molded) << r.setting;
        EXPECT_EQ(mold_text(m, {.all = true}), "$1234567.12345") << r.setting;
    }
    libtest::run("system/options/money-digits: 2");
}

} // namespace
} // namespace zel
