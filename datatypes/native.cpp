// native!, action! and op!.
#include "datatypes/native.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::native_value {

namespace cop = actions::compare_op;

void make_callable(u32 type, u32 index, cell* spec) {
    u32 ctx = context::new_from_spec(spec, true, false, context::kind::function);
    cell ctx_holder{type_id::object, ctx, 0, 0};
    stack::push_value(&ctx_holder);
    u32 side = memory::new_unset_cell_series(2);
    series_buffer* sb = buffer_of(side);
    sb->tail = sb->head + 2 * sizeof(cell);
    cell* cells = head_cell(sb);
    cells[0] = *context::context_cell(ctx);
    init_none(cells + 1);
    cell value{type, index, spec->w2, side};
    *context::self_cell(ctx) = value;
    stack::drop_values(1);
    stack::push_value(&value);
}

namespace {
u32 block_length(const cell* b) { return used_units(buffer_of(b->w2)); }

[[noreturn]] void bad_make(cell* proto, cell* spec) { error::raise_with_args(proto, spec); }

cell* make(cell* proto, cell* spec, u32 type) {
    if (type_of(spec) != type_id::block || block_length(spec) - spec->w1 != 2) bad_make(proto, spec);
    cell s = head_cell(buffer_of(spec->w2))[spec->w1];
    cell n = head_cell(buffer_of(spec->w2))[spec->w1 + 1];
    if (type_of(&s) != type_id::block || type_of(&n) != type_id::integer) bad_make(proto, spec);
    i32 index = int_of(&n);
    bool ok = type == type_id::native
                  ? index >= 1 && static_cast<u32>(index) <= natives::count()
                  : index >= 1 && index <= 62 && index != 8 && actions::entry(static_cast<u32>(index));
    if (!ok) bad_make(proto, spec);
    cell* holder = stack::push_value(&s);
    make_callable(type, static_cast<u32>(index - 1), holder);
    *proto = *stack::top_value();
    stack::top = holder;
    return proto;
}

// The number of arguments of an operator's spec, or -1 when the spec cannot make an operator.
i32 op_arguments(const cell* spec) {
    i32 count = 0;
    bool normal_seen = false;
    for (u32 i = spec->w1; i < block_length(spec); i++) {
        cell* e = head_cell(buffer_of(spec->w2)) + i;
        u32 t = type_of(e);
        if (t == type_id::word) {
            count++;
            normal_seen = true;
        } else if (t == type_id::lit_word || t == type_id::get_word) {
            if (!normal_seen) return -1;
            count++;
        } else if (t == type_id::refinement) {
            u32 s = symbol::canonical_id(e->w2);
            if (s == symbol::canonical_id(sym::local) || s == symbol::canonical_id(sym::extern_))
                break;
            return -1;
        } else if (t == type_id::set_word) {
            break;
        }
    }
    return count;
}

cell* make_op(cell* proto, cell* spec, u32) {
    u32 t = type_of(spec);
    if (t != type_id::native && t != type_id::action && t != type_id::function &&
        t != type_id::routine) {
        cell type;
        init_datatype(&type, t);
        error::raise(err::E("script", "invalid-type"), &type);
    }
    cell s{type_id::block, 0, spec->w2, 0};
    if (op_arguments(&s) != 2) error::raise(err::E("script", "bad-op-spec"));
    cell op = *spec;
    op.header = type_id::op | (t << 16) | (spec->header & 0x0000FF00u);
    if (t == type_id::function || t == type_id::routine)
        *function::side_cell(spec, function::side::op) = *spec;
    *proto = op;
    return proto;
}

u32 source_type(const cell* v) {
    return type_of(v) == type_id::op ? (v->header >> 16) & 0xFF : type_of(v);
}

void reflect(cell* value, u32 field) {
    u32 f = symbol::canonical_id(field);
    if (f == symbol::canonical_id(sym::spec)) {
        *value = cell{type_id::block, 0, value->w2, 0};
    } else if (f == symbol::canonical_id(sym::body_field)) {
        u32 src = source_type(value);
        if (src == type_id::function || src == type_id::routine)
            *value = *function::side_cell(value, function::side::body);
        else
            init_integer(value, static_cast<i32>(value->w1) + 1);
    } else {
        error::raise(err::E("internal", "not-done"));
    }
}

template <const char* Text> i32 form(cell*, cell* buffer, cell*, i32 limit) {
    return out::text(buffer, Text, limit);
}
constexpr char native_text[] = "?native?";
constexpr char action_text[] = "?action?";
constexpr char op_text[] = "?op?";

i32 mold_callable(cell* value, cell* buffer, bool, bool all, bool flat, cell* part, i32 limit,
                  i32 indent) {
    limit = out::text(buffer,
                      type_of(value) == type_id::native ? "make native! [" : "make action! [",
                      limit);
    cell spec{type_id::block, 0, value->w2, 0};
    limit = actions::mold_typed(&spec, buffer, false, all, flat, part, limit, indent);
    return out::text(buffer, "]", limit);
}

i32 mold_op(cell* value, cell* buffer, bool, bool all, bool flat, cell* part, i32 limit,
            i32 indent) {
    u32 src = source_type(value);
    limit = out::text(buffer, "make op! ", limit);
    limit = out::text(buffer, src == type_id::function ? "func " : "[", limit);
    cell spec{type_id::block, 0, value->w2, 0};
    cell anon{type_id::word, 0, sym::anon, context::unbound};
    stack::open_native_frame(&anon);
    limit = actions::mold_typed(&spec, buffer, false, all, flat, part, limit, indent);
    stack::close_frame_drop();
    if (src == type_id::function) {
        cell body = *function::side_cell(value, function::side::body);
        if (type_of(&body) == type_id::block)
            return actions::mold_typed(&body, buffer, false, all, flat, part, limit, indent);
        return limit;
    }
    return out::text(buffer, "]", limit);
}

i32 compare(cell* a, cell* b, i32 op) {
    if (type_of(b) != type_of(a)) return -2;
    bool accepted = op == cop::equal || op == cop::not_equal || op == cop::strict_equal ||
                    op == cop::sort || op == cop::case_sort || op == cop::find ||
                    (op == cop::same && type_of(a) != type_id::op);
    if (!accepted) return -2;
    if (type_of(a) == type_id::op && a->w3 != b->w3) return a->w3 < b->w3 ? -1 : 1;
    return a->w1 == b->w1 ? 0 : (a->w1 < b->w1 ? -1 : 1);
}
} // namespace

void register_types() {
    datatype::register_row(action_row{.type = type_id::native,
                                      .parent = 0,
                                      .name = "native!",
                                      .make = make,
                                      .reflect = reflect,
                                      .form = form<native_text>,
                                      .mold = mold_callable,
                                      .compare = compare});
    action_row action = action_row{.type = type_id::action,
                                   .parent = type_id::native,
                                   .name = "action!",
                                   .make = make,
                                   .reflect = act::inherit,
                                   .form = form<action_text>,
                                   .mold = mold_callable,
                                   .compare = compare};
    datatype::register_row(action);
    datatype::register_row(action_row{.type = type_id::op,
                                      .parent = type_id::native,
                                      .name = "op!",
                                      .make = make_op,
                                      .reflect = act::inherit,
                                      .form = form<op_text>,
                                      .mold = mold_op,
                                      .compare = compare});
}

} // namespace zel::native_value
