// bitset!: a set of non-negative integers stored as a bit array (word 2 the node of a byte
// series; bit i is mask 0x80 >> (i & 7) of byte i >> 3). The stored bits are the members; bits
// past the stored bytes read as the negated flag (bit 19 of the buffer flags), so a negated set
// stands for an infinite tail of members without storing it.
#pragma once
#include "runtime/cell.hpp"

namespace zel::bitset {

constexpr u32 negated_flag = 0x80000;
// The highest bit number a bitset may hold: a bound on what a spec can make it allocate.
constexpr u32 max_bit = 0x0FFFFFFF;

bool is_negated(const cell* bits);
// Whether bit n is a member.
bool has_bit(const cell* bits, u64 n);

// The set operations of the natives and the logic actions: codes 5 or~, 6 and~, 7 xor~,
// 8 unique, 9 union, 10 intersect, 11 exclude, 12 difference. The right operand must be a
// bitset! (else `invalid-type`). The result is a new bitset! written to `out`.
void logic_op(const cell* left, const cell* right, u32 code, cell* out);

void register_type();

} // namespace zel::bitset
