// The draw dialect in cells. A draw block is read whole and every command's arguments are
// checked; pens, fills, boxes, lines, triangles, ellipses and text are painted into the screen
// buffer, each placed at the face's origin and cut to the face's clip, so that a face's drawing
// never lands on another face. Every other command is read and changes nothing.
#pragma once
#include "gui/terminal/text_layout.hpp"
#include "runtime/cell.hpp"

namespace zel::tui::draw {

// Where a draw block paints. Without a screen the commands are only checked.
struct target {
    screen_buffer* screen = nullptr;
    int x = 0, y = 0;      // the face's origin, absolute cells
    clip_rect clip{0, 0, 0, 0};
    u32 flags = 0;         // the face's paint flags
};

// Runs a draw block; raises script error draw-invalid (the block and the command's position)
// for arguments that do not fit, draw-infinite for a block that contains itself.
void run(const cell& block, const target& where);

// Nested blocks deeper than this raise draw-infinite.
constexpr int max_depth = 64;

// The platform's draw-image routine: checks the commands, then tells the image's owner.
void draw_image();

} // namespace zel::tui::draw
