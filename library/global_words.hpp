// The words that start-up puts into the global context before anything else is loaded, in the
// order that `words-of system/words` shows: the runtime's own words, then the head of the
// library's words (base values, action, native and routine names). Words are referred to by
// symbol id or global-context slot, never by the address of a cell.
#pragma once

namespace zel::global_words {

// The runtime's own global words (after the type names).
void intern_runtime_words();
// The first words of the library, found or added in their fixed order.
void intern_library_head();

} // namespace zel::global_words
