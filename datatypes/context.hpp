// Contexts map words to value slots. A context node's buffer holds two cells: the context cell
// (word 1 the key table, a hash index over the key words in slot order; word 2 the values series
// node, or for a stack context the arena offset of the running call's first argument, 0 when no
// call runs) and the self cell (the value that owns the context). Lookups compare canonical
// symbol ids, so names are case-insensitive; keys are only ever appended, so slots stay valid.
#pragma once
#include "runtime/cell.hpp"

namespace zel::context {

namespace kind {
constexpr u32 global = 0, function = 1, object = 2;
}
constexpr u32 stack_flag = 0x400000;
constexpr u32 object_flag = 0x1000000;
constexpr u32 unbound = 0xFFFFFFFF; // the index of a word bound to no slot

void set_up_global();
u32 global_node();

cell* context_cell(u32 node);
cell* self_cell(u32 node);
u32 kind_of(u32 node);
bool is_stack(u32 node);
u32 key_count(u32 node);
cell* key_word(u32 node, u32 position);
// The first value cell, or null for a stack context whose function is not running.
cell* values_base(u32 node);

// Lookup and addition. The index answered is the slot of the key (-1 when absent).
i32 find_symbol_index(u32 ctx, u32 symbol, bool case_insensitive);
// Find or add (without touching the values): the slot of a present key; for a new key -1, its
// slot going to `out`.
i32 find_symbol_slot(u32 ctx, u32 symbol, bool case_insensitive, i32* out);
i32 find_or_add_word(u32 ctx, const cell* word);
cell* add_word_if_absent(u32 ctx, const cell* word, const cell* value);
void put_word_value(u32 ctx, const cell* word, const cell* value);

// A word of the global context for a symbol (see the interning of literals).
cell global_word_for(u32 symbol, bool case_insensitive, bool copy);
cell global_word_copy(u32 symbol);
// A word! bound to the global context's slot for the symbol (added case-insensitively).
cell global_word(u32 symbol);

cell* symbol_value_address(u32 symbol, u32 ctx);
cell* value_address_in(const cell* word, u32 ctx);
cell* word_value_address(const cell* word);
void store_word_value(cell* word, const cell* value, u32 ctx, bool fire);
inline void set_word_value(cell* word, const cell* value) {
    store_word_value(word, value, word->w1, true);
}

// Making and cloning.
u32 new_node(u32 expected, bool stack, bool object, const cell* source, u32 kind);
u32 new_from_spec(const cell* spec, bool stack, bool object, u32 kind);
void clone_keys(cell* value, u32 kind);
bool collect_set_words(u32 ctx, cell* block);

// Binding.
i32 bind_one_word(u32 ctx, cell* word);
cell* bind_block_words(cell* block, u32 ctx, bool self);

// Called when a store through a word reaches an owner with change-handler information: the owner
// (self cell), the word, the old value and the new value. Installed by the object unit.
extern void (*fire_change)(cell* owner, cell* word, cell* old_value, cell* new_value);

void register_type();

} // namespace zel::context
