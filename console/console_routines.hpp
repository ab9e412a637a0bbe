// The console's routines: the line editor and standard input as the language reaches them
// (`_set-buffer-history`, `_read-input`, `_terminate-console`, `input-stdin`, `read-stdin`) and
// the console object's `init`. One line editor serves the whole process.
#pragma once

namespace zel::console_routines {

// Binds the input routines to their global words.
void bind_input_routines();
// Puts the `init` routine into the console object that `system/console` holds.
void attach_init();

} // namespace zel::console_routines
