// point2D! and point3D!: coordinates as 32-bit floats in words 1-2 (word 3 is 0) and in words 1-3.
#pragma once
#include "runtime/cell.hpp"

namespace zel::point2d {

// Set the type keeping the slot's header bits 8-31.
cell* init_cell(cell* slot, float x, float y);
cell* push_new(float x, float y);
void append_to_block(cell* block, float x, float y);

void register_type();

} // namespace zel::point2d

namespace zel::point3d {

cell* init_cell(cell* slot, float x, float y, float z);
cell* push_new(float x, float y, float z);
void append_to_block(cell* block, float x, float y, float z);

void register_type();

} // namespace zel::point3d
