// `transcode`: source text (binary! or string!) to values through the lexer, with the native's
// calling convention: the source at the first argument cell (also the result slot), each
// refinement -1 when absent or the position of its first argument.
#pragma once
#include <memory>

#include "lexer/lexer.hpp"

namespace zel::transcode {

// Refinement positions, in spec order.
namespace refinement {
enum : u32 { next, one, prescan, scan, part, into, trace, count };
}

// The native. A /trace callback that is a function value goes through `callback_for_value`.
void native(const i32* refinements);
// The same with a C++ callback in place of the /trace argument.
void run(const i32* refinements, lexer::callback* cb);

// Makes the lexer callback of a /trace argument (function! or routine!); installed by the
// interpreter. While it is null, /trace with such a value raises `not-done`.
using callback_maker = std::unique_ptr<lexer::callback> (*)(const cell* value);
extern callback_maker callback_for_value;

} // namespace zel::transcode
