// The JSON codec's routines for the library's own code: `_json-unescape` and `_json-encode`.
#pragma once
#include <span>

#include "library/routine_table.hpp"

namespace zel::json_routines {

std::span<const routines::definition> private_routines();

} // namespace zel::json_routines
