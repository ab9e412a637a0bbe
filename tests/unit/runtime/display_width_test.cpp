// Display width: the telling code points, the range test at the table edges, and every code
// point against the Unicode database of the machine's Python (when it has the tables' version).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runtime/display_width.hpp"

using namespace zel;

TEST(DisplayWidth, TellingCodePoints) {
    struct row {
        u32 cp;
        int columns;
    };
    const row rows[] = {
        {0x0, 0},     {0x9, 1},     {0x1B, 1},     {0x7F, 1},     {0x9F, 1},    {0x41, 1},
        {0xA0, 1},    {0xAD, 1},    {0x300, 0},    {0x301, 0},    {0x36F, 0},   {0x370, 1},
        {0x200B, 0},  {0xFE0F, 0},  {0x1100, 2},   {0x115F, 2},   {0x1160, 1},  {0x3000, 2},
        {0x4E00, 2},  {0xAC00, 2},  {0xFF01, 2},   {0xFF61, 1},   {0x1F600, 2}, {0x1FAF6, 2},
        {0x1FAF7, 1}, {0x20000, 2}, {0x3FFFD, 2},  {0x3FFFE, 1},  {0xE0001, 0}, {0xE0100, 0},
        {0xE01EF, 0}, {0xE01F0, 1}, {0x10FFFF, 1}, {0x110000, 1},
    };
    for (const row& r : rows)
        EXPECT_EQ(display_width::codepoint_columns(r.cp), r.columns) << std::hex << r.cp;
}

TEST(DisplayWidth, RangeTestAtTheEdges) {
    const u32 table[] = {10, 20, 30, 30, 40, 50};
    struct row {
        u32 cp;
        bool inside;
    };
    const row rows[] = {{9, false},  {10, true},  {20, true}, {21, false}, {29, false}, {30, true},
                        {31, false}, {39, false}, {40, true}, {50, true},  {51, false}, {0, false}};
    for (const row& r : rows) EXPECT_EQ(display_width::in_ranges(r.cp, table, 6), r.inside) << r.cp;
    EXPECT_FALSE(display_width::in_ranges(10, table, 0));
}

TEST(DisplayWidth, TablesAreSortedAndDisjoint) {
    for (auto t : {display_width::zero_width_table(), display_width::wide_table()}) {
        ASSERT_EQ(t.count % 2, 0u);
        for (std::size_t i = 0; i < t.count; i += 2) {
            EXPECT_LE(t.words[i], t.words[i + 1]);
            if (i) {
                EXPECT_LT(t.words[i - 1] + 1, t.words[i]) << "ranges must not touch";
            }
        }
    }
}

// Every code point, compared with runs of equal width printed by the table generator.
TEST(DisplayWidth, MatchesTheUnicodeDatabase) {
    std::string cmd =
        std::string("python3 ") + ZEL_SOURCE_DIR + "/tools/display_width_tables.py --check";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char version[64] = {};
    ASSERT_NE(std::fgets(version, sizeof version, p), nullptr);
    std::string v(version);
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
    if (v != display_width::unicode_version) {
        pclose(p);
        GTEST_SKIP() << "the machine's Unicode database is " << v << ", the tables follow "
                     << display_width::unicode_version;
    }
    unsigned long start = 0, next = 0;
    int columns = 0, next_columns = 0;
    bool more = std::fscanf(p, "%lu %d", &start, &columns) == 2;
    ASSERT_TRUE(more);
    int mismatches = 0;
    while (more) {
        more = std::fscanf(p, "%lu %d", &next, &next_columns) == 2;
        unsigned long end = more ? next : 0x110000;
        for (unsigned long cp = start; cp < end; ++cp) {
            int got = display_width::codepoint_columns(static_cast<u32>(cp));
            if (got != columns && ++mismatches <= 10)
                ADD_FAILURE() << std::hex << "U+" << cp << ": " << got << " instead of " << columns;
        }
        start = next;
        columns = next_columns;
    }
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(mismatches, 0);
}
