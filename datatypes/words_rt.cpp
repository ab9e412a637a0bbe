// The runtime's own symbols.
#include "datatypes/words_rt.hpp"

#include "datatypes/symbol.hpp"

namespace zel::sym {

#define SYM(name, text) u32 name = 0;
#include "datatypes/words_rt.def"
#undef SYM

void intern_all() {
#define SYM(name, text) name = symbol::intern_text(text);
#include "datatypes/words_rt.def"
#undef SYM
}

} // namespace zel::sym
