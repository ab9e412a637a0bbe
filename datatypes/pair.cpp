// pair!.
#include "datatypes/pair.hpp"

#include "datatypes/integer.hpp"
#include "datatypes/random_values.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zel::pair {

cell* init_cell(cell* slot, i32 x, i32 y) {
    slot->header = (slot->header & ~0xFFu) | type_id::pair;
    slot->w1 = 0;
    slot->w2 = static_cast<u32>(x);
    slot->w3 = static_cast<u32>(y);
    return slot;
}

cell* push_new(i32 x, i32 y) {
    cell* c = stack::reserve_slot();
    c->header = 0;
    return init_cell(c, x, y);
}

void append_to_block(cell* block, i32 x, i32 y) {
    cell* c = memory::append_cell_slot(block);
    c->header = 0;
    init_cell(c, x, y);
}

namespace {
i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    limit = out::text(buffer, integer::to_decimal_text(int_of(value)), limit);
    limit = out::text(buffer, "x", limit);
    return out::text(buffer, integer::to_decimal_text(static_cast<i32>(value->w3)), limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::pair,
                                      .parent = 0,
                                      .name = "pair!",
                                      .random = random_values::pair,
                                      .form = form,
                                      .mold = mold});
}

} // namespace zel::pair
