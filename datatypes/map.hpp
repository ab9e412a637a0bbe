// map!: key/value associations with hashed lookup. Word 2 is the key/value block (key, value,
// key, value ... in insertion order, head always 0), word 3 its hash index (map kind). A removed
// entry keeps its key; its value cell's header is 0 and every reader skips it.
#pragma once
#include "runtime/cell.hpp"

namespace zel::map {

// Makes the slot a map! over the key/value block `block_node` (0: a new empty block of `size`
// cells), indexing it: a key given twice keeps its first place and its last value, and keys are
// stored in their canonical form. The slot's header bits 8-31 are kept. A key of a type that
// cannot be stored raises `invalid-path` (the key, its datatype) before anything is changed.
cell* init_cell(cell* slot, u32 block_node, u32 size);
// Whether values of the type may be keys (the lexer's check of #[...] literals).
bool key_allowed(u32 type);
// Converts a key cell in place to its stored form; `path` (or the key) feeds the error.
void canonical_key(cell* key, const cell* path);

void register_type();

} // namespace zel::map
