// percent!.
#include "datatypes/percent.hpp"

#include "datatypes/float.hpp"
#include "datatypes/registry.hpp"
#include "runtime/memory.hpp"

namespace zel::percent {

cell* init_cell(cell* slot, double fraction) {
    *slot = {type_id::percent, 0, 0, 0};
    set_float_payload(slot, fraction);
    return slot;
}

cell* init_cell_halves(cell* slot, u32 low, u32 high) {
    *slot = {type_id::percent, 0, low, high};
    return slot;
}

void append_to_block(cell* block, double fraction) {
    init_cell(memory::append_cell_slot(block), fraction);
}

void append_to_block_halves(cell* block, u32 low, u32 high) {
    init_cell_halves(memory::append_cell_slot(block), low, high);
}

namespace {
i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    return float_::form_to(buffer, float_of(value) * 100.0, float_::format::percent, limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}
} // namespace

void register_type() {
    action_row row = action_row::inheriting(type_id::percent, type_id::float_, "percent!");
    row.form = form;
    row.mold = mold;
    datatype::register_row(row);
}

} // namespace zel::percent
