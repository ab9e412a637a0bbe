// Small builders shared by the hash index tests: blocks of cells and texts of any unit size.
// Series they make are reached from nothing: a test that allocates afterwards keeps them in a
// held_block or another root.
#pragma once
#include <cstring>
#include <string>

#include "runtime/cell_pool.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/roots.hpp"

namespace zel::test {

inline cell integer(i32 v) {
    return {type_id::integer, 0, static_cast<u32>(v), 0};
}
inline cell block_cell(u32 node) {
    return {type_id::block, 0, node, 0};
}

inline u32 length(u32 block) {
    return used_units(buffer_of(block));
}
inline cell* at(u32 block, u32 i) {
    return head_cell(buffer_of(block)) + i;
}
// The value is kept alive while the block grows: it may be the only reference to its series.
inline cell* append(u32 block, const cell& v) {
    cell value = v;
    gc::root keep(&value);
    cell* c = memory::append_cell_to_buffer(buffer_of(block));
    *c = value;
    return c;
}
// Opens a gap of one cell at pos and stores v there.
inline void insert_cell_at(u32 block, u32 pos, const cell& v) {
    append(block, v);
    cell* c = at(block, 0);
    std::memmove(c + pos + 1, c + pos, (length(block) - 1 - pos) * sizeof(cell));
    c[pos] = v;
}
inline void cut(u32 block, u32 pos, u32 n) {
    series_buffer* b = buffer_of(block);
    cell* c = head_cell(b);
    std::memmove(c + pos, c + pos + n, (used_units(b) - pos - n) * sizeof(cell));
    b->tail -= n * sizeof(cell);
}

// A text of the given type whose buffer has units of 1, 2 or 4 bytes.
inline cell text(const std::u32string& s, u32 unit = 1, u32 type = type_id::string) {
    u32 node = memory::new_series(static_cast<u32>(s.size()) + 1, unit, 0);
    series_buffer* b = buffer_of(node);
    for (std::size_t i = 0; i < s.size(); i++) std::memcpy(head_ptr(b) + i * unit, &s[i], unit);
    b->tail = b->head + static_cast<u32>(s.size()) * unit;
    return {type, 0, node, 0};
}

inline u32 intern(u32 table, const std::string& s, bool any_case = false) {
    return hash_index::intern_text(table, reinterpret_cast<const u8*>(s.data()),
                                   static_cast<u32>(s.size()), any_case);
}

// A symbol table of its own, registered for word hashing and canonical ids. The collector does
// not know it as the symbol table: it stays in the root block for the rest of the process.
inline u32 fresh_symbol_table(u32 expected = 100) {
    cell source = block_cell(memory::new_cell_series(expected));
    gc::root keep(&source);
    u32 table = hash_index::make_index(expected, &source, hash_index::kind::symbols, 0);
    cell held{type_id::hash, 0, source.w2, table};
    roots::append(&held);
    hash_index::set_symbol_table(table);
    return table;
}

// A values block and, once made, its index, kept alive across a test's allocations as a hash!
// value keeps them.
struct held_block : gc::rooted_cell {
    explicit held_block(u32 n) : gc::rooted_cell(cell{type_id::hash, 0, 0, 0}) {
        value.w2 = memory::new_cell_series(n);
    }
    u32 block() const { return value.w2; }
    u32 make_index(u32 kind) {
        cell source = block_cell(value.w2);
        value.w3 = hash_index::make_index(0, &source, kind, 0);
        return value.w3;
    }
};

} // namespace zel::test
