// handle!: an opaque 32-bit platform value carried through the language unchanged. Word 1 is the
// kind, word 2 the value, word 3 -1 for a plain value (a file descriptor); a handle of an object
// kept in the external-resource registry holds the record index in word 2 and the record's
// generation in word 3, so that a handle that outlived its object is detected, never followed.
#pragma once
#include "runtime/cell.hpp"

namespace zel::handle {

namespace kind {
constexpr u32 none = 0, fd = 1, monitor = 2, window = 3, font = 4, rich_text = 5;
}
constexpr u32 plain = 0xFFFFFFFF;

cell* init_cell(cell* target, u32 value, u32 kind);
void set_result(u32 value, u32 kind);
cell* push_new(u32 value, u32 kind);
cell* push_null();
void append_to_block(cell* block, u32 value, u32 kind);

// A handle of a live registry record.
cell* init_registered(cell* target, i32 record, u32 kind);
bool is_registered(const cell* h);
// False for a registered handle whose record was freed (or reused) since.
bool is_live(const cell* h);
// The registry object behind a live registered handle, else null.
void* object_of(const cell* h);

void register_type();

} // namespace zel::handle
