// The text writer and the measures: wrapping, clipping, wide characters and the text's own SGR.
#include <gtest/gtest.h>

#include "gui/terminal/text_layout.hpp"

namespace zel::tui {
namespace {

// The characters of the buffer's rows, with "." for empty cells and "_" for second halves.
std::vector<std::u32string> rows(screen_buffer& b) {
    std::vector<std::u32string> out;
    for (int y = 0; y < b.height(); ++y) {
        std::u32string r;
        for (int x = 0; x < b.width(); ++x) {
            const screen_cell& c = b.row(y)[x];
            r += c.flags & attr::wide_second ? U'_' : c.code ? static_cast<char32_t>(c.code) : U'.';
        }
        out.push_back(r);
    }
    return out;
}

TEST(TextWriter, WrapClipAndWideCharacters) {
    struct {
        const char* what;
        std::u32string text;
        int x, y;
        clip_rect clip;
        u32 align;
        std::vector<std::u32string> want;
    } cases[] = {
        {"cut at the right edge, going on after the line feed",
         U"abcdefg\nxy",
         0,
         0,
         {0, 0, 4, 3},
         0,
         {U"abcd", U"xy..", U"...."}},
        {"wrapping breaks at the character that overflows",
         U"abcdefg",
         0,
         0,
         {0, 0, 4, 3},
         align::wrap,
         {U"abcd", U"efg.", U"...."}},
        {"a wide character that would straddle the right edge is not drawn",
         U"abc日x",
         0,
         0,
         {0, 0, 4, 2},
         0,
         {U"abc.", U"...."}},
        {"wide characters take two cells", U"日本", 0, 0, {0, 0, 4, 1}, 0, {U"日_本_"}},
        {"rows above the clip are skipped",
         U"a\nb\nc",
         0,
         0,
         {0, 1, 4, 3},
         0,
         {U"....", U"b...", U"c..."}},
        {"characters left of the clip are skipped", U"abcd", 0, 0, {2, 0, 4, 1}, 0, {U"..cd"}},
        {"nothing below the clip's bottom", U"a\nb\nc", 1, 0, {0, 0, 4, 2}, 0, {U".a..", U".b.."}},
    };
    for (const auto& c : cases) {
        screen_buffer b;
        b.size_to(4, static_cast<int>(c.want.size()));
        b.clear();
        paint_state s;
        s.align = c.align;
        write_text(b, c.text, c.x, c.y, c.clip, s);
        EXPECT_EQ(rows(b), c.want) << c.what;
    }
}

TEST(TextWriter, SequencesInsideTheText) {
    screen_buffer b;
    b.size_to(8, 1);
    b.clear();
    paint_state s;
    s.flags = paint::escapes;
    write_text(b, U"ab\x1b[1mcd\x1b[0;38;5;9me\x1b[31;42mf", 0, 0, {0, 0, 8, 1}, s);
    EXPECT_EQ(rows(b)[0], U"abcdef..");
    EXPECT_FALSE(b.row(0)[1].flags & attr::bold);
    EXPECT_TRUE(b.row(0)[2].flags & attr::bold);
    EXPECT_TRUE(b.row(0)[3].flags & attr::bold);
    EXPECT_FALSE(b.row(0)[4].flags & attr::bold) << "0 resets";
    EXPECT_EQ(b.row(0)[4].fg, colour::palette(9));
    EXPECT_EQ(b.row(0)[5].fg, colour::table16(1));
    EXPECT_EQ(b.row(0)[5].bg, colour::table16(2));

    // Without the flag the escape is a character like any other.
    b.clear();
    paint_state plain;
    write_text(b, U"ab\x1b[1mcd", 0, 0, {0, 0, 8, 1}, plain);
    EXPECT_EQ(b.row(0)[2].code, 0x1Bu);
    EXPECT_EQ(b.row(0)[3].code, static_cast<u32>('['));
}

TEST(TextMeasure, LinesWidthsAndLimits) {
    struct {
        std::u32string text;
        int limit;
        bool wrapped;
        int width, lines, consumed;
    } cases[] = {
        {U"ab\ncde", -1, false, 3, 2, 6},
        {U"", -1, false, 0, 1, 0},
        {U"日本語\nx", -1, false, 6, 2, 5},
        {U"abcdef", 4, false, 4, 1, 4},
        {U"ab日", 3, false, 2, 1, 2}, // the overflowing character is taken back
        {U"abcdefg", 3, true, 3, 3, 0},
        {U"a日b", 1, true, 1, 2, 0}, // a character wider than the width ends measuring
    };
    for (const auto& c : cases) {
        measure_result m = c.wrapped ? measure_wrapped(c.text, c.limit) : measure(c.text, c.limit);
        EXPECT_EQ(m.width, c.width);
        EXPECT_EQ(m.lines, c.lines);
        if (!c.wrapped) {
            EXPECT_EQ(m.consumed, c.consumed);
        }
    }
}

TEST(TextMeasure, Alignment) {
    EXPECT_EQ(aligned(U"abcd", 10, 1, align::center).x, 3);
    EXPECT_EQ(aligned(U"abcd", 10, 1, align::right).x, 6);
    EXPECT_EQ(aligned(U"ab", 4, 5, align::middle).y, 2);
    EXPECT_EQ(aligned(U"ab", 4, 5, align::bottom).y, 4);
    EXPECT_EQ(aligned(U"abcd", 10, 1, 0).x, 0);
}

} // namespace
} // namespace zel::tui
