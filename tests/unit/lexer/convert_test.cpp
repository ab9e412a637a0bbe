// The string-to-value parsers over text units of every width, with their error codes.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "datatypes/text_units.hpp"
#include "lexer/convert.hpp"
#include "tests/unit/lexer/lexer_helpers.hpp"

using namespace zel;

namespace {

std::vector<u8> units(std::u32string_view text, u32 unit) {
    std::vector<u8> out(text.size() * unit + 1);
    for (std::size_t i = 0; i < text.size(); i++) text_units::write(&out[i * unit], unit, text[i]);
    return out;
}

} // namespace

TEST(Convert, StringToInteger) {
    struct row {
        std::u32string text;
        i32 value;
        i32 error;
    } rows[] = {{U"123", 123, 0},
                {U"1'000", 1000, 0},
                {U"+7", 7, 0},
                {U"-2147483648", -2147483647 - 1, 0},
                {U"2147483647", 2147483647, 0},
                {U"'1", 1, 0},
                {U"12a", 12, -1},
                {U"-12a", -12, -1},
                {U"", 0, -1},
                {U"+", 0, -1},
                {U"'", 0, -1},
                {U"2147483648", 0, -2},
                {U"-21474836480", 0, -2},
                {U"99999999999999999999", 0, -2}};
    for (u32 unit : {1u, 2u, 4u})
        for (const row& r : rows) {
            auto text = units(r.text, unit);
            i32 error = 99;
            i32 v = convert::string_to_integer(text.data(), u32(r.text.size()), unit, error);
            EXPECT_EQ(error, r.error) << unit;
            EXPECT_EQ(v, r.value) << unit;
        }
}

TEST(Convert, StringToFloat) {
    struct row {
        std::u32string text;
        double value; // NaN for error -1
    } rows[] = {{U"1,5", 1.5},
                {U"1'000.25", 1000.25},
                {U"-2.5e3", -2500.0},
                {U"0.1", 0.1},
                {U".5", 0.5},
                {U"1.2.3", NAN},
                {U"abc", NAN},
                {U"1e", NAN},
                {U"\u0100", NAN},
                {U"1''0", NAN},
                {U"", NAN}};
    for (u32 unit : {1u, 2u, 4u})
        for (const row& r : rows) {
            auto text = units(r.text, unit);
            i32 error = 99;
            double v = convert::string_to_float(text.data(), u32(r.text.size()), unit, error);
            if (std::isnan(r.value)) {
                EXPECT_EQ(error, -1);
                EXPECT_TRUE(std::isnan(v));
            } else {
                EXPECT_EQ(error, 0);
                EXPECT_EQ(v, r.value);
            }
        }
    std::u32string long_text(313, U'1');
    auto text = units(long_text, 1);
    i32 error;
    EXPECT_TRUE(std::isnan(convert::string_to_float(text.data(), 313, 1, error)));
    EXPECT_EQ(error, -1);
    EXPECT_FALSE(std::isnan(convert::string_to_float(text.data(), 312, 1, error)));
    EXPECT_EQ(error, 0);
}

TEST(Convert, StringToMoney) {
    struct row {
        std::u32string text;
        const char* molded; // empty: error -1
    } rows[] = {{U"$1.50", "$1.50"},
                {U"USD$1.50", "USD$1.50"},
                {U"-EUR$1'000.00", "-EUR$1000.00"},
                {U"12.5", "$12.50"},
                {U"+$3", "$3.00"},
                {U"USD1.50", ""},
                {U"$.5", ""},
                {U"$1.", ""},
                {U"$1'", ""},
                {U"$'1", ""},
                {U"$1''0", ""},
                {U"$1.5'0", ""},
                {U"$1,50", ""},
                {U"$", ""},
                {U"", ""},
                {U"XYZ$1", ""},
                {U"US$1", ""}};
    for (u32 unit : {1u, 2u, 4u})
        for (const row& r : rows) {
            auto text = units(r.text, unit);
            i32 error = 99;
            cell result;
            init_none(&result);
            convert::string_to_money(text.data(), u32(r.text.size()), unit, error, &result);
            if (!*r.molded) {
                EXPECT_EQ(error, -1) << unit;
                continue;
            }
            EXPECT_EQ(error, 0) << unit;
            EXPECT_EQ(test::molded(result), r.molded) << unit;
        }
}

TEST(Convert, FloatSyntax) {
    for (const char* ok : {"1", "-1", "+-1", "1.", ".5", "1'0", "1'", "1.5e10", "1e+5", "1.2'3"})
        EXPECT_TRUE(convert::float_syntax_ok(ok)) << ok;
    for (const char* bad : {"", "e5", "1e", "1.5.", "1''0", "1.e5", "1e5.", "a", "1,5", "1e5'"})
        EXPECT_FALSE(convert::float_syntax_ok(bad)) << bad;
}
