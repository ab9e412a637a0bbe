// Text in cells: the writer that puts a text into the screen buffer inside a clip rectangle (with
// wrapping, wide characters and, on request, the SGR sequences inside the text), and the measures
// that size-text, alignment and the text-box metrics use. Widths are display widths in cells.
#pragma once
#include <string>

#include "gui/terminal/screen.hpp"

namespace zel::tui {

namespace paint {
constexpr u32 dim = 0x4, reverse = 0x8, masked = 0x800, escapes = 0x1000, skip_text = 0x2000;
}
namespace align {
constexpr u32 right = 1, center = 2, middle = 4, bottom = 8, wrap = 0x20;
}

struct clip_rect {
    int left, top, right, bottom;
};

// What the writer carries from one character to the next: flags ORed into every cell, the
// alignment bits (only `wrap` matters to the writer), and the colours the text's own sequences
// change. A background of `keep` leaves each cell's background as it is.
struct paint_state {
    static constexpr u32 keep = 0xFFFFFFFF;
    u32 flags = 0;
    u32 align = 0;
    u32 fg = colour::default_;
    u32 bg = keep;
    u32 attributes = 0; // set by the text's SGR sequences
};

void write_text(screen_buffer& buffer, const std::u32string& text, int x, int y,
                const clip_rect& clip, paint_state& state);

struct measure_result {
    int width = 0;    // widest line
    int lines = 1;    // counted from 1
    int consumed = 0; // characters taken (measure without wrapping only)
};
// Lines end at line feeds; the walk stops when a line reaches `limit` (negative: no limit).
measure_result measure(const std::u32string& text, int limit = -1);
// Lines also break at the character that would make a line wider than `limit`.
measure_result measure_wrapped(const std::u32string& text, int limit);

// Offsets of a text aligned by the alignment bits inside a box of w x h cells.
struct offset {
    int x, y;
};
offset aligned(const std::u32string& text, int w, int h, u32 bits);

// The text-box queries, by kind: 0 and 6 a caret index to a position, 1 and 5 a position to an
// index, 2 the line height, 3 the size, others the line count. `limit` is the width (negative:
// none). Answers (x, y) for the position kinds, (n, 0) for the counting ones.
struct metric {
    enum kind_t { point, integer, real } kind;
    double x = 0, y = 0;
};
metric text_box_metric(const std::u32string& text, int limit, int kind, double arg_x, double arg_y);

} // namespace zel::tui
