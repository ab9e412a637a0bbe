// Object change events. A handler call runs language code that may allocate, move any buffer and
// change the object itself: every argument is copied onto the data stack before the call and
// nothing read before it is trusted after it.
#include "datatypes/change_events.hpp"

#include <initializer_list>

#include "datatypes/context.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/interp_services.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::object {

namespace {
owner_services services;
const cell none_cell{type_id::none, 0, 0, 0};

constexpr u32 change_flag = 8;
constexpr u32 deep_change_flag = 16;

cell* info_cells(u32 info) {
    return head_cell(buffer_of(info));
}
u32 pack(i32 index, u32 locals) {
    u32 i = index < 0 ? no_handler : static_cast<u32>(index);
    return (i << 16) | (locals & 0xFFFF);
}
bool is_callable(const cell* v) {
    return type_of(v) == type_id::function || type_of(v) == type_id::routine;
}

// Writes the information series for the two handlers (index -1: absent) into the object.
void store_info(cell* object, const i32 index[2], const u32 locals[2], const u32 spec[2]) {
    cell obj = *object;
    u32 ctx = obj.w1;
    for (u32 k = 0; k < 2; k++) {
        if (index[k] < 0) continue;
        // The packed word keeps 16 bits for each part.
        if (index[k] >= static_cast<i32>(no_handler) || locals[k] > 0xFFFF) {
            cell word = *context::key_word(ctx, static_cast<u32>(index[k]));
            word.header = type_id::word;
            error::raise(err::E("script", "size-limit"), &word);
        }
    }
    cell* base = stack::push_value(&obj);
    u32 node = 0;
    if (index[0] >= 0 || index[1] >= 0) {
        node = memory::new_cell_series(2);
        series_buffer* b = buffer_of(node);
        b->tail = b->head + 2 * sizeof(cell);
        for (u32 k = 0; k < 2; k++)
            head_cell(b)[k] = cell{type_id::pair, 0, pack(index[k], locals[k]), spec[k]};
    }
    object->w3 = node;
    cell updated = *object;
    *context::self_cell(ctx) = updated;
    stack::top = base;
    if (index[1] >= 0 && services.claim_and_mark_owner)
        services.claim_and_mark_owner(&updated, &updated, &none_cell);
}

// Takes the local count again when the handler field holds another function than the one the
// count was taken from.
void refresh(u32 info, u32 which, const cell* function) {
    cell* c = info_cells(info) + which;
    if (c->w3 == function->w2) return;
    u32 locals = local_slot_count(function);
    c = info_cells(info) + which;
    c->w2 = (c->w2 & 0xFFFF0000u) | (locals & 0xFFFF);
    c->w3 = function->w2;
}

// Calls the handler in a function frame named after it: the arguments, then the local slots
// (logic! false for /local, none! for each local word).
void call_handler(const cell& object, const cell& function, u32 name_symbol,
                  std::initializer_list<cell> args, u32 locals, u32 flags) {
    cell* base = stack::top;
    cell fn = function;
    stack::push_value(&fn);
    stack::push_value(&object);
    u32 ctx = object.w1;
    i32 slot = context::find_symbol_index(ctx, name_symbol, true);
    cell name{type_id::word, ctx, name_symbol,
              slot < 0 ? context::unbound : static_cast<u32>(slot)};
    stack::open_function_frame(&name, fn.w1);
    for (const cell& a : args) stack::push_value(&a);
    if (locals > 0) {
        cell flag;
        stack::push_value(init_logic(&flag, false));
        for (u32 i = 1; i < locals; i++) stack::push_value(&none_cell);
    }
    interp::invoke_function(&fn, ctx, &name, flags);
    stack::close_function_frame_drop();
    stack::top = base;
}

void fire_from_store(cell* owner, cell* word, cell* old_value, cell* new_value) {
    notify_change(owner, word, old_value, new_value);
}
} // namespace

void set_owner_services(const owner_services& s) {
    services = s;
}
const owner_services& owners() {
    return services;
}

u32 handler_index(const cell* object, u32 which) {
    if (!object->w3) return no_handler;
    return info_cells(object->w3)[which].w2 >> 16;
}

u32 handler_locals(const cell* object, u32 which) {
    if (!object->w3) return 0;
    return info_cells(object->w3)[which].w2 & 0xFFFF;
}

u32 local_slot_count(const cell* function) {
    series_buffer* b = buffer_of(function->w2);
    u32 n = used_units(b);
    u32 local = symbol::canonical_id(sym::local);
    u32 count = 0;
    for (u32 i = 0; i < n; i++) {
        const cell* c = head_cell(b) + i;
        if (count == 0) {
            if (type_of(c) == type_id::refinement && symbol::canonical_id(c->w2) == local)
                count = 1;
        } else if (type_of(c) == type_id::word) {
            count++;
        }
    }
    return count;
}

void build_change_info(cell* object) {
    u32 ctx = object->w1;
    u32 targets[2] = {symbol::canonical_id(sym::on_change),
                      symbol::canonical_id(sym::on_deep_change)};
    i32 index[2] = {-1, -1};
    u32 keys = context::key_count(ctx);
    for (u32 i = 0; i < keys; i++) {
        u32 s = symbol::canonical_id(context::key_word(ctx, i)->w2);
        for (u32 k = 0; k < 2; k++)
            if (s == targets[k] && index[k] < 0) index[k] = static_cast<i32>(i);
    }
    u32 locals[2] = {0, 0}, spec[2] = {0, 0};
    for (u32 k = 0; k < 2; k++) {
        if (index[k] < 0) continue;
        cell v = context::values_base(ctx)[index[k]];
        if (!is_callable(&v)) {
            cell word = *context::key_word(ctx, static_cast<u32>(index[k]));
            word.header = type_id::word;
            cell type;
            init_datatype(&type, type_of(&v));
            error::raise(err::E("script", "bad-field-set"), &word, &type);
        }
        locals[k] = local_slot_count(&v);
        spec[k] = v.w2;
    }
    store_info(object, index, locals, spec);
}

void finish_on_top(i32 change_index, i32 change_locals, i32 deep_index, i32 deep_locals) {
    cell* object = stack::top_value();
    i32 index[2] = {change_index, deep_index};
    u32 locals[2] = {static_cast<u32>(change_locals < 0 ? 0 : change_locals),
                     static_cast<u32>(deep_locals < 0 ? 0 : deep_locals)};
    u32 spec[2] = {0, 0};
    for (u32 k = 0; k < 2; k++) {
        if (index[k] < 0) continue;
        const cell* v = context::values_base(object->w1) + index[k];
        if (is_callable(v)) spec[k] = v->w2;
    }
    store_info(object, index, locals, spec);
}

void notify_change(const cell* object, const cell* word, const cell* old_value,
                   const cell* new_value) {
    cell obj = *object;
    if (!obj.w3) return;
    u32 index = info_cells(obj.w3)[0].w2 >> 16;
    if (index == no_handler) return;
    u32 ctx = obj.w1;
    cell fn = context::values_base(ctx)[index];
    if (type_of(&fn) != type_id::function) error::raise(err::E("script", "invalid-obj-evt"), &fn);
    cell* base = stack::push_value(&fn);
    refresh(obj.w3, 0, &fn);
    u32 locals = info_cells(obj.w3)[0].w2 & 0xFFFF;
    cell w = *word;
    if (w.w1 != ctx) {
        i32 slot = context::find_symbol_index(ctx, w.w2, true);
        w.w1 = ctx;
        w.w3 = slot < 0 ? context::unbound : static_cast<u32>(slot);
    }
    call_handler(obj, fn, sym::on_change, {w, *old_value, *new_value}, locals, change_flag);
    stack::top = base;
}

void notify_change_top(const cell* object, const cell* word) {
    cell old_value = stack::top[-1];
    cell new_value = stack::top[-2];
    notify_change(object, word, &old_value, &new_value);
}

void notify_change_via_word(const cell* holder, const cell* word) {
    cell obj = *context::word_value_address(holder);
    notify_change_top(&obj, word);
}

void notify_deep_change(const cell* object, const cell* word, const cell* target,
                        const cell* action, const cell* new_value, i32 index, i32 part) {
    cell obj = *object;
    if (!obj.w3) error::raise(err::E("script", "invalid-obj-evt"), &obj);
    u32 handler = info_cells(obj.w3)[1].w2 >> 16;
    if (handler == no_handler) return;
    cell fn = context::values_base(obj.w1)[handler];
    if (type_of(&fn) != type_id::function) return;
    cell* base = stack::push_value(&fn);
    refresh(obj.w3, 1, &fn);
    u32 locals = info_cells(obj.w3)[1].w2 & 0xFFFF;
    cell i, p;
    init_integer(&i, index);
    init_integer(&p, part);
    call_handler(obj, fn, sym::on_deep_change,
                 {obj, *word, *target, *action, new_value ? *new_value : none_cell, i, p}, locals,
                 deep_change_flag);
    stack::top = base;
}

void assign_from(cell* object, const cell* source, bool any, bool only, bool some) {
    cell obj = *object;
    cell src = *source;
    cell* base = stack::push_value(&obj);
    stack::push_value(&src);
    u32 ctx = obj.w1;
    u32 n = context::key_count(ctx);
    bool from_block = !only && type_of(&src) == type_id::block;
    bool from_object = !only && is_object_type(type_of(&src));
    // The value field i receives; false when the field is left alone.
    auto value_for = [&](u32 i, cell* out) {
        if (from_block) {
            series_buffer* b = buffer_of(src.w2);
            u32 p = src.w1 + i;
            *out = p < used_units(b) ? head_cell(b)[p] : none_cell;
            return true;
        }
        if (from_object) {
            i32 s = context::find_symbol_index(src.w1, context::key_word(ctx, i)->w2, true);
            if (s < 0) return false;
            *out = context::values_base(src.w1)[s];
            return true;
        }
        *out = src;
        return true;
    };
    if (!only && !some && !any) {
        for (u32 i = 0; i < n; i++) {
            cell v;
            if (value_for(i, &v) && is_unset(&v)) {
                cell word = *context::key_word(ctx, i);
                word.header = type_id::word;
                error::raise(err::E("script", "need-value"), &word);
            }
        }
    }
    u32 change = handler_index(&obj, 0), deep = handler_index(&obj, 1);
    for (u32 i = 0; i < n; i++) {
        cell v;
        if (!value_for(i, &v)) continue;
        if (some && (from_block || from_object) && is_none(&v)) continue;
        context::key_word(ctx, i)->header |= cell_flag::changed_key;
        if (!obj.w3) {
            context::values_base(ctx)[i] = v;
            continue;
        }
        // The handlers themselves are never overwritten by a spread.
        if (i == change || i == deep) continue;
        cell* old_value = stack::push_value(context::values_base(ctx) + i);
        cell* new_value = stack::push_value(&v);
        context::values_base(ctx)[i] = v;
        cell word = *context::key_word(ctx, i);
        word.header = type_id::word;
        notify_change(&obj, &word, old_value, new_value);
        stack::drop_values(2);
    }
    stack::top = base;
}

void install_change_hook() {
    context::fire_change = fire_from_store;
}

} // namespace zel::object
