// Widget records of the text UI. A face's widget is a record in one registry; its handle carries
// the record index and a generation, so a handle kept after its widget was destroyed is refused
// instead of followed. A record destroyed while an event is being posted is unlinked and marked
// dead at once; its slot is reused only after the pass, and the backend looks every record up
// again after each call into script code.
#pragma once
#include <span>

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

// Live records, and dead ones whose slots may be reused (for tests).
int live_count();
int free_count();

} // namespace zel::widgets
