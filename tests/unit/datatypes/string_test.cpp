// string!: making, converting, forming, molding, comparing and path access.
#include <gtest/gtest.h>

#include "datatypes/registry.hpp"
#include "evaluator/actions.hpp"
#include "tests/unit/datatypes/string_fixture.hpp"

using namespace zel;
using namespace zel::test;
using namespace std::string_literals;

namespace {

class StringType : public text_fixture {
  protected:
    std::u32string molded(cell* value, bool all = false, cell* part = nullptr, i32 limit = 1000,
                          i32* left = nullptr) {
        cell* out = text(U"");
        i32 r = string_type::mold(value, out, false, all, false, part, limit, 0);
        if (left) *left = r;
        return whole(out);
    }
};

TEST_F(StringType, MakeFromASize) {
    cell* proto = none();
    string_type::make(proto, integer(0), type_id::string);
    EXPECT_EQ(type_of(proto), type_id::string);
    EXPECT_EQ(whole(proto), U"");
    EXPECT_GE(buffer_of(proto->w2)->size, 16u);
    string_type::make(proto, decimal(40.9), type_id::file);
    EXPECT_EQ(type_of(proto), type_id::file);
    EXPECT_GE(buffer_of(proto->w2)->size, 40u);

    EXPECT_EQ(raised([&] { string_type::make(proto, integer(-1), type_id::string); }),
              code(err::E("script", "out-of-range")));
    EXPECT_EQ(raised([&] { string_type::make(proto, decimal(3e9), type_id::string); }),
              code(err::E("script", "out-of-range")));
    EXPECT_EQ(raised([&] { string_type::make(proto, opaque(type_id::money), type_id::binary); }),
              code(err::E("script", "bad-make-arg")));
}

TEST_F(StringType, ToCopiesTextsFromTheHeadIntoTheTargetType) {
    for (u32 unit : {1u, 2u, 4u}) {
        cell* source = text(U"abc", unit, 1, type_id::url);
        cell* proto = none();
        string_type::to(proto, source, type_id::file);
        EXPECT_EQ(type_of(proto), type_id::file);
        EXPECT_EQ(whole(proto), U"bc");
        EXPECT_NE(proto->w2, source->w2);
    }
}

TEST_F(StringType, ToDecodesBinaryAsStrictUtf8) {
    struct row {
        const char* hex;
        std::u32string text; // empty: invalid
    };
    const row rows[] = {
        {"C3A9", U"\u00E9"}, {"41E282AC", U"A\u20AC"}, {"F09F9880", U"\U0001F600"},
        {"FF", U""},         {"41E282", U""},          {"C0", U""},
    };
    for (const row& r : rows) {
        cell* proto = none();
        cell* bin = binary(from_hex(r.hex));
        if (r.text.empty()) {
            EXPECT_EQ(raised([&] { string_type::to(proto, bin, type_id::string); }),
                      code(err::E("access", "invalid-utf8")))
                << r.hex;
        } else {
            string_type::to(proto, bin, type_id::string);
            EXPECT_EQ(whole(proto), r.text) << r.hex;
        }
    }
}

TEST_F(StringType, ToFormsOtherValues) {
    cell* b = text(U"b", 2);
    cell one, c;
    cell* blk = block({*init_integer(&one, 1), *b, *init_char(&c, 'c')});
    cell* proto = none();
    string_type::to(proto, blk, type_id::string);
    EXPECT_EQ(whole(proto), U"1bc");
    string_type::to(proto, integer(-12), type_id::tag);
    EXPECT_EQ(type_of(proto), type_id::tag);
    EXPECT_EQ(whole(proto), U"-12");
    EXPECT_EQ(raised([&] { string_type::to(proto, none(), type_id::file); }),
              code(err::E("script", "bad-to-arg")));
}

TEST_F(StringType, FormAppendsFromTheHeadWithinAPartLimit) {
    for (u32 unit : {1u, 2u, 4u}) {
        cell* out = text(U"x");
        cell* value = text(U"abc\u00E9", unit == 1 ? 2 : unit, 1);
        EXPECT_EQ(string_type::form(value, out, nullptr, 10), 7);
        EXPECT_EQ(whole(out), U"xbc\u00E9");
        cell* part = integer(5);
        EXPECT_EQ(string_type::form(value, out, part, 2), -1);
        EXPECT_EQ(whole(out), U"xbc\u00E9bc");
    }
}

TEST_F(StringType, MoldPicksDelimitersAndEscapes) {
    struct row {
        std::u32string in;
        bool all;
        std::u32string out;
    };
    const std::u32string x49(49, U'x'), x50(50, U'x');
    const row rows[] = {
        {U"abc", false, U"\"abc\""},
        {U"", false, U"\"\""},
        {U"a\"b", false, U"{a\"b}"},
        {x49, false, U"\"" + x49 + U"\""},
        {x50, false, U"{" + x50 + U"}"},
        {U"a\nb\nc", false, U"\"a^/b^/c\""},
        {U"a\nb\nc\nd", false, U"{a^/b^/c^/d}"},
        {U"\t{}^", false, U"\"^-{}^^\""},
        {U"\"\t\n^", false, U"{\"^-^/^^}"},
        {U"\"{x}", false, U"{\"{x}}"},
        {U"\"{x", false, U"{\"^{x}"},
        {U"\"}x{", false, U"{\"^}x^{}"},
        {U"\"{{a}", false, U"{\"^{^{a^}}"},
        {U"\"{a}{b", false, U"{\"{a}^{b}"},
        {U"{\"}", false, U"{{\"}}"},
        {U"\x1E\x7F\x85", false, U"\"^(1E)^~^(85)\""},
        {U"\x00\x1B\x1C\x1D\x1F"s, false, U"\"^@^[^\\^]^_\""},
        {U"\u00E9\u20AC", false, U"\"\u00E9\u20AC\""},
        {U"\u00E9\U0001F600", true, U"\"^(E9)^(1F600)\""},
        {U"\u00A0", false, U"\"\u00A0\""},
    };
    for (const row& r : rows)
        for (u32 unit : units_for(r.in)) {
            i32 left = 0;
            EXPECT_EQ(molded(text(r.in, unit), r.all, nullptr, 1000, &left), r.out)
                << utf8_of(r.in) << " unit " << unit;
            EXPECT_EQ(left, 1000 - static_cast<i32>(r.in.size()) - 2);
        }
}

TEST_F(StringType, MoldPartUsesTheRunningLimit) {
    i32 left = 0;
    EXPECT_EQ(molded(text(U"abcdef"), false, integer(3), 4, &left), U"\"abcd\"");
    EXPECT_EQ(left, -2);
    EXPECT_EQ(molded(text(U"abcdef"), false, integer(0), 4, &left), U"\"abcdef\"");
    EXPECT_EQ(molded(text(U"abcdef"), false, integer(3), -1, &left), U"\"\"");
    // Delimiters come from the range molded, the length rule from the whole value.
    std::u32string long_text = U"ab\"" + std::u32string(60, U'y');
    EXPECT_EQ(molded(text(long_text), false, integer(2), 2, &left), U"{ab}");
}

TEST_F(StringType, CompareFoldsCaseExceptStrictAndCaseSort) {
    namespace op = actions::compare_op;
    struct row {
        std::u32string a, b;
        u32 type_b;
        i32 op;
        i32 result;
    };
    const row rows[] = {
        {U"abc", U"ABC", type_id::string, op::equal, 0},
        {U"abc", U"ABC", type_id::string, op::strict_equal, 1},
        {U"abc", U"abd", type_id::string, op::lesser, -1},
        {U"abc", U"ab", type_id::string, op::sort, 1},
        {U"B", U"a", type_id::string, op::sort, 1},
        {U"B", U"a", type_id::string, op::case_sort, -1},
        {U"\u00E9", U"\u00C9", type_id::string, op::equal, 0},
        {U"abc", U"abc", type_id::file, op::equal, 0},
        {U"abc", U"abd", type_id::file, op::not_equal, -1},
        {U"abc", U"abc", type_id::file, op::lesser, -2},
        {U"abc", U"abc", type_id::file, op::strict_equal, -2},
    };
    for (const row& r : rows)
        for (u32 ua : units_for(r.a)) {
            cell* a = text(r.a, ua);
            cell* b = text(r.b, units_for(r.b).back(), 0, r.type_b);
            EXPECT_EQ(string_type::compare(a, b, r.op), r.result)
                << utf8_of(r.a) << " op " << r.op << " " << utf8_of(r.b);
        }
    EXPECT_EQ(string_type::compare(text(U"1"), integer(1), 0), -2);
}

TEST_F(StringType, EvalPathSelectsAfterAnElement) {
    path_step step;
    cell* s = text(U"a=1;b=2");
    cell* got = string_type::eval_path(s, character('='), nullptr, step);
    ASSERT_EQ(type_of(got), type_id::char_);
    EXPECT_EQ(got->w2, u32('1'));
    EXPECT_EQ(string_type::eval_path(s, text(U"b="), nullptr, step)->w2, u32('2'));
    EXPECT_TRUE(is_none(string_type::eval_path(s, text(U"c="), nullptr, step)));
    EXPECT_EQ(whole(s), U"a=1;b=2");
    EXPECT_EQ(raised([&] { string_type::eval_path(s, opaque(type_id::word), nullptr, step); }),
              code(err::E("script", "invalid-path")));
    EXPECT_EQ(raised([&] { string_type::eval_path(s, character('x'), character('y'), step); }),
              code(err::E("script", "bad-path-set")));
}

TEST_F(StringType, RowInheritsPositionSlotsAndLeavesMathUndefined) {
    EXPECT_EQ(act::handler<act::slot::mold>(type_id::string), &string_type::mold);
    EXPECT_EQ(act::handler<act::slot::add>(type_id::string), nullptr);
    EXPECT_EQ(act::handler<act::slot::put>(type_id::string), nullptr);
    EXPECT_EQ(act::handler<act::slot::read>(type_id::string), nullptr);
    EXPECT_EQ(act::handler<act::slot::pick>(type_id::string),
              act::handler<act::slot::pick>(type_id::series));
}

} // namespace
