// Widget records of the text UI. A face's widget is a record in one registry; its handle carries
// the record index and a generation, so a handle kept after its widget was destroyed is refused
// instead of followed. A record destroyed while an event is being posted is unlinked and marked
// dead at once; its slot is reused only after the pass, and the backend looks every record up
// again after each call into script code.
#pragma once
#include <span>

#include "library/routine_table.hpp"

namespace zel::widgets {

// The platform routines that act on widgets, bound by gui_routines.
void make_view();
void destroy_view();
void show_window();
void refresh_window();
void redraw();
void update_view();
void focused();
void widget_data();
void set_face_ui();
void set_focus();

// Connects the registry to the backend's hooks and the collector; called once at start-up.
void install();

// Live records (for tests).
int live_count();

} // namespace zel::widgets
