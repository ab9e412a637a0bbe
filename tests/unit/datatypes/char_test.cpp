// char!: conversions, form and mold, comparison and range-checked arithmetic.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/char.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/registry.hpp"
#include "evaluator/actions.hpp"
#include "tests/unit/datatypes/string_fixture.hpp"

using namespace zel;
using namespace zel::test;

namespace {

class Char : public text_fixture {
  protected:
    // The code point made from a spec, or the error code (as a negative number).
    i64 to_char(cell* spec) {
        cell* proto = none();
        u32 e = raised([&] { char_::make(proto, spec, type_id::char_); });
        if (e) return -i64(e);
        EXPECT_EQ(type_of(proto), type_id::char_);
        return proto->w2;
    }
    // Runs the math on a frame whose arguments are the two operands.
    i64 math(u32 left, cell right_value, i32 operation) {
        cell* saved = stack::arguments;
        cell* frame = stack::top;
        cell l;
        stack::push_value(init_char(&l, left));
        stack::push_value(&right_value);
        stack::arguments = frame;
        u32 e = raised([&] { char_::math_op(operation); });
        cell result = *frame;
        stack::arguments = saved;
        if (e) {
            EXPECT_EQ(frame->w2, left) << "operand changed by a failed operation";
            return -i64(e);
        }
        EXPECT_EQ(type_of(&result), type_id::char_);
        return result.w2;
    }
};

const i64 out_of_range = -i64(code(err::E("script", "out-of-range")));
const i64 bad_to = -i64(code(err::E("script", "bad-to-arg")));
const i64 invalid_utf8 = -i64(code(err::E("access", "invalid-utf8")));
const i64 overflow = -i64(code(err::E("math", "overflow")));

TEST_F(Char, MakeAndTo) {
    EXPECT_EQ(to_char(integer(65)), 0x41);
    EXPECT_EQ(to_char(integer(0x10FFFF)), 0x10FFFF);
    EXPECT_EQ(to_char(integer(-1)), out_of_range);
    EXPECT_EQ(to_char(integer(0x110000)), out_of_range);
    EXPECT_EQ(to_char(character(0x1F600)), 0x1F600);
    EXPECT_EQ(to_char(decimal(97.9)), 0x61);
    EXPECT_EQ(to_char(decimal(-0.5)), 0);
    EXPECT_EQ(to_char(decimal(-1.0)), out_of_range);
    EXPECT_EQ(to_char(decimal(1e300)), out_of_range);
    EXPECT_EQ(to_char(decimal(std::nan(""))), out_of_range);
    for (u32 unit : {1u, 2u, 4u}) {
        EXPECT_EQ(to_char(text(U"xyz", unit)), 'x');
        EXPECT_EQ(to_char(text(U"xyz", unit, 2, type_id::tag)), 'z');
        EXPECT_EQ(to_char(text(U"xyz", unit, 3)), bad_to);
        EXPECT_EQ(to_char(text(U"", unit)), bad_to);
    }
    EXPECT_EQ(to_char(opaque(type_id::block)), bad_to);
}

TEST_F(Char, ToDecodesOneUtf8SequenceWithinTheBinary) {
    struct row {
        const char* hex;
        u32 head;
        i64 result;
    };
    const row rows[] = {
        {"E282AC", 0, 0x20AC},
        {"41E282AC", 1, 0x20AC},
        {"7A", 0, 'z'},
        {"F09F9880", 0, 0x1F600},
        {"80", 0, invalid_utf8},
        {"F8808080", 0, invalid_utf8},
        {"E241", 0, invalid_utf8},
        // Cut off by the end of the binary: an error, not a read past its tail.
        {"E2", 0, invalid_utf8},
        {"41E282", 1, invalid_utf8},
        {"", 0, bad_to},
        {"41", 1, bad_to},
    };
    for (const row& r : rows)
        EXPECT_EQ(to_char(binary(from_hex(r.hex), r.head)), r.result) << r.hex;
}

TEST_F(Char, FormAndMold) {
    struct row {
        u32 cp;
        bool all;
        std::u32string molded;
    };
    const row rows[] = {
        {'a', false, U"#\"a\""},
        {'\t', false, U"#\"^-\""},
        {'\n', false, U"#\"^/\""},
        {0, false, U"#\"^@\""},
        {'"', false, U"#\"^\"\""},
        {'^', false, U"#\"^^\""},
        {'{', false, U"#\"{\""},
        {0x7F, false, U"#\"^~\""},
        {0x1E, false, U"#\"^(1E)\""},
        {0x85, false, U"#\"^(85)\""},
        {0xE9, false, U"#\"\u00E9\""},
        {0xE9, true, U"#\"^(E9)\""},
        {0x10FFFF, true, U"#\"^(10FFFF)\""},
    };
    for (const row& r : rows) {
        cell* out = text(U"");
        EXPECT_EQ(char_::mold(character(r.cp), out, false, r.all, false, nullptr, 10, 0), 6);
        EXPECT_EQ(whole(out), r.molded) << std::hex << r.cp;
        cell* formed = text(U"x");
        EXPECT_EQ(char_::form(character(r.cp), formed, nullptr, 10), 9);
        EXPECT_EQ(whole(formed), U"x" + std::u32string(1, r.cp));
    }
}

TEST_F(Char, CompareWithCharsAndIntegers) {
    namespace op = actions::compare_op;
    EXPECT_EQ(char_::compare(character('a'), integer(97), op::equal), 0);
    EXPECT_EQ(char_::compare(character('a'), integer(97), op::strict_equal), 1);
    EXPECT_EQ(char_::compare(character('a'), integer(97), op::find), 1);
    EXPECT_EQ(char_::compare(character('a'), character('b'), op::lesser), -1);
    EXPECT_EQ(char_::compare(character('a'), character('A'), op::equal), 1);
    EXPECT_EQ(char_::compare(character(0x10FFFF), integer(-1), op::greater), 1);
    EXPECT_EQ(char_::compare(character('a'), text(U"a"), op::equal), -2);
    EXPECT_EQ(char_::compare(character('a'), text(U"a"), op::strict_equal), 1);
}

TEST_F(Char, ArithmeticStaysInTheCodePointRange) {
    namespace op = cores::op;
    cell i1, f19, i2, i97, i98, s, big, zero, c2;
    init_char(&c2, 2);
    init_integer(&i1, 1);
    init_integer(&i2, 2);
    init_integer(&i97, 97);
    init_integer(&i98, 98);
    init_integer(&zero, 0);
    init_float(&f19, 1.9);
    init_float(&big, 1e12);
    s = *text(U"x"); // held on the data stack
    struct row {
        u32 left;
        cell right;
        i32 operation;
        i64 result;
    };
    const i64 invalid_type = -i64(code(err::E("script", "invalid-type")));
    const i64 zero_divide = -i64(code(err::E("math", "zero-divide")));
    const row rows[] = {
        {0x61, i1, op::add, 0x62},
        {0x61, i97, op::subtract, 0},
        {0x61, i98, op::subtract, overflow},
        {0x10FFFF, i1, op::add, overflow},
        {0x61, f19, op::multiply, 0x61},
        {0x61, i2, op::divide, 0x30},
        {0x61, zero, op::divide, zero_divide},
        {0x61, i2, op::remainder, 1},
        {0x61, i2, op::or_, 0x63},
        {0x61, i1, op::and_, 1},
        {0x61, i1, op::xor_, 0x60},
        {0x61, s, op::add, invalid_type},
        {0x61, big, op::add, overflow},
        {0x10000, i97, op::multiply, overflow},
        {0x61, c2, op::multiply, 0xC2},
    };
    for (const row& r : rows)
        EXPECT_EQ(math(r.left, r.right, r.operation), r.result)
            << std::hex << r.left << " op " << r.operation;
}

TEST_F(Char, RowInheritsIntegerPredicates) {
    EXPECT_EQ(act::handler<act::slot::to>(type_id::char_), &char_::make);
    EXPECT_EQ(act::handler<act::slot::even_q>(type_id::char_),
              act::handler<act::slot::even_q>(type_id::integer));
    EXPECT_NE(act::handler<act::slot::even_q>(type_id::char_), nullptr);
    EXPECT_EQ(act::handler<act::slot::negate>(type_id::char_), nullptr);
    EXPECT_EQ(act::handler<act::slot::complement>(type_id::char_), nullptr);
    cell c;
    cell* block_cell = block({});
    char_::append_to_block(block_cell, 0x263A);
    c = *head_cell(buffer_of(block_cell->w2));
    EXPECT_EQ(type_of(&c), type_id::char_);
    EXPECT_EQ(c.w2, 0x263Au);
}

} // namespace
