// The clipboard: text and file lists. Where a desktop session is found (a Wayland display with
// wl-copy and wl-paste, or an X display with xclip) its clipboard is used through those tools,
// each given a short time to answer so that nothing ever blocks; otherwise an in-process
// clipboard keeps a copy of the value written.
#pragma once
#include "runtime/cell.hpp"

namespace zel::clipboard {

// The contents on the data stack: a string!, a block! of file! values, none! when the clipboard
// holds nothing usable, or false when it cannot be read.
cell* fetch_contents();

// Stores a string! as text, a block! as a list of file names (each value's text), an image! in
// the in-process clipboard, and none! empties the clipboard. Answers whether it was stored; any
// other value raises script/invalid-arg.
bool store_contents(const cell* value);

} // namespace zel::clipboard
