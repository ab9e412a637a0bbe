// The widget kinds: what each face type keeps, how it paints and how it reacts to events of
// its own. Fields edit their text with a caret, buttons press with Space, progress bars, text
// lists, check boxes and radio buttons show the text the TUI helpers make for them, group boxes
// draw a border, rich text shows its styled cells, and any face shows its image as half-block
// cells. Every call into script code may destroy the widget: the kinds look it up again after
// each one.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "gui/terminal/screen.hpp"
#include "gui/terminal/text_layout.hpp"
#include "runtime/cell.hpp"

namespace zel::kinds {

enum class kind : u8 {
    plain, window, base, field, button, progress, text_list, rich_text, group_box, check, radio
};

// Whether a face's `flags` facet (a word or a block of words) holds a flag word.
bool has_flag(const cell& facet, std::string_view flag);
// The bits of the flag words a `flags` facet holds; a word the backend does not know raises
// `invalid-arg`. Any facet that is neither a word nor a block gives 0.
u32 face_flags(const cell& facet);

// The kind of a face's `type` word.
kind kind_of_type(const cell& type);

// A field's caret: its index in code points from the text's head, its column and the text's
// width in cells.
struct edit_state {
    int index = 0;
    int column = 0;
    int width = 0;
};

// What a widget keeps for its kind.
struct state {
    kind k = kind::plain;
    edit_state edit;
    u32 edit_text = 0; // the node of the text the caret was measured on
    int first_line = 0; // text list: entries scrolled past
    std::vector<tui::screen_cell> image; // image cells, image_width per row
    int image_width = 0;
    std::vector<tui::screen_cell> styled; // rich text
    bool styled_made = false;
};

// --- editing a field, free of faces (for the widget and for tests) ---

// The caret after the text was set: at the end of what fits in `width` cells.
edit_state measure_edit(const std::u32string& text, int width);

// What a key does to a field's text; `code` is a code point, or with `special` a special-key
// code. The text is not changed here: the caller applies `insert` (at the old index) or
// `remove` (at the new index).
struct edit_step {
    bool handled = false;
    bool insert = false;
    bool remove = false;
    char32_t character = 0;
    edit_state after;
};
edit_step edit_key(const std::u32string& text, const edit_state& caret, int field_width, i32 code,
                   bool special);

// The caret at the character under a click at `column`.
edit_state click_edit(const std::u32string& text, const edit_state& caret, int column);

// --- text lists, free of faces ---

// A text list's selection after a key or a click, and the first visible entry that keeps it in
// view. `selected` is 0 when the face has none.
struct list_move {
    bool handled = false;
    int selected = 0;
    int first_line = 0;
};
list_move list_key(int selected, int first_line, int count, int height, i32 code, bool special);
list_move list_click(int selected, int first_line, int count, int row);

// A check box's or radio button's data after Space or a click: a radio is set; a check box
// turns none into true, inverts a logic! and takes any other value to false.
bool toggled(kind k, const cell& data);

// --- images ---

// An image's pixel words (alpha << 24 | rgb, alpha 255 opaque) scaled to `width` x twice
// `height` pixels, as cells of lower half blocks: the upper pixel behind, the lower in front.
// `depth` 4 writes 24-bit colours, anything else palette entries.
std::vector<tui::screen_cell> image_cells(const u32* pixels, int image_width, int image_height,
                                          int width, int height, int depth);

// The colour depth the backend answered at its start (4: 24-bit, 2: 256 colours).
void set_colour_depth(int depth);

// --- hooks of the widget registry ---

// Where a face is painted and what the registry knows of it.
struct canvas {
    tui::screen_buffer& screen;
    int x, y;          // absolute cell of the face
    int width, height; // its size
    tui::clip_rect clip;
    u32 bg;    // the face colour, or paint_state::keep
    u32 fg;    // the font colour
    u32 flags; // dim when disabled
    cell text;    // the face text as last shown
    cell options; // the options as last shown
    u32 align;    // alignment bits
    const std::u32string* ui; // the UI text set by set-face-ui (may be empty)
    bool window;
};

// The widget was made (its record filled): the kind's set-up.
void made(i32 widget);
// `show` pushed the face's change bits.
void updated(i32 widget, u32 change_bits);
// Paints a face's own cells by its kind (its children are the registry's business). `face` is
// the face as it is now; `focused` whether its widget holds the focus.
void paint(const state& s, const cell& face, bool focused, canvas& c);
// Starts a frame; after it, `caret` answers where the focused caret widget wants the cursor.
void start_frame();
bool caret(int& column, int& row);
// The widget's own reaction to an event posted to it, before the script sees it.
void event(i32 widget, u32 type, int x, int y);
// A key that no handler answered `done`.
void key(i32 widget, i32 code, u32 flags);
// A widget's integer data for `widget-data` (a text list's first visible entry).
int widget_data(i32 widget);

} // namespace zel::kinds
