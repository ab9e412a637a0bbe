// The OS services the routines read: the current directory, the state of the last print and the
// OS description.
#pragma once
#include <string>
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::os_bridge {

// The process's current directory as the OS gives it (UTF-8 bytes), empty when unreadable.
std::string current_dir();
bool change_dir(const std::string& path);
// True when the last `print` or `prin` ended its line.
bool last_output_ended_line();
// An object! with the fields name, arch, version and build.
cell os_description();

} // namespace zel::os_bridge
