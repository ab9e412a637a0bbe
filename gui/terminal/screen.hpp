// The screen buffer and the bytes of a frame. A frame is whole every time (no diff against the
// last one); inside it only the attributes that change from one cell to the next are written, and
// every frame ends with all attributes back at the terminal's defaults.
#pragma once
#include <string>
#include <vector>

#include "runtime/arena.hpp"

namespace zel::tui {

struct screen_cell {
    u32 code = 0; // 0 is written as a space
    u32 bg = 0;   // colour codes
    u32 fg = 0;
    u32 flags = 0;
};

namespace attr {
constexpr u32 blink = 0x1, bold = 0x2, dim = 0x4, reverse = 0x8, underline = 0x10, strike = 0x40,
              italic = 0x100, concealed = 0x200, wide_second = 0x400, masked = 0x800;
}

// A colour code: its kind in the top byte, its value below.
namespace colour {
constexpr u32 default_ = 0;
constexpr u32 table16(u32 index) {
    return 1u << 24 | index;
}
constexpr u32 palette(u32 index) {
    return 2u << 24 | index;
}
constexpr u32 rgb24(u32 r, u32 g, u32 b) {
    return 4u << 24 | r << 16 | g << 8 | b;
}
struct rgb {
    int r, g, b;
};
// Entry i of the 256-colour palette.
rgb palette_rgb(int index);
// A tuple colour (alpha 255 is fully transparent: the default colour) to the palette entry
// nearest to it by the cube-or-grey rule.
u32 from_rgba(int r, int g, int b, int a);
} // namespace colour

// The sequences that turn cell p's attributes and colours into cell q's.
void append_changes(std::string& out, const screen_cell& p, const screen_cell& q);

// Cells of one window, row-major. The storage only grows; a smaller need changes the size.
class screen_buffer {
  public:
    void size_to(int width, int height);
    void clear();
    int width() const { return width_; }
    int height() const { return height_; }
    screen_cell* row(int y) { return cells_.data() + static_cast<std::size_t>(y) * width_; }
    const screen_cell* data() const { return cells_.data(); }
    void release();

  private:
    std::vector<screen_cell> cells_;
    int width_ = 0, height_ = 0;
};

// Where the last frame left things on the terminal.
struct frame_state {
    bool dirty = false;
    bool written = false;  // a UI is on screen
    int cursor_row = 0;    // row the cursor was left on, from the frame's top
    int caret_column = -1; // negative: no caret
    int caret_row = -1;
    int top_row = 0; // the frame's top row on the terminal
    int height = 0;  // rows of the last frame
    bool cursor_hidden = false;
    bool alternate = false; // the alternate screen is on
    bool full_screen = false;
};

// The bytes of a frame of the buffer's cells, with the cursor moved to the caret when
// `shows_caret`; updates the cursor row left. Empty for a buffer without cells.
std::string frame_bytes(const screen_buffer& buffer, frame_state& state, bool shows_caret);

// The bytes that lift the UI off the screen before other output lands where it was.
std::string erase_bytes(frame_state& state);

// The bytes that leave the cursor on the line below the UI's last row.
std::string leave_bytes(const frame_state& state);

} // namespace zel::tui
