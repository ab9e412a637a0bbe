// ref!: a reference written @name, a string! whose text has no "@"; it molds with the "@".
#pragma once
#include "runtime/cell.hpp"

namespace zel::ref {

void register_type();

} // namespace zel::ref
