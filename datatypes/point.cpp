// point2D! and point3D!.
#include "datatypes/point.hpp"

#include <bit>

#include "datatypes/float.hpp"
#include "datatypes/random_values.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zel {

namespace {
cell* init_point(cell* slot, u32 type, float x, float y, float z) {
    slot->header = (slot->header & ~0xFFu) | type;
    slot->w1 = std::bit_cast<u32>(x);
    slot->w2 = std::bit_cast<u32>(y);
    slot->w3 = type == type_id::point3d ? std::bit_cast<u32>(z) : 0;
    return slot;
}

cell* fresh(cell* c) {
    c->header = 0;
    return c;
}

// "(" then each coordinate in the coordinate text, separated by ", ", then ")".
i32 form_point(cell* value, cell* buffer, cell*, i32 limit) {
    u32 n = type_of(value) == type_id::point3d ? 3 : 2;
    const u32 words[3] = {value->w1, value->w2, value->w3};
    limit = out::text(buffer, "(", limit);
    for (u32 i = 0; i < n; i++) {
        if (i) limit = out::text(buffer, ", ", limit);
        double coordinate = std::bit_cast<float>(words[i]);
        limit = float_::form_to(buffer, coordinate, float_::format::coordinate, limit);
    }
    return out::text(buffer, ")", limit);
}

i32 mold_point(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form_point(value, buffer, part, limit);
}
} // namespace

namespace point2d {
cell* init_cell(cell* slot, float x, float y) {
    return init_point(slot, type_id::point2d, x, y, 0);
}
cell* push_new(float x, float y) {
    return init_cell(fresh(stack::reserve_slot()), x, y);
}
void append_to_block(cell* block, float x, float y) {
    init_cell(fresh(memory::append_cell_slot(block)), x, y);
}
void register_type() {
    datatype::register_row(action_row{.type = type_id::point2d,
                                      .parent = 0,
                                      .name = "point2D!",
                                      .random = random_values::point,
                                      .form = form_point,
                                      .mold = mold_point});
}
} // namespace point2d

namespace point3d {
cell* init_cell(cell* slot, float x, float y, float z) {
    return init_point(slot, type_id::point3d, x, y, z);
}
cell* push_new(float x, float y, float z) {
    return init_cell(fresh(stack::reserve_slot()), x, y, z);
}
void append_to_block(cell* block, float x, float y, float z) {
    init_cell(fresh(memory::append_cell_slot(block)), x, y, z);
}
void register_type() {
    datatype::register_row(action_row{.type = type_id::point3d,
                                      .parent = 0,
                                      .name = "point3D!",
                                      .random = random_values::point,
                                      .form = form_point,
                                      .mold = mold_point});
}
} // namespace point3d

} // namespace zel
