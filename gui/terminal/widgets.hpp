// Widget records of the text UI. A face's widget is a record in one registry; its handle carries
// the record index and a generation, so a handle kept after its widget was destroyed is refused
// instead of followed. A record destroyed while an event is being posted is unlinked and marked
// dead at once; its slot is reused only after the pass, and the backend looks every record up
// again after each call into script code.
#pragma once
#include <span>
#include <string>

#include "gui/terminal/text_layout.hpp"
#include "gui/terminal/widget_kinds.hpp"
#include "library/routine_table.hpp"

namespace zel::tui {
class backend;
}

namespace zel::widgets {

// The platform routines that act on widgets, bound by gui_routines.
void make_view();
void destroy_view();
void show_window();
void refresh_window();
void redraw();
void update_view();
void update_facet();
void focused();
void widget_data();
void set_face_ui();
void set_focus();

// Connects the registry to the program's backend and the collector; called once at start-up.
void install();
// The same for another backend (a fake terminal and clock in tests).
void attach(tui::backend& b);

// Paints a face with its top-left at x, y inside the clip, as a draw block's text does: through
// its widget, or one made for this painting alone when it has none.
void paint_face_at(tui::screen_buffer& screen, const cell& face, int x, int y,
                   const tui::clip_rect& clip);

// Live records, and dead ones whose slots may be reused (for tests).
int live_count();
int free_count();

// The registry as the widget kinds see it. A widget is its record index.
bool alive(i32 widget);
cell face_of(i32 widget);
kinds::state& kind_state(i32 widget);
bool has_focus(i32 widget);
i32 widget_of_face(const cell& face); // -1 when the face has none
void size_of(i32 widget, int& width, int& height);
void set_ui(i32 widget, const std::u32string& ui);
// Reads the facets again after the kind's own script changed them, and repaints.
void reread(i32 widget);
// Posts an event to the widget as input does: its kind first, then the script.
void post_to(i32 widget, u32 type, int x, int y);
void request_repaint();

} // namespace zel::widgets
