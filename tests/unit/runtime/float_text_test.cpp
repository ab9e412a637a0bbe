// Float/text conversion: layouts, digit modes, parsing forms, and a large sample checked against
// Python's repr, float() and % formatting (tests/unit/runtime/float_text_oracle.py).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "runtime/arena.hpp"
#include "runtime/float_text.hpp"
#include "tests/unit/command_output.hpp"

using namespace zel;
using namespace zel::float_text;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

double parse(std::string_view t, std::size_t& left, int extra = 0) {
    return text_to_float(t.data(), t.data() + t.size(), extra, left);
}

double parse(std::string_view t) {
    std::size_t left;
    return parse(t, left);
}

// Lines the oracle script prints for one mode; none when python3 cannot be started.
std::vector<std::string> oracle(const char* mode) {
    std::string cmd =
        std::string("python3 " ZEL_SOURCE_DIR "/tests/unit/runtime/float_text_oracle.py ") + mode +
        " 2>/dev/null";
    int status = 0;
    std::vector<std::string> lines = test::command_lines(cmd, &status);
    if (status == -1) return lines;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        lines.clear(); // no python3
    else
        EXPECT_EQ(status, 0) << "the oracle script failed";
    return lines;
}

double from_hex_bits(const std::string& hex) {
    return std::bit_cast<double>(static_cast<u64>(std::stoull(hex, nullptr, 16)));
}

} // namespace

TEST(FloatText, MoldLayout) {
    struct row {
        double value;
        int limit;
        bool zero_form;
        const char* text;
    };
    const row rows[] = {
        {0.1, 0, true, "0.1"},
        {100.0, 0, true, "100.0"},
        {100.0, 0, false, "100"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e17, 0, true, "1.0e17"},
        {1e17, 0, false, "1e17"},
        {1.5e20, 0, true, "1.5e20"},
        {-1.5e300, 0, true, "-1.5e300"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {-2.5e-8, 0, true, "-2.5e-8"},
        {0.00015, 0, true, "0.00015"},
        {0.1 + 0.2, 0, true, "0.30000000000000004"},
        {123456.789, 0, true, "123456.789"},
        {-0.5, 0, true, "-0.5"},
        {0.0, 0, true, "0.0"},
        {-0.0, 0, true, "-0.0"},
        {0.0, 0, false, "0"},
        {-0.0, 0, false, "-0"},
        {5e-324, 0, true, "5.0e-324"},
        {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
        {inf, 0, true, "1.#INF"},
        {-inf, 0, false, "-1.#INF"},
        {std::nan(""), 0, true, "1.#NaN"},
        {-std::nan(""), 0, true, "1.#NaN"},
        // time seconds: six digits, no ".0"
        {5.0, 6, false, "5"},
        {12.3456789, 6, false, "12.3457"},
        {59.9999999, 6, false, "60"},
        {0.000001234567, 6, false, "0.00000123457"},
        // money: twenty-two digits
        {0.1, 22, true, "0.1000000000000000055511"},
        {1e21, 22, true, "1.0e21"},
    };
    for (const row& r : rows)
        EXPECT_EQ(format_float(r.value, r.limit, r.zero_form).view(), r.text)
            << r.value << " limit " << r.limit << " zero form " << r.zero_form;
}

TEST(FloatText, DigitsPointAndSign) {
    digits d = float_to_digits(-1.5, 0, true);
    EXPECT_EQ(d.text(), "-15");
    EXPECT_EQ(d.point, 1);
    EXPECT_EQ(d.count, 2);
    EXPECT_TRUE(d.negative);

    d = float_to_digits(0.00015, 0, true);
    EXPECT_EQ(d.text(), "15");
    EXPECT_EQ(d.point, -3);

    EXPECT_EQ(float_to_digits(inf, 0, true).point, special_point);
    EXPECT_EQ(float_to_digits(-inf, 0, true).text(), "-1.#INF");
    EXPECT_EQ(float_to_digits(-0.0, 0, false).point, zero_point);
    EXPECT_EQ(float_to_digits(-0.0, 0, false).text(), "-0");

    // A result belongs to its value: a later conversion does not change an earlier one.
    digits first = float_to_digits(0.1, 0, true);
    digits second = float_to_digits(0.2, 0, true);
    EXPECT_EQ(first.text(), "1");
    EXPECT_EQ(second.text(), "2");
}

TEST(FloatText, LimitedDigitsRoundHalfToEvenAndCarry) {
    struct row {
        double value;
        int limit;
        const char* text;
        int point;
    };
    const row rows[] = {
        {0.125, 2, "12", 0}, // exact tie, even stays
        {0.375, 2, "38", 0}, // exact tie, odd goes up
        {2.5, 1, "2", 1},    // tie on the integer quick path
        {3.5, 1, "4", 1},
        {250000000000001.0, 1, "3", 15}, // just above a tie
        {9.5, 1, "1", 2},                // carry through the digits
        {999999.5, 6, "1", 7},
        {0.3, 17, "29999999999999999", 0},
        {1e23, 0, "1", 24}, // the nearest double is below 10^23; 1e23 reads back
        {1e23, 17, "99999999999999992", 23},
        {std::ldexp(1.0, -1074), 0, "5", -323},
    };
    for (const row& r : rows) {
        digits d = float_to_digits(r.value, r.limit, true);
        EXPECT_EQ(d.text(), r.text) << r.value << " limit " << r.limit;
        EXPECT_EQ(d.point, r.point) << r.value << " limit " << r.limit;
    }
    // Past the digit room the limit is capped instead of writing past it.
    digits d = float_to_digits(1.0 / 3, 200, true);
    EXPECT_EQ(d.count, max_digits);
    EXPECT_EQ(d.text(), "333333333333333314829616256247");
}

TEST(FloatText, GeneralFormat) {
    struct row {
        double value;
        int precision;
        const char* text;
    };
    const row rows[] = {
        {1e20, 16, "1e+20"},       {1.5e-7, 7, "1.5e-07"},
        {100.0, 16, "100"},        {0.0001, 16, "0.0001"},
        {0.00001, 16, "1e-05"},    {123456.0, 5, "1.2346e+05"},
        {99999.5, 5, "1e+05"},     {1.5e300, 13, "1.5e+300"},
        {0.1 + 0.2, 16, "0.3"},    {0.1 + 0.2, 17, "0.30000000000000004"},
        {-0.0, 16, "-0"},          {2.5, 0, "2"},
        {inf, 16, "inf"},          {-inf, 16, "-inf"},
        {std::nan(""), 16, "nan"},
    };
    for (const row& r : rows)
        EXPECT_EQ(format_general(r.value, r.precision).view(), r.text)
            << r.value << " precision " << r.precision;
}

TEST(FloatText, ParseForms) {
    struct row {
        const char* text;
        int extra;
        double value;
        std::size_t left;
    };
    const row rows[] = {
        {"1.#INF", 0, inf, 0},
        {"-1.#INF", 0, -inf, 0},
        {"+1.#inf", 0, inf, 0},
        {"1e309", 0, inf, 0},
        {"-1e309", 0, -inf, 0},
        {"1e-400", 0, 0.0, 0},
        {"1e99999999999999999999", 0, inf, 0}, // exponent far past any int
        {"1e-99999999999999999999", 0, 0.0, 0},
        {"0e99999", 0, 0.0, 0},
        {"+1.5", 0, 1.5, 0},
        {".5", 0, 0.5, 0},
        {"5.", 0, 5.0, 0},
        {"000123.4500", 0, 123.45, 0},
        {"-.25E+2", 0, -25.0, 0},
        {"50", -2, 0.5, 0}, // the extra exponent is exact, not a division
        {"0.3", 1, 3.0, 0},
        {"1e5x", 0, 1e5, 1},
        {"12abc", 0, 12.0, 3},
        {"1e", 0, 1.0, 1},   // an "e" with nothing after it is not used
        {"1e+", 0, 1.0, 2},  // nor one without exponent digits
        {"1.#X", 0, 1.0, 2}, // not a special form
        {"abc", 0, 0.0, 3},
        {"-", 0, 0.0, 1},
        {".", 0, 0.0, 1},
        {"", 0, 0.0, 0},
    };
    for (const row& r : rows) {
        std::size_t left = 99;
        double v = parse(r.text, left, r.extra);
        EXPECT_EQ(std::bit_cast<u64>(v), std::bit_cast<u64>(r.value)) << '"' << r.text << '"';
        EXPECT_EQ(left, r.left) << '"' << r.text << '"';
    }
    std::size_t left = 99;
    EXPECT_TRUE(std::isnan(parse("1.#NaN", left)));
    EXPECT_EQ(left, 0u);
    EXPECT_TRUE(std::signbit(parse("-1e-400")));
    EXPECT_TRUE(std::signbit(parse("-0")));

    // Only the given range is read.
    const char* text = "2.5e3";
    EXPECT_EQ(text_to_float(text, text + 3, 0, left), 2.5);
    EXPECT_EQ(left, 0u);
}

TEST(FloatText, ParseLongDigitStrings) {
    // Fifty significant digits, correctly rounded.
    EXPECT_EQ(parse("3.1415926535897932384626433832795028841971693993751"), M_PI);
    // Halfway between 1 and the next double, decided by a digit far past the kept ones.
    std::string half = "1.00000000000000011102230246251565404236316680908203125";
    EXPECT_EQ(parse(half), 1.0); // tie to even
    EXPECT_EQ(parse(half + std::string(2000, '0') + "1"), std::nextafter(1.0, 2.0));
    EXPECT_EQ(parse(half + std::string(2000, '0')), 1.0);
    // Leading zeros and a long integer part shift the exponent, not the digits.
    EXPECT_EQ(parse(std::string(3000, '0') + "1.5"), 1.5);
    EXPECT_EQ(parse("1" + std::string(400, '0') + "e-400"), 1.0);
    EXPECT_EQ(parse("0." + std::string(400, '0') + "1e401"), 1.0);
}

TEST(FloatTextOracle, ShortestAndFixedDigitsMatchPython) {
    std::vector<std::string> lines = oracle("doubles");
    if (lines.empty()) GTEST_SKIP() << "python3 is not available";
    const int precisions[] = {5, 7, 13, 14, 16, 17, 1};
    int failures = 0;
    for (const std::string& line : lines) {
        std::istringstream in(line);
        std::string bits, want_digits, fixed[7], want22;
        int want_point, want_point22;
        in >> bits >> want_digits >> want_point;
        for (auto& f : fixed) in >> f;
        in >> want22 >> want_point22;
        double x = from_hex_bits(bits);

        std::vector<std::string> errors;
        digits d = float_to_digits(std::fabs(x), 0, true);
        if (d.text() != want_digits || d.point != want_point)
            errors.push_back("shortest " + std::string(d.text()) + " point " +
                             std::to_string(d.point));
        for (int i = 0; i < 7; ++i)
            if (format_general(x, precisions[i]).view() != fixed[i])
                errors.push_back("%." + std::to_string(precisions[i]) + "g gives " +
                                 std::string(format_general(x, precisions[i]).view()));
        d = float_to_digits(std::fabs(x), 22, true);
        if (d.text() != want22 || d.point != want_point22)
            errors.push_back("22 digits " + std::string(d.text()));
        // The molded text reads back to the same double.
        formatted m = format_float(x, 0, true);
        std::size_t left = 99;
        double back = text_to_float(m.data, m.data + m.length, 0, left);
        if (std::bit_cast<u64>(back) != std::bit_cast<u64>(x) || left != 0)
            errors.push_back("mold " + std::string(m.view()) + " does not read back");
        for (const std::string& e : errors)
            if (++failures <= 20) ADD_FAILURE() << line << "\n  " << e;
    }
    EXPECT_EQ(failures, 0);
}

TEST(FloatTextOracle, ParsingMatchesPython) {
    std::vector<std::string> lines = oracle("texts");
    if (lines.empty()) GTEST_SKIP() << "python3 is not available";
    int failures = 0;
    for (const std::string& line : lines) {
        std::size_t space = line.rfind(' ');
        std::string_view text(line.data(), space);
        double want = from_hex_bits(line.substr(space + 1));
        std::size_t left = 99;
        double got = parse(text, left);
        if (std::bit_cast<u64>(got) != std::bit_cast<u64>(want) || left != 0)
            if (++failures <= 20)
                ADD_FAILURE() << text.substr(0, 120) << "\n  gives " << got << " left " << left;
    }
    EXPECT_EQ(failures, 0);
}
