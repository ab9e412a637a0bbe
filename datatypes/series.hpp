// series!: the abstract parent of every value that is a position in a series buffer. Its
// handlers work on raw units (16-byte cells, or 1-, 2- and 4-byte text units) and switch on the
// type only for what an element is. A head index may lie outside 0..length after the buffer
// shrank through another value: every handler clamps it before use.
#pragma once
#include <string_view>

#include "runtime/memory.hpp"

namespace zel::series {

// Whether the head position lies at or past the tail.
bool head_at_tail(const cell* s);
// The buffer's length in units, head ignored.
u32 units_from_start(const cell* s);
// Adds n to the head when the new position stays at or before the tail; answers whether the head
// is now at or past the tail.
bool skip_units(cell* s, i32 n);
// Units from the head (or from 0) to the tail; a negative head counts as 0; a head past the tail
// is first set to the tail (the cell is written) and 0 answered.
u32 count_units(cell* s, bool from_start);

// The head index clamped to 0..length (the cell is not written).
u32 clamped_head(const cell* s);

// Whether the type keeps its values in a series buffer (block kinds, text kinds, binary!,
// vector!, image!).
bool is_series_type(u32 t);

// A new empty series of the type and unit with room for n units, head 0, in `out`.
cell* init_empty(cell* out, u32 type, u32 n, u32 unit);

// Grows the buffer of `node` so that `needed` more units fit after its tail; `spare` asks for
// twice the need. Answers the buffer (which may have moved).
series_buffer* ensure_room(u32 node, u64 needed, bool spare);

// Names the series units pass in errors and compare fields with. Until the symbol table exists a
// word is none! and a symbol 0.
cell* name_word(cell* out, std::string_view text);
u32 name_symbol(std::string_view text);
[[noreturn]] void raise_refine_arg(std::string_view refinement, const cell* value);

// Element access of the types this unit serves but does not build. Each unit installs its hook
// when it registers; an element operation without one raises `internal`/`not-done`.
struct element_hooks {
    // vector!: the element at a unit index as a value of the element type.
    void (*vector_pick)(const cell* vector, u32 index, cell* out) = nullptr;
    // vector!: stores a value of the element type at a unit index.
    void (*vector_poke)(cell* vector, u32 index, const cell* value) = nullptr;
    // binary!: stores the byte of an integer! or char! (raising on other values).
    void (*binary_store)(u8* at, const cell* value) = nullptr;
};
extern element_hooks hooks;

// Keeping a hash! block's index in step with its cells (nothing for a block without an index).
// Each is called once the cells are in their new places.
namespace index_sync {
// n cells were inserted at `at` into a block that had `old_length` cells.
void inserted(const cell* s, u32 at, u32 n, u32 old_length);
// n cells at `at` were cut out of a block that had `old_length` cells.
void removed(const cell* s, u32 at, u32 n, u32 old_length);
// The run of n cells at `from` moved before the cell that was at `to`.
void moved(const cell* s, u32 to, u32 from, u32 n);
// The cell at `at` is about to be replaced / was replaced.
void replace_before(const cell* s, u32 at);
void replace_after(const cell* s, u32 at);
void rebuild(const cell* s);
} // namespace index_sync

void register_type();

// Handlers that block! and the path kinds reuse.
cell* copy(cell* value, cell* out, cell* part, bool deep, cell* types);
cell* take(cell* series, cell* part, bool deep, bool last);
cell* pick(cell* series, i32 index, cell* index_cell);
void poke(cell* series, i32 index, cell* value, cell* index_cell);

} // namespace zel::series
