// Symbols: every written form of a word, interned once and known by its 1-based id. Letter-case
// variants keep their own symbol (so text comes back as written) and share a canonical id, which
// makes words case-insensitive. Symbols are never removed.
#pragma once
#include <string>
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::symbol {

// Makes the symbol series and its hash index (start-up).
void set_up();
u32 table_index();
u32 series_node();

u32 intern_text(std::string_view utf8);
u32 intern_text_any_case(std::string_view utf8);
// The text of a string from its head, as UTF-8.
u32 intern_string(const cell* string);

u32 canonical_id(u32 id);
i32 alias_of(u32 id);
u32 count();

// The symbol cell of an id.
cell* cell_of(u32 id);
// The UTF-8 text, valid until the next allocation; `text` copies it.
std::string_view text_view(u32 id);
std::string text(u32 id);
// The node of the symbol's cached string!, made on first use.
u32 cached_string(u32 id);

void register_type();

} // namespace zel::symbol
