// The boot payload: the library's modules, lexed and serialized at build time. Start-up decodes
// each module from here instead of lexing its source.
#pragma once
#include <span>
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::boot_payload {

// The serialized data of a module path, or empty when the payload holds none. The payload is
// expanded on first use; one that does not expand or whose directory is damaged ends the process
// with code 1 after saying so.
std::span<const u8> module_data(std::string_view path);

} // namespace zel::boot_payload
