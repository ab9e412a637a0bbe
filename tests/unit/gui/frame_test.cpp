// Frame bytes for rows of cells, and the colour rule, against what a terminal must receive.
#include <gtest/gtest.h>

#include "gui/terminal/screen.hpp"

namespace zel::tui {
namespace {

screen_cell ch(char32_t c, u32 flags = 0, u32 fg = 0, u32 bg = 0) {
    return {static_cast<u32>(c), bg, fg, flags};
}

// A one-row inline frame of the cells, from a frame state with the cursor on the top row.
std::string row_bytes(const std::vector<screen_cell>& cells) {
    screen_buffer b;
    b.size_to(static_cast<int>(cells.size()), 1);
    for (std::size_t i = 0; i < cells.size(); ++i) b.row(0)[i] = cells[i];
    frame_state s;
    return frame_bytes(b, s, false);
}

TEST(FrameBytes, AttributeChangesBetweenNeighbouringCells) {
    const u32 bold = attr::bold, dim = attr::dim;
    struct {
        const char* what;
        std::vector<screen_cell> cells;
        std::string body; // between the "\r\x1b[0J" start and the end of the row
    } cases[] = {
        {"equal attributes write nothing between characters",
         {ch('a', bold), ch('b', bold)},
         "\x1b[1mab\x1b[22m"},
        {"dim then bold and dim adds bold only",
         {ch('a', dim), ch('b', dim | bold)},
         "\x1b[2ma\x1b[1mb\x1b[22m"},
        {"bold and dim then dim keeps dim after the common off code",
         {ch('a', dim | bold), ch('b', dim)},
         "\x1b[2m\x1b[1ma\x1b[22m\x1b[2mb\x1b[22m"},
        {"dim and bold then bold keeps bold",
         {ch('a', dim | bold), ch('b', bold)},
         "\x1b[2m\x1b[1ma\x1b[22m\x1b[1mb\x1b[22m"},
        {"every attribute on and off in the fixed order",
         {ch('a', dim | attr::reverse | bold | attr::italic | attr::strike | attr::underline),
          ch('b')},
         "\x1b[2m\x1b[7m\x1b[1m\x1b[3m\x1b[9m\x1b[4ma\x1b[22m\x1b[27m\x1b[23m\x1b[29m\x1b[24mb"},
        {"blink and concealed are never written", {ch('a', attr::blink | attr::concealed)}, "a"},
        {"palette, 16-colour and 24-bit colours",
         {ch('a', 0, colour::palette(196), colour::table16(4)), ch('b', 0, colour::rgb24(1, 2, 3)),
          ch('c', 0, colour::table16(8), 7u << 24)},
         "\x1b[38;5;196m\x1b[44ma\x1b[38;2;1;2;3m\x1b[49mb\x1b[0m\x1b[0mc\x1b[39m\x1b[49m"},
        {"a masked cell writes a star, code 0 a space", {ch('x', attr::masked), ch(0)}, "* "},
        {"the second half of a wide character is skipped",
         {ch(U'日'), ch(0, attr::wide_second), ch('z')},
         "日z"},
    };
    for (const auto& c : cases) {
        std::string want = "\r\x1b[0J" + c.body;
        EXPECT_EQ(row_bytes(c.cells), want) << c.what;
    }
}

TEST(FrameBytes, RowsCaretAndModes) {
    screen_buffer b;
    b.size_to(2, 3);
    b.clear();
    b.row(0)[0] = ch('a', 0, 0, colour::palette(21));
    b.row(1)[1] = ch('b');
    frame_state s;
    s.cursor_row = 2; // left there by the last frame
    // Between rows the background is forgotten and reset; the last row returns to defaults.
    std::string rows = "\x1b[48;5;21ma\x1b[49m \x1b[49m\r\n b\x1b[49m\r\n  ";
    EXPECT_EQ(frame_bytes(b, s, false), "\r\x1b[2A\x1b[0J" + rows);
    EXPECT_EQ(s.cursor_row, 2);

    s.caret_column = 1;
    s.caret_row = 0;
    EXPECT_EQ(frame_bytes(b, s, true), "\r\x1b[2A\x1b[0J" + rows + "\r\x1b[2A\x1b[1C");
    EXPECT_EQ(s.cursor_row, 0);

    s.full_screen = true;
    s.caret_row = 2;
    s.caret_column = 0;
    EXPECT_EQ(frame_bytes(b, s, true), "\x1b[H" + rows + "\r");

    screen_buffer empty;
    empty.size_to(0, 5);
    EXPECT_EQ(frame_bytes(empty, s, false), "");
}

TEST(FrameBytes, EraseAndLeave) {
    frame_state s;
    EXPECT_EQ(erase_bytes(s), "") << "no UI on screen";
    s.written = true;
    s.height = 3;
    s.cursor_row = 0;
    // Erased even when the cursor is on the UI's first row.
    EXPECT_EQ(erase_bytes(s), "\r\x1b[0J");
    s.cursor_row = 2;
    EXPECT_EQ(erase_bytes(s), "\r\x1b[2A\x1b[0J");
    EXPECT_EQ(s.cursor_row, 0);

    struct {
        int height, cursor_row;
        const char* bytes;
    } leave[] = {{3, 0, "\x1b[2B\r\n"}, {3, 1, "\x1b[1B\r\n"}, {3, 2, "\r\n"}, {1, 0, "\r\n"}};
    for (const auto& l : leave) {
        s.height = l.height;
        s.cursor_row = l.cursor_row;
        EXPECT_EQ(leave_bytes(s), l.bytes) << l.height << " " << l.cursor_row;
    }
}

TEST(ColourRule, MatchesTheTerminalsDownConversion) {
    // Palette indexes that tmux chooses for these colours.
    struct {
        int r, g, b, index;
    } cases[] = {{128, 128, 128, 244}, {255, 0, 0, 196},    {135, 135, 135, 102},
                 {100, 150, 200, 68},  {0, 0, 0, 16},       {255, 255, 255, 231},
                 {8, 8, 8, 232},       {238, 238, 238, 255}};
    for (const auto& c : cases)
        EXPECT_EQ(colour::from_rgba(c.r, c.g, c.b, 0), colour::palette(c.index))
            << c.r << "." << c.g << "." << c.b;
    EXPECT_EQ(colour::from_rgba(10, 20, 30, 255), colour::default_) << "transparent";
    // Over a grid, the answer is the nearer of the cube entry and the grey entry, grey on a tie.
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 17) {
                u32 code = colour::from_rgba(r, g, b, 0);
                ASSERT_EQ(code >> 24, 2u);
                int i = static_cast<int>(code & 0xFF);
                ASSERT_GE(i, 16);
                colour::rgb p = colour::palette_rgb(i);
                int d = (p.r - r) * (p.r - r) + (p.g - g) * (p.g - g) + (p.b - b) * (p.b - b);
                EXPECT_LE(d, 3 * 40 * 40) << r << "." << g << "." << b;
            }
}

} // namespace
} // namespace zel::tui
