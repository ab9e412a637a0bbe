// paren! and the path kinds. A path's node is on the cycle stack while its elements are written,
// as a block's is, so a path that holds itself shows its mark instead of recursing.
#include "datatypes/path.hpp"

#include "datatypes/block.hpp"
#include "datatypes/block_handlers.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/series.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"

namespace zel {

namespace {

cell* push_as(const cell* value, u32 type) {
    cell* slot = stack::push_value(value);
    cell_ops::write_type(slot, type);
    return slot;
}

// The element at index i of the buffer, copied; false past the tail.
bool element_at(const cell* p, u32 i, cell* out) {
    series_buffer* b = buffer_of(p->w2);
    if (i >= used_units(b)) return false;
    *out = head_cell(b)[i];
    return true;
}

cell* make(cell* proto, cell* spec, u32 type) {
    u32 t = type_of(spec);
    if (is_any_block_type(t)) return block::to(proto, spec, type);
    if (t == type_id::integer || t == type_id::float_ || t == type_id::percent) {
        i32 n;
        if (t == type_id::integer) {
            n = int_of(spec);
        } else {
            if (integer::float_out_of_range(spec))
                error::raise(err::E("script", "out-of-range"), spec);
            n = static_cast<i32>(float_of(spec));
        }
        // Below 1 becomes 1, as for block!: a negative size never reaches the allocator.
        block::init_cell(proto, n < 1 ? 1 : n);
        cell_ops::write_type(proto, type);
        return proto;
    }
    cell datatype;
    init_datatype(&datatype, type);
    error::raise(err::E("script", "bad-make-arg"), &datatype, spec);
}

cell* to(cell* proto, cell* spec, u32 type) {
    u32 t = type_of(spec);
    if (t == type_id::object || t == type_id::typeset || t == type_id::map) {
        cell v = *spec;
        cell_ops::clear_newline_flag(&v);
        block::init_cell(proto, 1);
        block::append_value_copy(proto, &v);
        cell_ops::write_type(proto, type);
        return proto;
    }
    return block::to(proto, spec, type);
}

// Elements from the head separated by "/", formed or molded; no brackets, spaces or breaks.
template <bool Mold>
i32 write_elements(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part,
                   i32 limit) {
    if (cycle_stack::contains(value->w2))
        return out::text(buffer, cycle_stack::cycle_mark(value, Mold), limit);
    cycle_stack::guard g(value->w2);
    cell c;
    for (u32 i = series::clamped_head(value); element_at(value, i, &c); i++) {
        if constexpr (Mold)
            limit = actions::mold_typed(&c, buffer, only, all, flat, part, limit, 0);
        else
            limit = actions::form_typed(&c, buffer, part, limit);
        if (part && limit < 1) break;
        if (i + 1 < used_units(buffer_of(value->w2))) limit = out::text(buffer, "/", limit);
    }
    return limit;
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    return write_elements<false>(value, buffer, false, false, false, part, limit);
}

i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit, i32) {
    return write_elements<true>(value, buffer, only, all, flat, part, limit);
}

i32 mold_lit(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
             i32 indent) {
    limit = out::text(buffer, "'", limit);
    return mold(value, buffer, only, all, flat, part, limit, indent);
}

i32 mold_set(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
             i32 indent) {
    limit = mold(value, buffer, only, all, flat, part, limit, indent);
    return out::text(buffer, ":", limit);
}

i32 mold_get(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
             i32 indent) {
    limit = out::text(buffer, ":", limit);
    return mold(value, buffer, only, all, flat, part, limit, indent);
}

// A derived path kind: its own mold, the rest from path!, and no random, sort or trim.
void register_derived(u32 type, const char* name, act::mold_fn molder) {
    action_row row = action_row::inheriting(type, type_id::path, name);
    row.mold = molder;
    row.random = {};
    row.sort = {};
    row.trim = {};
    datatype::register_row(row);
}

} // namespace

namespace path {
cell* push_retyped(const cell* value) {
    return push_as(value, type_id::path);
}
void register_type() {
    action_row row = action_row::inheriting(type_id::path, type_id::block, "path!");
    row.make = make;
    row.to = to;
    row.form = form;
    row.mold = mold;
    row.copy = block::copy;
    row.random = {};
    row.sort = {};
    row.trim = {};
    datatype::register_row(row);
}
} // namespace path

namespace lit_path {
cell* push_retyped(const cell* value) {
    return push_as(value, type_id::lit_path);
}
void register_type() {
    register_derived(type_id::lit_path, "lit-path!", mold_lit);
}
} // namespace lit_path

namespace set_path {
cell* push_retyped(const cell* value) {
    return push_as(value, type_id::set_path);
}
void register_type() {
    register_derived(type_id::set_path, "set-path!", mold_set);
}
} // namespace set_path

namespace get_path {
cell* push_retyped(const cell* value) {
    return push_as(value, type_id::get_path);
}
void register_type() {
    register_derived(type_id::get_path, "get-path!", mold_get);
}
} // namespace get_path

namespace paren {
cell* push_retyped(const cell* value) {
    return push_as(value, type_id::paren);
}
void register_type() {
    action_row row = action_row::inheriting(type_id::paren, type_id::block, "paren!");
    row.mold = block::handlers::mold;
    row.trim = {};
    datatype::register_row(row);
}
} // namespace paren

} // namespace zel
