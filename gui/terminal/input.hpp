// Input for the text UI: the terminal's bytes, decoded by the console's decoder in its GUI
// dialect, become the backend's keys (code points, or special-key codes with the special flag),
// mouse reports and cursor answers.
#pragma once
#include <deque>
#include <string_view>

#include "console/vt_input.hpp"

namespace zel::tui {

namespace key_code {
constexpr i32 up = -20, down = -21, right = -22, left = -23, end = -24, home = -25, delete_ = -27,
              page_up = -28, page_down = -29;
constexpr i32 f1 = -31; // F1 to F12: -31 to -42
} // namespace key_code

namespace event_flag {
constexpr u32 special = 0x1, aux_down = 0x400000, alt_down = 0x800000, mid_down = 0x1000000,
              down = 0x2000000, away = 0x4000000, control = 0x10000000, shift = 0x20000000,
              alt = 0x40000000, command = 0x80000000;
}

struct input_item {
    enum kind_t { key, mouse, cursor } kind;
    i32 code = 0;     // key code; mouse: the button (0-5)
    u32 flags = 0;    // event flags
    int x = 0, y = 0; // mouse: 0-based column and row (terminal rows); cursor: 0-based too
    bool release = false;
};

// A mouse report as the GUI sees it: a button event (type 1-6: down, up, mid-down, mid-up,
// alt-down, alt-up), a motion (`over`, 12) or a wheel turn (`wheel`, 11, amount +1 or -1), at a
// cell relative to the frame's top row.
struct mouse_event {
    u32 type;
    float x, y;
    u32 flags;
    int wheel = 0;
};

// Press and release transitions: a press reported while the button is already down is a drag.
class mouse_reports {
  public:
    // Nothing for a report that means nothing (other buttons).
    bool convert(const input_item& report, int top_row, mouse_event& out);
    void reset() { pressed_ = false; }

  private:
    bool pressed_ = false; // the last transition seen was a press
};

class input_decoder {
  public:
    // Decodes the bytes of one pass. An unfinished sequence waits for the next pass; when a pass
    // brings nothing at all, an Escape left waiting is the Escape key.
    void pass(std::string_view bytes, std::deque<input_item>& out);
    void reset() { decoder_ = vt_input::decoder(vt_input::dialect::gui); }
    // Something is waiting to be completed by the next pass.
    bool pending() const { return decoder_.pending(); }

  private:
    void convert(std::deque<vt_input::event>& events, std::deque<input_item>& out);
    vt_input::decoder decoder_{vt_input::dialect::gui};
};

} // namespace zel::tui
