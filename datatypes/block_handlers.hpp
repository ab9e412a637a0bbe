// The block! handlers as the block units share them among themselves (the row is assembled in
// block.cpp), and the search core that find, select, put and path access use.
#pragma once
#include <vector>

#include "datatypes/registry.hpp"

namespace zel::block::handlers {

i32 form(cell* value, cell* buffer, cell* part, i32 limit);
i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);
cell* put(cell* series, cell* key, cell* value, bool case_);
void insert(cell* series, cell* value, i32 part, bool only, i32 dup, bool append);
void change(cell* series, cell* value, i32 part, bool only, i32 dup);
cell* take(cell* series, cell* part, bool deep, bool last);
void swap(cell* first, cell* second);
void trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);
cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable);

} // namespace zel::block::handlers

namespace zel::block::search {

struct request {
    bool only = false, case_ = false, same = false;
    bool last = false, reverse = false, match = false;
    cell* part = nullptr;
    cell* skip = nullptr;
};
struct result {
    i64 position = -1; // the matching cell, or -1
    u32 span = 1;      // cells matched (a sequence's length)
    u32 step = 1;      // the /skip size
    bool backward = false;
};
// The search of `find` on a block-kind series; the value is copied first.
result run(const cell* series, const cell* value, const request& r);

} // namespace zel::block::search

namespace zel::block {
// The cells of a block from its head, copied out of the buffer.
std::vector<cell> cells_of(const cell* b);

// The cells of a block from its head, read where they lie: `first()` is valid until the next
// allocation. When they lie in `target`'s own buffer, whose cells move, they are first copied
// into a block pushed on the data stack (the caller drops it). Nothing is copied to the heap, so
// a long block costs no memory outside the arena.
struct cell_run {
    u32 node = 0;
    u32 head = 0;
    u32 count = 0;
    const cell* first() const { return head_cell(buffer_of(node)) + head; }
};
cell_run cells_in_place(const cell* b, u32 target_node);
// Grows the block's buffer so that n more cells fit (twice the need with `spare`).
series_buffer* make_room(const cell* b, u64 n, bool spare);
} // namespace zel::block
