// object!: the field writer of form and mold, path access and comparison. Nested values are
// molded and compared through their own handlers, which may allocate: each field is read through
// the context node again, and the contexts being walked sit on the cycle stack.
#include <string>

#include "datatypes/change_events.hpp"
#include "datatypes/context.hpp"
#include "datatypes/object.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"

namespace zel::object {

namespace {
i32 indentation(cell* buffer, i32 level, i32 limit) {
    if (level <= 0) return limit;
    return out::text(buffer, std::string(static_cast<std::size_t>(level) * 4, ' '), limit);
}

bool is_handler_field(u32 symbol) {
    u32 s = symbol::canonical_id(symbol);
    return s == symbol::canonical_id(sym::on_change) ||
           s == symbol::canonical_id(sym::on_deep_change);
}
} // namespace

i32 write_fields(cell* value, cell* buffer, std::string_view prefix, bool wrap, bool lines,
                 bool all, bool flat, cell* part, i32 limit, i32 indent) {
    cell obj = *value;
    u32 ctx = obj.w1;
    if (cycle_stack::contains(ctx)) {
        if (!wrap) return out::text(buffer, "...", limit);
        limit = out::text(buffer, prefix, limit);
        return out::text(buffer, "...]", limit);
    }
    cell* base = stack::push_value(&obj);
    if (wrap) limit = out::text(buffer, prefix, limit);
    cycle_stack::guard guard(ctx);
    i32 level = lines ? indent + 1 : indent;
    bool written = false;
    for (u32 i = 0; i < context::key_count(ctx); i++) {
        if (part && limit < 1) break;
        cell key = *context::key_word(ctx, i);
        if (!all && is_handler_field(key.w2)) continue;
        if (flat) {
            if (written) limit = out::text(buffer, " ", limit);
        } else {
            if (lines || written) limit = out::text(buffer, "\n", limit);
            limit = indentation(buffer, level, limit);
        }
        written = true;
        key.header = type_id::word;
        limit = actions::form_typed(&key, buffer, nullptr, limit);
        limit = out::text(buffer, ": ", limit);
        cell* slot = context::values_base(ctx) + i;
        if (type_of(slot) == type_id::none_) init_unset(slot);
        cell* v = stack::push_value(slot);
        if (type_of(v) == type_id::word) limit = out::text(buffer, "'", limit);
        limit = actions::mold_typed(v, buffer, false, all, flat, part, limit, level);
        stack::drop_values(1);
    }
    if (lines && !flat && written) {
        limit = out::text(buffer, "\n", limit);
        limit = indentation(buffer, indent, limit);
    }
    if (wrap) limit = out::text(buffer, "]", limit);
    stack::top = base;
    return limit;
}

i32 compare_objects(cell* a, cell* b, i32 op) {
    u32 ca = a->w1, cb = b->w1;
    if (ca == cb) return 0;
    if (op == actions::compare_op::same) return -1;
    if (cycle_stack::contains(ca)) return cycle_stack::contains(cb) ? 0 : -1;
    u32 na = context::key_count(ca), nb = context::key_count(cb);
    if (na != nb) return na < nb ? -1 : 1;
    cell* base = stack::top;
    cycle_stack::guard guard_a(ca);
    cycle_stack::guard guard_b(cb);
    auto numeric = [](u32 t) {
        return t == type_id::integer || t == type_id::float_ || t == type_id::percent;
    };
    for (u32 i = 0; i < na; i++) {
        u32 sa = symbol::canonical_id(context::key_word(ca, i)->w2);
        u32 sb = symbol::canonical_id(context::key_word(cb, i)->w2);
        if (sa != sb) return sa < sb ? -1 : 1;
        cell* va = stack::push_value(context::values_base(ca) + i);
        cell* vb = stack::push_value(context::values_base(cb) + i);
        u32 ta = type_of(va), tb = type_of(vb);
        i32 r;
        if (ta == tb || (is_any_word_type(ta) && is_any_word_type(tb)) ||
            (numeric(ta) && numeric(tb))) {
            r = actions::compare_three_way(va, vb, op);
        } else {
            r = ta < tb ? -1 : 1;
        }
        stack::top = base;
        if (r != 0) return r;
    }
    return 0;
}

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    cell none_path{type_id::none, 0, 0, 0};
    const cell* path = step.path ? step.path : &none_path;
    u32 t = type_of(element);
    if (t != type_id::word && t != type_id::set_word && t != type_id::get_word &&
        t != type_id::lit_word)
        error::raise(err::E("script", "invalid-path"), path, element);
    u32 ctx = parent->w1;
    i32 index;
    if (element->w1 == ctx && element->w3 < context::key_count(ctx)) {
        index = static_cast<i32>(element->w3);
    } else {
        index = context::find_symbol_index(ctx, element->w2, true);
        if (index >= 0) {
            // Later evaluations of the same path find the field without a lookup.
            element->w1 = ctx;
            element->w3 = static_cast<u32>(index);
        }
    }
    bool missing =
        index < 0 || (!value && type_of(context::values_base(ctx) + index) == type_id::unset);
    if (missing) {
        if (step.last) error::raise(err::E("script", "invalid-path"), path, element);
        error::raise(err::E("script", "unset-path"), path, element);
    }
    if (!value) return context::values_base(ctx) + index;
    cell obj = *parent;
    cell fresh = *value;
    cell* base = stack::push_value(&obj);
    cell* old = stack::push_value(context::values_base(ctx) + index);
    cell* new_value = stack::push_value(&fresh);
    context::values_base(ctx)[index] = fresh;
    if (obj.w3) {
        cell word = *element;
        notify_change(&obj, &word, old, new_value);
    }
    stack::top = base;
    return value;
}

} // namespace zel::object
