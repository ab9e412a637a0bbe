// Services of the runtime for the library's own code, and the hand-over of `system`.
#pragma once
#include "runtime/cell.hpp"

namespace zel::system_services {

// system/options/float/full?: kept, read by nothing.
extern bool full_float_support;

// Makes the private routines (once).
void set_up();
// Binds the private routines' words ("_" names) in a loaded block of library code, deeply.
void bind_private_words(const cell* block);
// Hands the finished system object's parts to the runtime units that read them: the error
// report's state and prototype, the port environment and the month names.
void adopt_system();

} // namespace zel::system_services
