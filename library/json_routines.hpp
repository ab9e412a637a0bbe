// The JSON decoder's routine for the library's own code: `_json-unescape`.
#pragma once
#include <span>

#include "library/routine_table.hpp"

namespace zel::json_routines {

std::span<const routines::definition> private_routines();

} // namespace zel::json_routines
