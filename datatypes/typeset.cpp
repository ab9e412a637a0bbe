// typeset!: making, set operations, membership, comparison and molding.
#include "datatypes/typeset.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"

namespace zel::typeset {

namespace cop = actions::compare_op;

cell* init_cell(cell* target, u32 w1, u32 w2, u32 w3) {
    *target = cell{type_id::typeset, w1, w2, w3};
    return target;
}

void append_to_block(cell* block, u32 w1, u32 w2, u32 w3) {
    cell t;
    init_cell(&t, w1, w2, w3);
    *memory::append_cell_slot(block) = t;
}

cell* init_all_but_unset(cell* target) {
    init_cell(target, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
    reinterpret_cast<u8*>(&target->w1)[type_id::unset >> 3] &= ~(0x80u >> (type_id::unset & 7));
    return target;
}

cell* build_from_block(cell* target, const cell* block) {
    cell bits;
    init_cell(&bits, 0, 0, 0);
    cell b = *block;
    for (u32 i = b.w1; i < used_units(buffer_of(b.w2)); i++) {
        cell element = head_cell(buffer_of(b.w2))[i];
        cell v = element;
        if (type_of(&element) == type_id::word) {
            v = *context::word_value_address(&element);
            if (is_unset(&v)) error::raise(err::E("script", "no-value"), &element);
        }
        switch (type_of(&v)) {
        case type_id::datatype:
            typeset_set(&bits, v.w1);
            break;
        case type_id::typeset:
            bits.w1 |= v.w1;
            bits.w2 |= v.w2;
            bits.w3 |= v.w3;
            break;
        case type_id::word:
            typeset_set(&bits, type_id::object);
            break;
        case type_id::block:
            break;
        default:
            error::raise(err::E("script", "invalid-type-spec"), &element);
        }
    }
    *target = bits;
    return target;
}

void set_op(u32 code) {
    cell* first = stack::arg(0);
    if (code == op::unique) return;
    cell* second = stack::arg(1);
    cell other;
    if (type_of(second) == type_id::datatype) {
        init_cell(&other, 0, 0, 0);
        typeset_set(&other, second->w1);
    } else if (type_of(second) == type_id::typeset) {
        other = *second;
    } else {
        error::raise(err::E("script", "invalid-arg"), second);
    }
    cell a = *first;
    switch (code) {
    case op::or_:
    case op::union_:
        init_cell(first, a.w1 | other.w1, a.w2 | other.w2, a.w3 | other.w3);
        break;
    case op::and_:
    case op::intersect:
        init_cell(first, a.w1 & other.w1, a.w2 & other.w2, a.w3 & other.w3);
        break;
    case op::xor_:
    case op::difference:
        init_cell(first, a.w1 ^ other.w1, a.w2 ^ other.w2, a.w3 ^ other.w3);
        break;
    case op::exclude:
        init_cell(first, a.w1 & ~other.w1, a.w2 & ~other.w2, a.w3 & ~other.w3);
        break;
    default:
        runtime::fatal_error_exit(101, __builtin_return_address(0));
    }
}

void to_block(const cell* bits, cell* block) {
    cell set = *bits;
    for (u32 t = 1; t <= datatype::max_type_id(); t++) {
        if (!typeset_has(&set, t)) continue;
        const cell* w = datatype::word_of(t);
        if (!w) continue;
        cell word = *w;
        *memory::append_cell_slot(block) = word;
    }
}

u32 count_types(const cell* bits) {
    u32 n = 0;
    for (u32 t = 1; t <= datatype::max_type_id(); t++)
        if (typeset_has(bits, t)) n++;
    return n;
}

namespace {
cell* make(cell* proto, cell* spec, u32) {
    switch (type_of(spec)) {
    case type_id::typeset:
        *proto = *spec;
        return proto;
    case type_id::block:
        return build_from_block(proto, spec);
    default: {
        cell type;
        init_datatype(&type, type_id::typeset);
        error::raise(err::E("script", "bad-to-arg"), &type, spec);
    }
    }
}

i32 write(cell* value, cell* buffer, bool only, cell* part, i32 limit) {
    cell set = *value;
    if (!only) limit = out::text(buffer, "make typeset! [", limit);
    bool written = false;
    for (u32 t = 1; t <= datatype::max_type_id(); t++) {
        if (!typeset_has(&set, t)) continue;
        if (part && limit < 0) break;
        limit = out::text(buffer, datatype::name_of(t), limit);
        limit = out::text(buffer, " ", limit);
        written = true;
    }
    if (written) {
        series_buffer* b = buffer_of(buffer->w2);
        string::truncate_units(b, used_units(b) - 1);
        limit++;
    }
    if (!only) limit = out::text(buffer, "]", limit);
    return limit;
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    return write(value, buffer, false, part, limit);
}

i32 mold(cell* value, cell* buffer, bool only, bool, bool, cell* part, i32 limit, i32) {
    return write(value, buffer, only, part, limit);
}

i32 compare(cell* a, cell* b, i32 op) {
    if (type_of(b) != type_id::typeset) return -2;
    switch (op) {
    case cop::equal:
    case cop::not_equal:
    case cop::strict_equal:
    case cop::same:
    case cop::find:
        return (a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3) ? 0 : 1;
    case cop::sort:
    case cop::case_sort: {
        u32 x = count_types(a), y = count_types(b);
        return (x > y) - (x < y);
    }
    default:
        return -2;
    }
}

void complement(cell* value) {
    init_cell(value, ~value->w1, ~value->w2, ~value->w3);
}

cell* find(cell* series, cell* value, cell*, bool, bool, bool, bool, cell*, cell*, bool, bool, bool,
           bool) {
    if (type_of(value) != type_id::datatype) error::raise(err::E("script", "invalid-arg"), value);
    bool member = typeset_has(series, value->w1);
    return init_logic(series, member);
}

template <u32 Code> void set_op_entry() {
    set_op(Code);
}
} // namespace

void register_type() {
    action_row row{};
    row.type = type_id::typeset;
    row.parent = 0;
    row.name = "typeset!";
    row.make = make;
    row.to = make;
    row.form = form;
    row.mold = mold;
    row.compare = compare;
    row.and_t = set_op_entry<op::and_>;
    row.complement = complement;
    row.or_t = set_op_entry<op::or_>;
    row.xor_t = set_op_entry<op::xor_>;
    row.find = find;
    datatype::register_row(row);
}

} // namespace zel::typeset
