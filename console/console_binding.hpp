// The console's code bound to words of its own. A user may redefine any global word (`print: 1`,
// `foreach = [1 2] []` leaves `=` holding 2); the console must go on prompting, evaluating and
// quitting all the same. At start-up every global word that the console's code reads is bound
// instead to a private context holding the value the word had then; a function of the library
// that the console's code calls is given a private copy, bound the same way.
#pragma once
#include "runtime/cell.hpp"

namespace zel::console_binding {

// Before the console's modules: notes the global words' values, so that the words the console's
// modules set can be told from the library's.
void note_library_words();

// After the console's modules: binds their code to the private context.
void bind_console_code();

// The console object and the completion function as they were at start-up (null before).
const cell* console_object();
const cell* completion_function();

} // namespace zel::console_binding
