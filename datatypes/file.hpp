// file!: a file or folder name in the language's form ("/" separates parts, a final "/" names a
// folder); a url! in every series respect, molded as "%" and the name, with the file I/O actions.
// On this platform the language form already is the OS form: OS text is the name's UTF-8, with
// bytes that were not UTF-8 in an OS name given back as they came.
#pragma once
#include <optional>
#include <string>

#include "runtime/cell.hpp"

namespace zel::file {

// The OS text of a name from its head, or none when it holds a NUL (the OS would cut the name
// there, so such a name is refused before any call).
std::optional<std::string> to_os_text(const cell* file);

// Appends the name's OS form (the text itself here) to the target string; with `full`, a name
// that does not begin with "/" gets the current directory in front.
void to_os_separators(const cell* file, cell* target, bool full);

// The current directory as the OS gives it, ending with "/"; empty when the OS cannot tell.
std::string os_current_dir();

// A new file! of the OS name (decoded losslessly) in the slot; with `folder` a "/" is appended.
// The slot must not lie in a buffer that can move.
void init_cell_os_name(cell* slot, std::string_view os_name, bool folder);

void register_type();

} // namespace zel::file
