// The parse dialect: matches an input series (any block, any text, binary!) against a block of
// rules, with backtracking, and the `parse` native built on it.
#pragma once
#include "runtime/cell.hpp"

namespace zel::parse {

// The native, with the natives' calling convention: input at the first argument cell (also the
// result slot), rules after it; refinements /case, /part length, /trace callback.
void native(const i32* refinements);

} // namespace zel::parse
