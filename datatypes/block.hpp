// block!: the series of cells that holds the language's code and data, the helpers every unit
// builds and walks blocks with, and the block! handlers (make, convert, form, mold, compare, copy,
// path access, search, modification, sorting and the set operations). paren!, the path kinds and
// hash! inherit them. Helpers that answer a cell address answer one inside a buffer: it is valid
// only until the next allocation.
#pragma once
#include "runtime/memory.hpp"

namespace zel::block {

// Positions.
u32 cells_from_head(const cell* b);
bool step_head(cell* b);
cell* head_address(cell* b);
cell* tail_address(const cell* b);
bool head_at_tail(const cell* b);
cell* cell_address(const cell* b, u32 index);
void cut_at_head(const cell* b);
void set_tail_index(const cell* b, u32 index);

// Building.
cell* append_value_copy(const cell* b, const cell* value);
void drop_last(cell* b);
void append_cells_from_head(const cell* source, const cell* target);
// Makes the cell an empty block! with room for n cells (below 1 becomes 1).
void init_cell(cell* c, i32 n);
void init_cell_alloc(cell* c, i32 n, bool outside);
// A new empty block in a fresh cell at the tail of the parent (of the root block when null);
// `fixed` takes its buffer outside the series frames.
cell* append_new_fixed(const cell* parent, i32 n);
cell* append_new_sized(const cell* parent, i32 n);
cell* push_cell(const cell* b);
cell* push_new(i32 n);
// Inserts one cell at the head (at index 0 with `at_start`); with `advance` the head moves past it.
void insert_one(cell* b, const cell* value, bool advance, bool at_start);
// Inserts every cell of source from its head at the head of target, target's head advancing.
void insert_cells_of(cell* target, const cell* source);
// Stack forms: the value on the stack top into the block just below it; the second argument
// into the first.
void insert_into_below();
void append_into_below();
void append_second_argument();

// Lookups (compare op 12 unless stated). Each answers a copy of the cell, none! when absent.
cell select_value(const cell* b, const cell* value);
bool remove_first_match(cell* b, const cell* value, bool from_start);
cell value_after_word(const cell* b, const cell* word, bool exact);

// Copies. push_duplicate pushes a new block of the same type holding the cells from the head;
// with `deep`, nested block! values are duplicated too (and paren! and the path kinds with
// `all_kinds`).
cell* push_duplicate(const cell* b, bool deep, bool all_kinds);
// Replaces each cell of the block in [from, to) by steps whose type is in `types` (a typeset! or
// datatype!) and that is a series kind, bitset!, object!, error! or map! by its copy.
void copy_matching_types(cell* b, u32 from, u32 to, u32 step, bool deep, const cell* types);

// The set operations of the natives `unique`, `union`, `intersect`, `exclude` and `difference`
// (codes 8-12); the result replaces `first`. `skip` is the /skip argument or null.
namespace set_op {
enum : u32 { unique = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12 };
}
void set_operation(cell* first, cell* second, bool case_, cell* skip, u32 code);
// The same on the two arguments of the current frame.
void set_operation_on_frame(bool case_, cell* skip, u32 code);

void register_type();

// Handlers shared with the path kinds and paren!.
cell* make(cell* proto, cell* spec, u32 type);
cell* to(cell* proto, cell* spec, u32 type);
cell* copy(cell* value, cell* out, cell* part, bool deep, cell* types);
// The element loop of mold: the cells from the head, new-line marks and indentation honoured.
i32 mold_cells(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
               i32 indent);

} // namespace zel::block
