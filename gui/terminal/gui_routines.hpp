// The backend's routines: the platform routine set and the TUI helpers' routines as private
// routines that the GUI's script side makes members of its objects, and the global routines of
// the GUI (find-flag?, event?, send-event-os).
#pragma once
#include <span>

#include "library/routine_table.hpp"

namespace zel::gui_routines {

std::span<const routines::definition> private_routines();
void bind_globals();

} // namespace zel::gui_routines
