// Argument descriptors: a callable's spec turned once into a compact block that the interpreter
// walks on every call, cached in cell 1 of the callable's side series. Layout: each argument is
// two cells, a typeset! (argument kind in header bits 20-21) and the spec word; each refinement
// but /local is its refinement! cell (word 1 its slot for functions, word 3 its ordinal) followed
// by its arguments; the last cell is an integer!: the count of /local and its words (functions
// and routines) or of the refinements (natives and actions).
#pragma once
#include "runtime/cell.hpp"

namespace zel::descriptor {

namespace kind {
constexpr u32 normal = 0, get = 1, literal = 2, return_ = 3;
}
constexpr u32 kind_shift = 20;
inline u32 kind_of(const cell* typeset) { return (typeset->header >> kind_shift) & 3; }

// The descriptor of a function!, routine!, native! or action! (built on first use, kept in the
// callable's side series; a kept block with index 1 is provisional, see `of`). The block's
// buffer may move at the next allocation; callers re-read it through the returned node.
u32 of(const cell* callable);

// The typeset of a type block: datatypes and typesets named by its words (every type but unset!
// without a block). A type name without a value lets every type through and sets `*unresolved`.
cell typeset_of_block(const cell* types, bool* unresolved = nullptr);

} // namespace zel::descriptor
