// The runtime's own symbols: interned once at start-up and compared by id afterwards, so that no
// runtime code looks a word up by its text while it runs.
#pragma once
#include "runtime/arena.hpp"

namespace zel::sym {

#define SYM(name, text) extern u32 name;
#include "datatypes/words_rt.def"
#undef SYM

void intern_all();

} // namespace zel::sym
