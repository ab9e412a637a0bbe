// binary!: the hexadecimal mold with its line layout, and the base 2, 16, 58 and 64 codecs
// against Python's base64 and a base-58 reference.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/base_codecs.hpp"
#include "datatypes/binary.hpp"
#include "literal_helpers.hpp"

namespace zel {
namespace {

using test::mold_text;

cell binary_of(const std::vector<u8>& bytes) {
    cell c;
    binary::init_cell_from_bytes(&c, bytes.data(), static_cast<u32>(bytes.size()));
    return c;
}

std::vector<u8> bytes_of(u32 node) {
    series_buffer* b = buffer_of(node);
    return {head_ptr(b), tail_ptr(b)};
}

std::string hex_digits(u32 n) {
    std::string s;
    for (u32 i = 0; i < n; i++) s += "AB";
    return s;
}

TEST(BinaryText, HexOnOneLineUpToThirtyBytesThenLinesOfThirtyTwo) {
    std::vector<u8> b31(31, 0xAB), b32(32, 0xAB), b33(33, 0xAB);
    struct row {
        std::vector<u8> bytes;
        test::mold_options options;
        std::string text;
    } rows[] = {
        {{}, {}, "#{}"},
        {{1, 2, 0xFF}, {}, "#{0102FF}"},
        {std::vector<u8>(30, 0xAB), {}, "#{" + hex_digits(30) + "}"},
        {b31, {}, "#{\n    " + hex_digits(31) + "\n}"},
        {b32, {}, "#{\n    " + hex_digits(32) + "\n    }"},
        {b33, {}, "#{\n    " + hex_digits(32) + "\n    AB\n}"},
        {b33, {.flat = true}, "#{" + hex_digits(33) + "}"},
        {b31, {.indent = 1}, "#{\n        " + hex_digits(31) + "\n    }"},
        {{1, 2}, {.only = true}, "0102"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(mold_text(binary_of(r.bytes), r.options), r.text);
    }
    EXPECT_EQ(test::form_text(binary_of(b31)), "#{\n    " + hex_digits(31) + "\n}");
}

TEST(BinaryText, BytesFromTheHeadOnly) {
    test::held_cell c = binary_of({1, 2, 3});
    c.w1 = 1;
    EXPECT_EQ(mold_text(c), "#{0203}");
    c.w1 = 9;
    EXPECT_EQ(mold_text(c), "#{}");
}

TEST(BinaryText, PartLimitStopsAfterAByte) {
    test::held_cell value = binary_of({1, 2, 3, 4});
    test::held_cell buffer;
    out::new_string(&buffer);
    cell part;
    init_integer(&part, 6);
    i32 left = actions::mold_typed(&value, &buffer, false, false, false, &part, 6, 0);
    EXPECT_EQ(utf8::encode_string(&buffer), "#{0102");
    EXPECT_EQ(left, 0);
}

TEST(BinaryCodecs, EncodeAndDecodeLikePython) {
    auto lines = test::literal_oracle("codecs");
    if (lines.empty()) GTEST_SKIP() << "python3 not available";
    for (const std::string& line : lines) {
        auto f = test::fields(line);
        for (std::string& s : f)
            if (s == "-") s.clear();
        std::vector<u8> data = test::from_hex(f[0]);
        const u8* p = data.data();
        u32 n = static_cast<u32>(data.size());
        const u32 bases[4] = {2, 16, 58, 64};
        using encoder = u8* (*)(u8*, const u8*, u32);
        const encoder encoders[4] = {binary::to_base2_text, binary::to_base16_text,
                                     binary::to_base58_text, binary::to_base64_text};
        for (int k = 0; k < 4; k++) {
            std::string text(binary::text_room(bases[k], n), '\0');
            u8* start = reinterpret_cast<u8*>(text.data());
            text.resize(static_cast<std::size_t>(encoders[k](start, p, n) - start));
            EXPECT_EQ(text, f[1 + k]) << "base " << bases[k] << ": " << line;
            binary::decoded d =
                binary::from_base_text(bases[k], reinterpret_cast<const u8*>(f[1 + k].data()),
                                       static_cast<u32>(f[1 + k].size()), 1, true);
            ASSERT_NE(d.node, 0u) << "base " << bases[k] << ": " << line;
            EXPECT_EQ(bytes_of(d.node), data) << "base " << bases[k] << ": " << line;
        }
    }
}

struct decode_row {
    u32 base;
    std::u32string text;
    bool strict;
    const char* bytes; // hex, or null for a failure
    u32 error_at;
};

TEST(BinaryCodecs, DecodersSkipBlanksAndCommentsAndReportWhereTheyFail) {
    decode_row rows[] = {
        {2, U"0100 0001 ; a comment\n01000010", true, "4142", 0},
        {2, U"0100000", false, nullptr, 7},
        {2, U"01000002", false, nullptr, 7},
        {16, U"41\t42\r\n43 ;x", true, "414243", 0},
        {16, U"", false, "", 0},
        {16, U"0G", false, nullptr, 1},
        // A lone final digit is refused, not dropped.
        {16, U"0A b", false, nullptr, 4},
        // Characters above 127 are not digits, whatever their low seven bits.
        {16, U"4\u0130", false, nullptr, 1},
        {16, U"41\u00A0", false, nullptr, 2},
        {64, U"QQ==", true, "41", 0},
        {64, U"QUI=", true, "4142", 0},
        {64, U"QQ==garbage!", true, "41", 0},
        {64, U"Q\bU'J\fD", false, "414243", 0},
        {64, U"Q===", false, nullptr, 1},
        {64, U"=", false, nullptr, 0},
        // A group cut short without padding: decoded, except in the literal syntax.
        {64, U"QQ", false, "41", 0},
        {64, U"QUI", false, "4142", 0},
        {64, U"QQ", true, nullptr, 2},
        {64, U"QUJDR", false, nullptr, 5},
        {64, U"QQ\u00E9", false, nullptr, 2},
        {58, U"112", false, "000001", 0},
        {58, U"", false, "", 0},
        {58, U"1 1\n2", false, "000001", 0},
        {58, U"0", false, nullptr, 0},
        {58, U"2l", false, nullptr, 1},
        {58, U"2\u00E9", false, nullptr, 1},
    };
    for (const decode_row& r : rows) {
        for (u32 unit : {1u, 2u, 4u}) {
            if (unit == 1 &&
                std::any_of(r.text.begin(), r.text.end(), [](char32_t c) { return c > 0xFF; }))
                continue;
            test::held_cell text = test::make_text(r.text, unit);
            series_buffer* b = buffer_of(text.w2);
            binary::decoded d =
                binary::from_base_text(r.base, head_ptr(b), used_units(b), unit, r.strict);
            std::string label = "base " + std::to_string(r.base) + " unit " + std::to_string(unit);
            if (!r.bytes) {
                EXPECT_EQ(d.node, 0u) << label;
                EXPECT_EQ(d.error_at, r.error_at) << label;
            } else {
                ASSERT_NE(d.node, 0u) << label;
                EXPECT_EQ(bytes_of(d.node), test::from_hex(r.bytes)) << label;
            }
        }
    }
    EXPECT_EQ(binary::from_base_text(8, nullptr, 0, 1).node, 0u);
}

TEST(BinaryMakers, CellsOverTheirBytes) {
    stack::mark m = stack::save();
    const u8 bytes[3] = {7, 8, 9};
    cell* pushed = binary::push_from_bytes(bytes, 3);
    EXPECT_EQ(mold_text(*pushed), "#{070809}");
    test::held_cell block = test::block_of({});
    binary::new_from_bytes(&block, bytes, 2);
    EXPECT_EQ(mold_text(*head_cell(buffer_of(block.w2))), "#{0708}");
    test::held_cell empty;
    binary::init_cell_bytes(&empty, 0);
    EXPECT_EQ(used_bytes(buffer_of(empty.w2)), 0u);
    EXPECT_GE(buffer_of(empty.w2)->size, 16u);
    stack::restore(m);
}

} // namespace
} // namespace zel
