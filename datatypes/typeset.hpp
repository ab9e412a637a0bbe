// typeset!: a set of datatypes held inline in the cell, 96 bits in payload words 1-3 read as 12
// bytes in memory order; type id i is bit (0x80 >> (i mod 8)) of byte (i div 8). Bit 0 has no
// meaning; complement inverts all 96 bits, so a complemented set may hold bits of no type.
#pragma once
#include "runtime/cell.hpp"

namespace zel::typeset {

// Operation codes of the union family.
namespace op {
enum : u32 {
    or_ = 5,
    and_ = 6,
    xor_ = 7,
    unique = 8,
    union_ = 9,
    intersect = 10,
    exclude = 11,
    difference = 12
};
}

cell* init_cell(cell* target, u32 w1, u32 w2, u32 w3);
void append_to_block(cell* block, u32 w1, u32 w2, u32 w3);
// Every type but unset!: the type set of an argument declared without types.
cell* init_all_but_unset(cell* target);
// The block form of make: datatypes, typesets and words naming them.
cell* build_from_block(cell* target, const cell* block);
// The union-family operation on the two arguments of the current frame; the result replaces
// the first argument.
void set_op(u32 code);
// Fills the block with the type-name words of the members, in type id order.
void to_block(const cell* bits, cell* block);
// Members among type ids 1 to the highest registered one.
u32 count_types(const cell* bits);

void register_type();

} // namespace zel::typeset
