// hash!: the maker, make and to, and mold.
#include "datatypes/hash.hpp"

#include <cstring>

#include "datatypes/block.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/series.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"

namespace zel::hash {

namespace {
u32 cells_from_head(const cell* block) {
    u32 total = used_units(buffer_of(block->w2));
    i32 head = static_cast<i32>(block->w1);
    if (head < 0) return total;
    return static_cast<u32>(head) < total ? total - static_cast<u32>(head) : 0;
}

// A new block holding the cells of `block` from its head.
u32 copy_cells_from_head(const cell* block) {
    u32 n = cells_from_head(block);
    u32 total = used_units(buffer_of(block->w2));
    u32 node = memory::new_cell_series(n);
    series_buffer* source = buffer_of(block->w2);
    series_buffer* copy = buffer_of(node);
    std::memcpy(head_ptr(copy), head_ptr(source) + std::size_t(total - n) * sizeof(cell),
                std::size_t(n) * sizeof(cell));
    copy->tail = copy->head + n * static_cast<u32>(sizeof(cell));
    return node;
}

[[noreturn]] void bad_to(const cell* spec) {
    cell t;
    init_datatype(&t, type_id::hash);
    error::raise(err::E("script", "bad-to-arg"), &t, spec);
}

// A copy of a hash! from its head: at head 0 the index is cloned, otherwise built anew.
cell* copy_hash(cell* proto, const cell* spec) {
    u32 node = copy_cells_from_head(spec);
    cell made{type_id::hash, 0, node, 0};
    if (static_cast<i32>(spec->w1) <= 0) {
        made.w3 = hash_index::clone(spec->w3, node);
        *proto = made;
        return proto;
    }
    init_cell(&made, node, used_units(buffer_of(node)));
    *proto = made;
    return proto;
}

i32 size_of_number(const cell* spec) {
    if (type_of(spec) == type_id::integer) return int_of(spec);
    if (integer::float_out_of_range(spec)) {
        cell it;
        init_datatype(&it, type_id::integer);
        error::raise(err::E("script", "type-limit"), &it);
    }
    return static_cast<i32>(float_of(spec));
}

cell* to(cell* proto, cell* spec, u32);

cell* make(cell* proto, cell* spec, u32) {
    switch (type_of(spec)) {
    case type_id::integer:
    case type_id::float_: {
        i32 size = size_of_number(spec);
        cell made{type_id::hash, 0, 0, 0};
        init_cell(&made, 0, size < 1 ? 1 : static_cast<u32>(size));
        *proto = made;
        return proto;
    }
    case type_id::block:
    case type_id::paren: {
        u32 node = copy_cells_from_head(spec);
        cell made{type_id::hash, 0, 0, 0};
        init_cell(&made, node, used_units(buffer_of(node)));
        *proto = made;
        return proto;
    }
    case type_id::hash:
        return copy_hash(proto, spec);
    default:
        return to(proto, spec, type_id::hash);
    }
}

cell* to(cell* proto, cell* spec, u32) {
    u32 t = type_of(spec);
    if (t == type_id::hash) return copy_hash(proto, spec);
    cell block;
    if (is_any_block_type(t)) {
        block = {type_id::block, 0, copy_cells_from_head(spec), 0};
    } else {
        auto block_to = act::handler<act::slot::to>(type_id::block);
        if (!block_to) bad_to(spec);
        block = *spec;
        block_to(&block, spec, type_id::block);
        if (type_of(&block) != type_id::block) bad_to(spec);
    }
    cell made{type_id::hash, block.w1, 0, 0};
    init_cell(&made, block.w2, cells_from_head(&block));
    *proto = made;
    return proto;
}

// "make hash! " and the cells as a block molds them.
i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent) {
    if (!only) limit = out::text(buffer, "make hash! ", limit);
    auto block_mold = act::handler<act::slot::mold>(type_id::block);
    if (!block_mold) actions::raise_no_handler(value, act::slot::mold);
    return block_mold(value, buffer, only, all, flat, part, limit, indent);
}
// block!'s copy of the cells; at head 0 with no refinement the index is cloned (no rehashing),
// otherwise built anew over the copied cells.
cell* copy(cell* value, cell* out, cell* part, bool deep, cell* types) {
    bool whole = static_cast<i32>(value->w1) <= 0 && !part && !deep && !types;
    u32 index = value->w3;
    cell* result = block::copy(value, out, part, deep, types);
    // The copy stays in `out` (on the data stack) while the index is made.
    *out = *result;
    out->header = type_id::hash;
    out->w3 = 0;
    if (whole) {
        u32 copied = hash_index::clone(index, out->w2);
        out->w3 = copied;
    } else {
        init_cell(out, out->w2, cells_from_head(out));
    }
    return out;
}

// block!'s sort and trim move cells anywhere after the head: the index is built again.
cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all,
           bool reverse, bool stable) {
    auto block_sort = act::handler<act::slot::sort>(type_id::block);
    cell* result = block_sort(series, case_, skip, compare, part, all, reverse, stable);
    series::index_sync::rebuild(series);
    return result;
}

void trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with) {
    auto block_trim = act::handler<act::slot::trim>(type_id::block);
    block_trim(series, head, tail, auto_, lines, all, with);
    series::index_sync::rebuild(series);
}
} // namespace

cell* init_cell(cell* slot, u32 block_node, u32 size) {
    if (size < 1) size = 1;
    if (!block_node) block_node = memory::new_cell_series(size);
    cell source{type_id::block, 0, block_node, 0};
    u32 index = hash_index::make_index(size, &source, hash_index::kind::hash, 0);
    slot->header = (slot->header & cell_flag::newline) | type_id::hash;
    slot->w2 = block_node;
    slot->w3 = index;
    return slot;
}

void register_type() {
    action_row row = action_row::inheriting(type_id::hash, type_id::block, "hash!");
    row.make = make;
    row.to = to;
    row.mold = mold;
    row.copy = copy;
    row.sort = sort;
    row.trim = trim;
    datatype::register_row(row);
}

} // namespace zel::hash
