// The word family: word!, set-word!, lit-word!, get-word!, refinement! and issue! share one cell
// (word 1 the bound context's node, word 2 the symbol id as written, word 3 the slot index or -1)
// and differ in their type id, in how the interpreter treats them and in how they mold.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::word {

// The global context's word for a literal text (interned exactly, found or added
// case-insensitively: a literal written in another case shares the slot, keeps its text).
cell intern_literal(std::string_view text);
cell* init_cell_global(u32 symbol, cell* target);
cell* push_global_word(u32 symbol);
cell* push_copy(const cell* word);
cell* key_word_at(u32 context, u32 index);
cell* push_key_at(u32 context, u32 index, u32 type);
cell lookup_in_context(u32 context, u32 symbol);

cell* push_value_checked(const cell* word);
cell* value_address_at(u32 context, u32 index);
cell* push_value_at(u32 context, u32 index);
void set_from_second_arg();
void set_at_from_top(u32 context, u32 index);
cell* push_symbol_string(const cell* word);

// The interner the registry uses for the type names.
void intern_type_name(u32 type);

// Retyped copies and literals of the other kinds.
cell refinement_from_literal(std::string_view text);
cell issue_from_literal(std::string_view text);

// word!, lit-word!, set-word!, get-word!, refinement!; issue! registers at its own place.
void register_types();
void register_issue();

} // namespace zel::word
