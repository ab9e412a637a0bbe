// Input for the text UI: the terminal's bytes, decoded by the console's decoder in its GUI
// dialect, become the backend's keys (code points, or special-key codes with the special flag),
// mouse reports and cursor answers.
#pragma once
#include <deque>
#include <string_view>

#include "console/vt_input.hpp"

namespace zel::tui {

namespace key_code {
constexpr i32 up = -20, down = -21, right = -22, left = -23, end = -24, home = -25,
              delete_ = -27, page_up = -28, page_down = -29;
constexpr i32 f1 = -31; // F1 to F12: -31 to -42
} // namespace key_code

namespace event_flag {
constexpr u32 special = 0x1, aux_down = 0x400000, alt_down = 0x800000, mid_down = 0x1000000,
              down = 0x2000000, away = 0x4000000, control = 0x10000000, shift = 0x20000000,
              alt = 0x40000000, command = 0x80000000;
}

struct input_item {
    enum kind_t { key, mouse, cursor } kind;
    i32 code = 0;    // key code; mouse: the button (0-5)
    u32 flags = 0;   // event flags
    int x = 0, y = 0; // mouse: 0-based column and row (terminal rows); cursor: 0-based too
    bool release = false;
};

class input_decoder {
  public:
    // Decodes the bytes of one pass. An unfinished sequence waits for the next pass; when a pass
    // brings nothing at all, an Escape left waiting is the Escape key.
    void pass(std::string_view bytes, std::deque<input_item>& out);
    void reset() { decoder_ = vt_input::decoder(vt_input::dialect::gui); }

  private:
    void convert(std::deque<vt_input::event>& events, std::deque<input_item>& out);
    vt_input::decoder decoder_{vt_input::dialect::gui};
};

} // namespace zel::tui
