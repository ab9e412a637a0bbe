// MurmurHash3 against published vectors, and the per-type hashes of cells.
#include <gtest/gtest.h>

#include <vector>

#include "index_test_support.hpp"

using namespace zel;
using namespace zel::hash_index;

TEST(Murmur3, PublishedVectors) {
    struct vector_case {
        std::string bytes;
        u32 seed;
        u32 hash;
    };
    const vector_case cases[] = {
        {"", 0, 0},
        {"", 1, 0x514E28B7},
        {"", 0xFFFFFFFF, 0x81F16F39},
        {std::string("\xFF\xFF\xFF\xFF", 4), 0, 0x76293B50},
        {std::string("\x21\x43\x65\x87", 4), 0, 0xF55B516B},
        {std::string("\x21\x43\x65\x87", 4), 0x5082EDEE, 0x2362F9DE},
        {std::string("\x21\x43\x65", 3), 0, 0x7E4A8634},
        {std::string("\x21\x43", 2), 0, 0xA0F7B07A},
        {std::string("\x21", 1), 0, 0x72661CF4},
        {std::string("\0\0\0\0", 4), 0, 0x2362F9DE},
        {std::string("\0\0\0", 3), 0, 0x85F0B427},
        {std::string("\0\0", 2), 0, 0x30F4C306},
        {std::string("\0", 1), 0, 0x514E28B7},
        {"aaaa", 0x9747B28C, 0x5A97808A},
        {"aaa", 0x9747B28C, 0x283E0130},
        {"aa", 0x9747B28C, 0x5D211726},
        {"a", 0x9747B28C, 0x7FA09EA6},
        {"abcd", 0x9747B28C, 0xF0478627},
        {"abc", 0x9747B28C, 0xC84A62DD},
        {"ab", 0x9747B28C, 0x74875592},
        {"Hello, world!", 0x9747B28C, 0x24884CBA},
        {"\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80", 0x9747B28C,
         0xD58063C1},
        {"The quick brown fox jumps over the lazy dog", 0x9747B28C, 0x2FA826CD},
    };
    for (const auto& c : cases)
        EXPECT_EQ(murmur3_seeded(c.bytes.data(), c.bytes.size(), c.seed), c.hash)
            << "bytes \"" << c.bytes << "\" seed " << c.seed;
}

TEST(Murmur3, FinaliserAndProcessSeed) {
    EXPECT_EQ(fmix32(0), 0u);
    // fmix32 is the finaliser: hashing nothing with seed s is fmix32(s).
    EXPECT_EQ(fmix32(0x9747B28C), murmur3_seeded("", 0, 0x9747B28C));
    EXPECT_EQ(murmur3("abc", 3), murmur3_seeded("abc", 3, seed()));
    // Once an index exists the seed can no longer change.
    u32 before = seed();
    make_index(0, nullptr, kind::records, 0);
    EXPECT_FALSE(set_seed(before + 1));
    EXPECT_EQ(seed(), before);
}

TEST(HashCell, TextsHashTheirUpperCasedCodePoints) {
    // The definition: 32-bit blocks of upper-cased code points, length 4 x count.
    std::vector<u32> blocks = {'H', 'E', 'L', 'L', 'O', 0xC9}; // é upper-cased
    u32 expected = murmur3(blocks.data(), blocks.size() * 4);
    gc::rooted_cell upper(test::text(U"HELLO\xE9", 1));
    EXPECT_EQ(text_hash(&upper.value), expected);
    // Case and unit width do not count, nor does the text type.
    const gc::rooted_cell variants[] = {
        gc::rooted_cell(test::text(U"hello\xE9", 1)), gc::rooted_cell(test::text(U"Hello\xE9", 2)),
        gc::rooted_cell(test::text(U"hELLO\xE9", 4)),
        gc::rooted_cell(test::text(U"hello\xE9", 1, type_id::file))};
    for (const gc::rooted_cell& v : variants) EXPECT_EQ(hash_cell(&v.value), expected);
    // Hashing starts at the head index; a head past the tail is an empty text.
    gc::rooted_cell held_tail(test::text(U"xxHELLO\xE9", 1));
    cell& tail_part = held_tail.value;
    tail_part.w1 = 2;
    EXPECT_EQ(hash_cell(&tail_part), expected);
    tail_part.w1 = 50;
    EXPECT_EQ(hash_cell(&tail_part), murmur3("", 0));
}

TEST(HashCell, TypeTable) {
    cell unset{type_id::unset, 0, 0, 0}, none{type_id::none, 0, 0, 0};
    EXPECT_EQ(hash_cell(&unset), 0xFFFFFFFEu);
    EXPECT_EQ(hash_cell(&none), 0xFFFFFFFFu);
    cell i = test::integer(7), ch{type_id::char_, 0, 7, 0};
    EXPECT_EQ(hash_cell(&i), fmix32(7));
    EXPECT_EQ(hash_cell(&ch), fmix32(7));
    gc::rooted_cell b(cell{type_id::binary, 1, memory::new_byte_series(8), 0});
    raw_buffer::append_bytes(b.value.w2, reinterpret_cast<const u8*>("xabc"), 4);
    EXPECT_EQ(hash_cell(&b.value), murmur3("abc", 3));

    // Pairs that must hash alike: what the hash ignores, and values that are equal.
    struct same_case {
        const char* what;
        cell a, b;
    };
    auto money = [](u32 sign, u32 flags) {
        return cell{type_id::money | sign | flags, 0x12345678, 0x9ABC, 3};
    };
    cell neg_zero, zero;
    init_float(&neg_zero, -0.0);
    init_float(&zero, 0.0);
    const same_case same[] = {
        {"point3D! payload", {type_id::point3d, 1, 2, 3}, {type_id::point3d | 0x40000000, 1, 2, 3}},
        {"money! new-line flag", money(0x4000, 0), money(0x4000, 0x40000000)},
        {"tuple! bytes past its length",
         {type_id::tuple | 3 << 19, 0x00030201, 0, 0},
         {type_id::tuple | 3 << 19, 0xFF030201, 0xFF, 0xFF}},
        {"float! -0.0 and 0.0", neg_zero, zero},
        {"block! with new-line flag",
         {type_id::block, 0, 99, 0},
         {type_id::block | 0x40000000, 0, 99, 5}},
    };
    for (const auto& c : same) EXPECT_EQ(hash_cell(&c.a), hash_cell(&c.b)) << c.what;
    cell pos = money(0, 0), neg = money(0x4000, 0);
    EXPECT_NE(hash_cell(&pos), hash_cell(&neg));
    cell p3a{type_id::point3d, 1, 2, 3}, p3b{type_id::point3d, 1, 2, 4};
    EXPECT_NE(hash_cell(&p3a), hash_cell(&p3b));
}

TEST(HashCell, WordsHashByCanonicalSymbol) {
    u32 table = test::fresh_symbol_table();
    u32 foo = test::intern(table, "foo"), upper = test::intern(table, "FOO");
    ASSERT_NE(foo, upper);
    cell w{type_id::word, 0, foo, 0}, sw{type_id::set_word, 0, upper, 0};
    EXPECT_EQ(hash_cell(&w), fmix32(foo));
    EXPECT_EQ(hash_cell(&sw), fmix32(foo));
    // A symbol! hashes its UTF-8 text with ASCII letters lowered, nothing else.
    const cell* sym = test::at(record_of(table)->values, upper - 1);
    EXPECT_EQ(hash_cell(sym), murmur3("foo", 3));
    EXPECT_EQ(symbol_text_hash(reinterpret_cast<const u8*>("\xC3\x89T\xC3\xA9"), 5),
              murmur3("\xC3\x89t\xC3\xA9", 5));
}
