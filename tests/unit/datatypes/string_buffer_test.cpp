// String buffers: widening by operation, concatenation across units, comparison, matching and the
// hexadecimal texts.
#include <gtest/gtest.h>

#include <unistd.h>

#include "datatypes/string_buffer.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/datatypes/text_helpers.hpp"

using namespace zel;
using namespace zel::test;

namespace {
series_buffer* buf(const cell& c) {
    return buffer_of(c.w2);
}
} // namespace

TEST(StringBuffer, WideningDependsOnTheOperation) {
    struct row {
        std::u32string start;
        u32 unit;
        bool append; // else store at the tail's last unit
        u32 cp;
        u32 unit_after;
    };
    const row rows[] = {
        {U"", 1, true, 0x7F, 1},       {U"", 1, true, 0xE9, 2},
        {U"ab", 1, true, 0x1F600, 4},  {U"a\u0100", 2, true, 0x1F600, 4},
        {U"ab", 1, false, 0xE9, 1},    {U"ab", 1, false, 0x100, 2},
        {U"ab", 1, false, 0x1F600, 4}, {U"a\u0100", 2, false, 0xFFFF, 2},
    };
    for (const row& r : rows) {
        held_cell c = make_text(r.start, r.unit);
        std::u32string expected = r.start;
        if (r.append) {
            string::append_codepoint(buf(c), r.cp);
            expected.push_back(r.cp);
        } else {
            u8* last = string::tail_address(&c) - r.unit;
            string::store_codepoint(buf(c), last, r.cp);
            expected.back() = r.cp;
        }
        EXPECT_EQ(unit_of_text(c), r.unit_after) << std::hex << r.cp;
        EXPECT_EQ(text_of(c), expected) << std::hex << r.cp;
    }
}

TEST(StringBuffer, WideningAHeadPlacedInTheMiddle) {
    // With room enough after the head (converted where it is) and without (grown first).
    for (u32 size : {256u, 64u}) {
        u32 node = memory::new_series(size, 1, -1);
        held_cell c = cell{type_id::string, 0, node, 0};
        std::u32string_view text = U"0123456789";
        for (char32_t cp : text) string::append_codepoint(buf(c), cp);
        EXPECT_NE(head_ptr(buf(c)), data_start(buf(c)));
        string::append_codepoint(buf(c), 0x10FFFF);
        EXPECT_EQ(text_of(c), std::u32string(text) + U"\U0010FFFF") << size;
        EXPECT_EQ(unit_of_text(c), 4u);
    }
}

TEST(StringBuffer, WriteInsertRemove) {
    held_cell c = make_text(U"abc", 1);
    // Past the tail: the gap reads as NUL, not as stale memory.
    string::write_char_at(buf(c), 40, 'z');
    std::u32string expected = U"abc" + std::u32string(37, 0) + U"z";
    EXPECT_EQ(text_of(c), expected);
    string::write_char_at(buf(c), 1, 0x20AC);
    expected[1] = 0x20AC;
    EXPECT_EQ(text_of(c), expected);
    EXPECT_EQ(unit_of_text(c), 2u);

    held_cell d = make_text(U"abc", 1);
    string::insert_char_at(buf(d), 0, 'x');
    string::insert_char_at(buf(d), 2, 0xE9); // Latin-1 stays in one byte when inserted
    string::insert_char_at(buf(d), 99, '!'); // beyond the tail: at the tail
    EXPECT_EQ(text_of(d), U"xa\u00E9bc!");
    EXPECT_EQ(unit_of_text(d), 1u);
    string::remove_char_at(&d, 0);
    string::remove_units_at(&d, 3, 99);
    string::remove_units_at(&d, 7, 1);
    EXPECT_EQ(text_of(d), U"a\u00E9b");

    string::truncate_units(buf(d), 1);
    EXPECT_EQ(text_of(d), U"a");
    string::truncate_units(buf(d), 5); // not before the tail: unchanged
    EXPECT_EQ(text_of(d), U"a");

    held_cell w = make_text(U"\U0001F600", 4);
    w.w1 = 1;
    string::clear_to_narrow(&w);
    EXPECT_EQ(w.w1, 0u);
    EXPECT_EQ(unit_of_text(w), 1u);
    EXPECT_EQ(text_of(w), U"");
}

TEST(StringBuffer, PositionsClampAHeadPastTheTail) {
    held_cell c = make_text(U"abcd", 2);
    c.w1 = 9;
    EXPECT_TRUE(string::head_at_tail(&c));
    EXPECT_EQ(string::units_from_head(&c), 0u);
    EXPECT_EQ(c.w1, 4u);
    c.w1 = 9;
    EXPECT_EQ(string::head_address(&c), string::tail_address(&c));
    EXPECT_EQ(c.w1, 4u);
    c.w1 = 1;
    EXPECT_EQ(string::units_from_head(&c), 3u);
    EXPECT_EQ(string::units_from_start(&c), 4u);
    EXPECT_EQ(string::char_at_index(&c, 0), U'a');
}

TEST(StringBuffer, ConcatAcrossUnits) {
    // A wider source widens the target first.
    held_cell t = make_text(U"ab", 1);
    held_cell s = make_text(U"\U0001F600x", 4);
    string::concat(&t, &s, -1, false);
    EXPECT_EQ(text_of(t), U"ab\U0001F600x");
    EXPECT_EQ(unit_of_text(t), 4u);

    // A narrower source: converted unit by unit with the flag, its buffer left alone...
    held_cell t2 = make_text(U"\u0100", 2);
    held_cell s2 = make_text(U"h\u00E9llo", 1);
    s2.w1 = 1;
    string::concat(&t2, &s2, 3, true);
    EXPECT_EQ(text_of(t2), U"\u0100\u00E9ll");
    EXPECT_EQ(unit_of_text(s2), 1u);
    // ...or widened in place without it; either way it reads back unchanged.
    string::concat(&t2, &s2, -1, false);
    EXPECT_EQ(text_of(t2), U"\u0100\u00E9ll\u00E9llo");
    EXPECT_EQ(unit_of_text(s2), 2u);
    EXPECT_EQ(text_of(s2), U"\u00E9llo");

    // Appending a string to itself, growing the shared buffer.
    held_cell self = make_text(U"abc", 1);
    for (int i = 0; i < 6; i++) string::append_text_part(&self, &self, -1, true);
    EXPECT_EQ(text_of(self).size(), 192u);
    EXPECT_EQ(text_of(self).substr(186), U"abcabc");

    held_cell empty = make_text(U"", 1);
    string::concat(&t, &empty, -1, true);
    string::concat(&t, &s, 0, true);
    EXPECT_EQ(text_of(t), U"ab\U0001F600x");
}

TEST(StringBuffer, AppendingBytesAndText) {
    held_cell c = make_text(U"", 1);
    string::append_c_text(&c, "abc");
    EXPECT_EQ(unit_of_text(c), 1u);
    string::append_c_text(&c, "\xE9");
    EXPECT_EQ(unit_of_text(c), 2u);
    EXPECT_EQ(text_of(c), U"abc\u00E9");
    // Bytes taken from a buffer of the arena survive the growth they cause.
    held_cell source = make_text(U"abcdef", 1);
    held_cell big = make_text(U"", 1);
    for (int i = 0; i < 50; i++) string::append_bytes(&big, head_ptr(buf(source)), 6);
    EXPECT_EQ(text_of(big).size(), 300u);
    EXPECT_EQ(text_of(big).substr(294), U"abcdef");
}

TEST(StringBuffer, MoveUnitsBetweenWidths) {
    held_cell source = make_text(U"xy\u00E9z", 1);
    source.w1 = 1;
    held_cell target = make_text(U"\u20AC!", 2);
    target.w1 = 1;
    string::move_units(&source, &target, 2);
    EXPECT_EQ(text_of(source), U"z");
    source.w1 = 0;
    EXPECT_EQ(text_of(source), U"xz");
    target.w1 = 0;
    EXPECT_EQ(text_of(target), U"\u20ACy\u00E9!");
}

TEST(StringBuffer, ExchangeRanges) {
    for (std::string start : {"ABCDEFxy....", "ABxyzwvu...."}) {
        // "a" bytes then "b" bytes, then room for a gap of 2.
        u32 a = start[2] == 'C' ? 6 : 2;
        u32 b = 8 - a;
        std::string bytes = start;
        u8* p = reinterpret_cast<u8*>(bytes.data());
        string::exchange_ranges(p, a, p + a, b, 2);
        EXPECT_EQ(bytes.substr(0, b), start.substr(a, b));
        EXPECT_EQ(bytes.substr(b + 2, a), start.substr(0, a));
    }
}

TEST(StringBuffer, CopyWidened) {
    held_cell s = make_text(U"abc\u00E9", 1);
    held_cell target = cell{type_id::string, 0, memory::new_series(16, 4, 0), 0};
    u32 node = target.w2;
    series_buffer* t = string::copy_widened(buf(s), buffer_of(node), 4, 1, 0, 0, false);
    EXPECT_EQ(text_of(cell{type_id::string, 0, node, 0}), U"bc\u00E9");
    EXPECT_EQ(unit_of(t), 4u);

    series_buffer* same = string::copy_widened(buf(s), nullptr, 2, 0, 0, 0, false, 64);
    EXPECT_EQ(buf(s), same);
    EXPECT_EQ(unit_of_text(s), 2u);
    EXPECT_GE(same->size, 64u);
    EXPECT_EQ(text_of(s), U"abc\u00E9");
}

TEST(StringBuffer, CompareTexts) {
    struct row {
        std::u32string a, b;
        u32 op;
        bool match;
        i32 result;
    };
    const row rows[] = {
        {U"abc", U"ABC", 0, false, 0},
        {U"abc", U"ABC", 12, false, 0},
        {U"abc", U"ABC", 2, false, 1},
        {U"abc", U"abd", 3, false, -1},
        {U"abd", U"ABC", 3, false, 1},
        {U"ab", U"abc", 3, false, -1},
        {U"ab", U"abc", 0, false, 1},
        {U"abc", U"ab", 5, false, 1},
        {U"", U"", 0, false, 0},
        {U"a", U"", 3, false, 1},
        {U"", U"a", 3, false, -1},
        {U"a", U"B", 7, false, -1},
        {U"a", U"B", 8, false, 1},
        {U"\u00DF", U"s", 0, false, 0},
        {U"abcdef", U"ABC", 12, true, 0},
        {U"abcdef", U"", 12, true, 1},
        {U"abcdef", U"", 0, true, 0},
        {U"ab", U"abc", 12, true, 1},
        {U"abcdef", U"abd", 3, true, -1},
        {U"\u00E9", U"\u00C9", 0, false, 0},
        {U"\U0001E922", U"\U0001E900", 0, false, 0},
    };
    for (u32 ua : {1u, 2u, 4u}) {
        for (u32 ub : {1u, 4u}) {
            for (const row& r : rows) {
                auto fits = [](const std::u32string& s, u32 u) {
                    for (char32_t c : s)
                        if (text_units::unit_for_write(c) > u) return false;
                    return true;
                };
                if (!fits(r.a, ua) || !fits(r.b, ub)) continue;
                held_cell a = make_text(r.a, ua);
                held_cell b = make_text(r.b, ub);
                EXPECT_EQ(string::compare_texts(&a, &b, r.op, r.match), r.result)
                    << "op " << r.op << " units " << ua << ub << " match " << r.match;
            }
        }
    }
    held_cell a = make_text(U"abc", 1);
    cell same = a;
    held_cell other = make_text(U"abc", 1);
    EXPECT_EQ(string::compare_texts(&a, &same, 9, false), 0);
    EXPECT_EQ(string::compare_texts(&a, &other, 9, false), -1);
    EXPECT_EQ(string::compare_texts(&a, &same, 2, false), 0);
    // An explicit count for b, which never reaches past b's tail.
    held_cell abx = make_text(U"abx", 1);
    EXPECT_EQ(string::compare_texts(&a, &abx, 12, true, 2), 0);
    EXPECT_EQ(string::compare_texts(&a, &abx, 12, true, 50), -1);
}

TEST(StringBuffer, MatchingAtTheHead) {
    held_cell s = make_text(U"<ab>cd", 1);
    held_cell tag = make_text(U"AB", 1);
    tag.header = type_id::tag;
    held_cell str = make_text(U"<A", 2);
    cell ch;
    init_char(&ch, '<');
    cell num;
    init_integer(&num, 1);
    EXPECT_TRUE(string::angle_enclosed(&s, &tag));
    EXPECT_TRUE(string::equals_value(&s, &tag, 0));
    EXPECT_FALSE(string::equals_value(&s, &tag, 2));
    EXPECT_TRUE(string::equals_value(&s, &str, 0));
    EXPECT_TRUE(string::equals_value(&s, &ch, 2));
    EXPECT_FALSE(string::equals_value(&s, &num, 0));
    s.w1 = 4;
    init_char(&ch, 'C');
    EXPECT_TRUE(string::equals_value(&s, &ch, 0));
    EXPECT_FALSE(string::equals_value(&s, &ch, 2));
    EXPECT_FALSE(string::angle_enclosed(&s, &tag));
    s.w1 = 6;
    EXPECT_FALSE(string::equals_value(&s, &ch, 0));

    // The closing ">" would lie past the tail: no match and no read there.
    held_cell open = make_text(U"<ab", 1);
    EXPECT_FALSE(string::angle_enclosed(&open, &tag));

    held_cell t = make_text(U"Hello\u0100", 2);
    EXPECT_TRUE(string::head_matches_text(&t, "Hell"));
    EXPECT_FALSE(string::head_matches_text(&t, "Help"));
    EXPECT_FALSE(string::head_matches_text(&t, "Hello world"));
    EXPECT_EQ(string::find_codepoint(&t, 'l'), 2);
    EXPECT_EQ(string::find_codepoint(&t, 'L'), -1);
    t.w1 = 1;
    EXPECT_TRUE(string::contains_codepoint(&t, 'L', 2, false)); // e, l, o
    EXPECT_FALSE(string::contains_codepoint(&t, 'L', 2, true));
    EXPECT_FALSE(string::contains_codepoint(&t, 'H', 1, false));
    EXPECT_TRUE(string::contains_codepoint(&t, 0x101, 1, false)); // folds to U+0100
}

TEST(StringBuffer, HeadCharInBitset) {
    // 16 bits, of which only bit 9 (tab) is set.
    held_cell bitset = cell{type_id::bitset, 0, memory::new_byte_series(16), 0};
    series_buffer* bits = buffer_of(bitset.w2);
    head_ptr(bits)[0] = 0;
    head_ptr(bits)[1] = 0x80 >> (9 & 7);
    bits->tail += 2;
    held_cell tab = make_text(U"\t", 1);
    held_cell lf = make_text(U"\n", 1);
    held_cell a = make_text(U"a", 1);
    EXPECT_TRUE(string::head_char_in_bitset(&tab, &bitset));
    EXPECT_FALSE(string::head_char_in_bitset(&lf, &bitset));
    EXPECT_FALSE(string::head_char_in_bitset(&a, &bitset));
    buffer_of(bitset.w2)->flags |= 0x80000; // complemented: code points past the bits are members
    EXPECT_TRUE(string::head_char_in_bitset(&a, &bitset));
    a.w1 = 1;
    EXPECT_FALSE(string::head_char_in_bitset(&a, &bitset));
}

TEST(StringBuffer, HexTexts) {
    struct row {
        i32 value;
        bool trim;
        const char* text;
    };
    const row rows[] = {
        {0x1E, true, "1E"},
        {0x80, true, "80"},
        {0x1F600, true, "1F600"},
        {5, true, "5"},
        {0, true, "00"},
        {0x7F, false, "0000007F"},
        {-1, false, "FFFFFFFF"},
        {-16, false, "FFFFFFF0"},
        {0, false, "00000000"},
        {-1, true, "FFFFFFFF"},
        {-16, true, "FFFFFFF0"},
        {INT32_MIN, true, "80000000"},
        {0x7FFFFFFF, true, "7FFFFFFF"},
    };
    for (const row& r : rows)
        EXPECT_EQ(string::int_hex_text(r.value, r.trim).view(), r.text) << r.value;
    EXPECT_EQ(string::byte_hex_text(0x0A).view(), "0A");
    EXPECT_EQ(string::byte_hex_text(0xFF).view(), "FF");
}

TEST(StringBuffer, DecodeBuffer) {
    std::vector<u8> utf8 = from_hex("61E282AC");
    cell* c = string::decode_new(utf8.data(), 4, string::encoding_utf8);
    EXPECT_EQ(text_of(*c), U"a\u20AC");
    std::vector<u8> utf16 = from_hex("61003DD800DE");
    held_cell out;
    string::decode_buffer(utf16.data(), 6, &out, string::encoding_utf16le);
    EXPECT_EQ(text_of(out), U"a\U0001F600");

    held_cell block = cell{type_id::block, 0, memory::new_cell_series(1), 0};
    for (int i = 0; i < 5; i++) string::decode_into_cell(utf8.data(), 4, &block, 0);
    series_buffer* b = buffer_of(block.w2);
    ASSERT_EQ(used_units(b), 5u);
    EXPECT_EQ(text_of(head_cell(b)[4]), U"a\u20AC");
}

TEST(StringBufferDeathTest, UnsupportedInputEndsTheProcess) {
    std::vector<u8> bytes = from_hex("610062");
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            string::decode_buffer(bytes.data(), 3, nullptr, 1);
        },
        testing::ExitedWithCode(1), "\\*\\*\\* Loading Error: input encoding unsupported");
    // Half a UTF-16 unit left over.
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            string::decode_buffer(bytes.data(), 3, nullptr, string::encoding_utf16le);
        },
        testing::ExitedWithCode(1), "invalid UTF-16LE codepoint");
}
