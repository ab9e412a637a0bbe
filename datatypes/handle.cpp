// handle!: cell makers, registry checks, form, mold and compare.
#include "datatypes/handle.hpp"

#include <string>

#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/stack.hpp"
#include "runtime/ext_res.hpp"
#include "runtime/memory.hpp"

namespace zel::handle {

namespace {
// Kind names from kind 1 on; the table's first entry is read by no kind.
constexpr const char* kind_names[] = {"null", "fd", "monitor", "window", "font", "rich-text"};
constexpr u32 kind_count = sizeof(kind_names) / sizeof(kind_names[0]);
} // namespace

cell* init_cell(cell* target, u32 value, u32 kind) {
    *target = cell{type_id::handle, kind, value, plain};
    return target;
}

void set_result(u32 value, u32 kind) {
    init_cell(stack::result(), value, kind);
}

cell* push_new(u32 value, u32 kind) {
    return init_cell(stack::reserve_slot(), value, kind);
}

cell* push_null() {
    return push_new(0, kind::none);
}

void append_to_block(cell* block, u32 value, u32 kind) {
    cell h;
    init_cell(&h, value, kind);
    *memory::append_cell_slot(block) = h;
}

cell* init_registered(cell* target, i32 record, u32 kind) {
    const ext_res::record* r = ext_res::at(record);
    *target = cell{type_id::handle, kind, static_cast<u32>(record), r ? r->generation : plain};
    return target;
}

bool is_registered(const cell* h) {
    return h->w3 != plain;
}

bool is_live(const cell* h) {
    return !is_registered(h) || ext_res::is_live(static_cast<i32>(h->w2), h->w3);
}

void* object_of(const cell* h) {
    if (!is_registered(h) || !is_live(h)) return nullptr;
    return ext_res::at(static_cast<i32>(h->w2))->object;
}

namespace {
i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    std::string text(string::int_hex_text(static_cast<i32>(value->w2), false).view());
    text += 'h';
    return out::text(buffer, text, limit);
}

i32 mold(cell* value, cell* buffer, bool, bool all, bool, cell* part, i32 limit, i32) {
    if (!all) return out::text(buffer, "handle!", limit);
    limit = out::text(buffer, "#[handle! ", limit);
    limit = form(value, buffer, part, limit);
    if (value->w1 > 0 && value->w1 < kind_count) {
        limit = out::text(buffer, " ", limit);
        limit = out::text(buffer, kind_names[value->w1], limit);
    }
    return out::text(buffer, "]", limit);
}

i32 compare(cell* a, cell* b, i32) {
    if (type_of(b) != type_id::handle) return 1;
    i32 x = static_cast<i32>(a->w2), y = static_cast<i32>(b->w2);
    return (x > y) - (x < y);
}
} // namespace

void register_type() {
    action_row row{};
    row.type = type_id::handle;
    row.parent = type_id::integer;
    row.name = "handle!";
    row.form = form;
    row.mold = mold;
    row.compare = compare;
    datatype::register_row(row);
}

} // namespace zel::handle
