// tuple!: 3 to 12 unsigned bytes in cell bytes 4-15 (element 1 the lowest byte of word 1), the
// length in header bits 19-22; bytes past the length are 0 when a tuple is made.
#pragma once
#include "runtime/cell.hpp"

namespace zel::tuple {

constexpr u32 max_length = 12;

inline u32 length_of(const cell* t) {
    return (t->header >> 19) & 15;
}
inline const u8* bytes_of(const cell* t) {
    return reinterpret_cast<const u8*>(&t->w1);
}

// n elements (at most 12) from `bytes`; the slot's new-line mark is kept.
cell* init_cell(cell* slot, const u8* bytes, u32 n);
// n elements given as three little-endian words.
cell* push_new(u32 n, u32 word1, u32 word2, u32 word3);
void append_to_block(cell* block, const u8* bytes, u32 n);

void register_type();

} // namespace zel::tuple
