// object!: cells, class ids, field helpers, making, the copy engine and `construct`. The values
// buffer of a context moves when it grows and when nested code allocates: every loop here reads
// its cells through the context node again after each call that may allocate.
#include "datatypes/object.hpp"

#include <cstring>
#include <optional>

#include "datatypes/basic.hpp"
#include "datatypes/change_events.hpp"
#include "datatypes/context.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp_services.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::object {

namespace {
i32 class_counter = 1000000;
const cell none_cell{type_id::none, 0, 0, 0};

// Series kinds that `make` with an object spec copies deeply.
bool is_make_series(u32 t) {
    return is_any_block_type(t) || is_any_string_type(t) || t == type_id::vector ||
           t == type_id::binary || t == type_id::image;
}
// The narrower set of the copy engine's deep step.
bool is_copy_series(u32 t) {
    return t == type_id::block || t == type_id::paren || is_any_path_type(t) ||
           is_any_string_type(t);
}
// What a type filter copies: series kinds, bitset!, object!, error! and map!.
bool is_filter_copyable(u32 t) {
    return is_make_series(t) || t == type_id::bitset || t == type_id::object ||
           t == type_id::error || t == type_id::map;
}
bool type_in(u32 t, const cell* types) {
    if (type_of(types) == type_id::datatype) return types->w1 == t;
    return typeset_has(types, t);
}

// Copies the source's value cells into the (empty) values series of `to`.
void copy_values(u32 from, u32 to) {
    u32 n = used_units(buffer_of(context::context_cell(from)->w2));
    series_buffer* tb = buffer_of(context::context_cell(to)->w2);
    if (n * sizeof(cell) > tb->size) tb = memory::grow_series(tb, n * sizeof(cell));
    std::memcpy(head_cell(tb), head_cell(buffer_of(context::context_cell(from)->w2)),
                n * sizeof(cell));
    tb->tail = tb->head + n * sizeof(cell);
}

cell* values_of(u32 ctx) {
    return context::values_base(ctx);
}

} // namespace

i32 next_class_id() {
    return ++class_counter;
}

cell make_cell(u32 ctx, i32 class_id, u32 info, u32 type) {
    cell c{type, ctx, static_cast<u32>(class_id), info};
    *context::self_cell(ctx) = c;
    return c;
}

cell* init_cell_empty(cell* target, u32 n) {
    u32 ctx = context::new_node(n, false, true, nullptr, context::kind::object);
    *target = make_cell(ctx, 0, 0);
    return target;
}

i32 find_field(const cell* object, u32 symbol) {
    return context::find_symbol_index(object->w1, symbol, true);
}

const cell* field_value(const cell* object, u32 symbol) {
    i32 i = find_field(object, symbol);
    return i < 0 ? &none_cell : values_of(object->w1) + i;
}

cell* key_word_at(u32 ctx, u32 index) {
    return context::key_word(ctx, index);
}
cell* first_value_address(const cell* object) {
    return values_of(object->w1);
}
u32 field_count(const cell* object) {
    return context::key_count(object->w1);
}
cell* first_key_word(const cell* object) {
    return context::key_word(object->w1, 0);
}

void clear_new_line_flags(const cell* series) {
    series_buffer* b = buffer_of(series->w2);
    u32 n = used_units(b);
    for (u32 i = series->w1; i < n; i++) cell_ops::clear_newline_flag(head_cell(b) + i);
}

void clear_changed_marks(u32 ctx) {
    u32 n = context::key_count(ctx);
    for (u32 i = 0; i < n; i++) context::key_word(ctx, i)->header &= ~cell_flag::changed_key;
}

bool field_is_class(u32 ctx, u32 index, i32 class_id) {
    const cell* v = values_of(ctx) + index;
    return type_of(v) == type_id::object && class_of(v) == class_id;
}

bool word_is_class(const cell* word, i32 class_id) {
    const cell* v = context::word_value_address(word);
    return type_of(v) == type_id::object && class_of(v) == class_id;
}

cell* push_new(u32 ctx, i32 class_id, u32 info) {
    cell c = make_cell(ctx, class_id, info);
    return stack::push_value(&c);
}

cell* push_for_context(u32 ctx, i32 class_id) {
    series_buffer* vb = buffer_of(context::context_cell(ctx)->w2);
    if (used_units(vb) == 0) {
        u32 n = context::key_count(ctx);
        if (n * sizeof(cell) > vb->size) vb = memory::grow_series(vb, n * sizeof(cell));
        for (u32 i = 0; i < n; i++) init_unset(head_cell(vb) + i);
        vb->tail = vb->head + n * sizeof(cell);
    }
    return push_new(ctx, class_id, 0);
}

// ---- copies ---------------------------------------------------------------------------------

namespace {
// The copy action of the value's own type (a copy of a series, bitset, map or object).
cell copy_series_value(const cell* value, bool deep, const cell* types) {
    cell* base = stack::top;
    cell* source = stack::push_value(value);
    cell* out = stack::reserve_slot();
    init_unset(out);
    auto handler = actions::handler_of_value<act::slot::copy>(source);
    cell result = *handler(source, out, nullptr, deep, const_cast<cell*>(types));
    stack::top = base;
    return result;
}

// A function! field re-made for a copied object: the same spec, a deep copy of the body bound to
// the object and then to a new function context, and no compiled code, so the copy runs
// interpreted and changes its own object.
cell remake_function(const cell* function, u32 object_ctx) {
    cell* base = stack::top;
    cell fn = *function;
    stack::push_value(&fn);
    cell body = head_cell(buffer_of(fn.w3))[0];
    if (is_none(&body)) error::raise(err::E("script", "bad-func-def"), &fn);
    cell* copy = stack::push_value(&body);
    *copy = copy_series_value(&body, true, nullptr);
    cell spec{type_id::block, 0, fn.w2, 0};
    u32 fn_ctx = context::new_from_spec(&spec, true, false, context::kind::function);
    cell holder{type_id::block, 0, fn_ctx, 0};
    stack::push_value(&holder);
    u32 side = memory::new_unset_cell_series(5);
    series_buffer* sb = buffer_of(side);
    sb->tail = sb->head + 5 * sizeof(cell);
    head_cell(sb)[0] = *copy;
    cell remade{fn.header, fn_ctx, fn.w2, side};
    *context::self_cell(fn_ctx) = remade;
    cell bound = *copy;
    context::bind_block_words(&bound, object_ctx, true);
    context::bind_block_words(&bound, fn_ctx, false);
    stack::top = base;
    return remade;
}

// Replaces every value of a kind by its deep copy and re-makes every function! value.
void deepen_fields(u32 ctx, bool (*kind)(u32), bool copy_series) {
    for (u32 i = 0; i < used_units(buffer_of(context::context_cell(ctx)->w2)); i++) {
        cell v = values_of(ctx)[i];
        u32 t = type_of(&v);
        if (copy_series && kind(t)) {
            cell c = copy_series_value(&v, true, nullptr);
            values_of(ctx)[i] = c;
        } else if (t == type_id::function) {
            cell f = remake_function(&v, ctx);
            values_of(ctx)[i] = f;
        }
    }
}
} // namespace

cell* push_copy(const cell* source, bool deep, const cell* types, bool rebuild) {
    cell src = *source;
    cell* base = stack::push_value(&src);
    u32 old_ctx = src.w1;
    cell holder = src;
    context::clone_keys(&holder, context::kind::object);
    u32 ctx = holder.w1;
    cell* result = stack::push_value(&src);
    *result = make_cell(ctx, class_of(&src), rebuild ? 0 : src.w3, type_of(&src));
    copy_values(old_ctx, ctx);
    if (types) {
        cell filter = *types;
        stack::push_value(&filter);
        std::optional<cycle_stack::guard> guard;
        if (deep) {
            if (cycle_stack::contains(old_ctx)) error::raise(err::E("internal", "no-cycle"));
            guard.emplace(old_ctx);
        }
        for (u32 i = 0; i < used_units(buffer_of(context::context_cell(ctx)->w2)); i++) {
            cell v = values_of(ctx)[i];
            if (!type_in(type_of(&v), &filter) || !is_filter_copyable(type_of(&v))) continue;
            cell c = copy_series_value(&v, deep, &filter);
            values_of(ctx)[i] = c;
        }
        deepen_fields(ctx, is_copy_series, false);
    } else {
        deepen_fields(ctx, is_copy_series, deep);
    }
    if (rebuild) build_change_info(result);
    *base = *result;
    stack::top = base + 1;
    return base;
}

cell* copy(cell* value, cell* out, cell* part, bool deep, cell* types) {
    if (part) {
        cell word = context::global_word(sym::part);
        error::raise(err::E("script", "invalid-refine-arg"), &word, part);
    }
    cell* base = stack::top;
    *out = *push_copy(value, deep, types, true);
    stack::top = base;
    return out;
}

// ---- make and construct ---------------------------------------------------------------------

cell* make(cell* proto, cell* spec, u32) {
    cell* base = stack::top;
    cell p = *proto;
    cell s = *spec;
    stack::push_value(&p);
    cell* spec_slot = stack::push_value(&s);
    bool from_object = is_object_type(type_of(&p));
    cell* result;
    if (from_object) {
        result = push_copy(&p, true, nullptr, false);
    } else {
        // The slot holds none until the object is made: making it may collect.
        result = stack::push_value(&none_cell);
        init_cell_empty(result, 4);
    }
    u32 ctx = result->w1;
    bool fresh_class = !from_object;
    switch (type_of(&s)) {
    case type_id::object:
    case type_id::error:
    case type_id::port: {
        u32 before = context::key_count(ctx);
        u32 from = s.w1;
        for (u32 i = 0; i < context::key_count(from); i++) {
            cell key = *context::key_word(from, i);
            i32 slot = context::find_or_add_word(ctx, &key);
            values_of(ctx)[slot] = values_of(from)[i];
        }
        deepen_fields(ctx, is_make_series, true);
        if (context::key_count(ctx) > before) fresh_class = true;
        break;
    }
    case type_id::block: {
        if (context::collect_set_words(ctx, spec_slot)) fresh_class = true;
        context::bind_block_words(spec_slot, ctx, true);
        if (from_object) {
            for (u32 i = 0; i < used_units(buffer_of(context::context_cell(ctx)->w2)); i++) {
                cell v = values_of(ctx)[i];
                if (is_any_block_type(type_of(&v))) context::bind_block_words(&v, ctx, true);
            }
        }
        // An empty block evaluates to nothing: no frame is needed for it.
        if (used_units(buffer_of(spec_slot->w2)) > spec_slot->w1) {
            cell* mark = stack::top;
            interp::evaluate_block(spec_slot, false);
            stack::top = mark;
        }
        clear_changed_marks(ctx);
        cell values{type_id::block, 0, context::context_cell(ctx)->w2, 0};
        clear_new_line_flags(&values);
        break;
    }
    default:
        error::raise(err::E("syntax", "malconstruct"), &s);
    }
    result->w2 = static_cast<u32>(fresh_class ? next_class_id() : class_of(&p));
    *context::self_cell(ctx) = *result;
    build_change_info(result);
    *proto = *result;
    stack::top = base;
    return proto;
}

namespace {
cell construct_value(const cell* value, bool only) {
    if (only || type_of(value) != type_id::word) return *value;
    u32 s = symbol::canonical_id(value->w2);
    auto is = [s](u32 id) { return s == symbol::canonical_id(id); };
    cell c;
    if (is(sym::true_) || is(sym::yes) || is(sym::on)) return *init_logic(&c, true);
    if (is(sym::false_) || is(sym::no) || is(sym::off)) return *init_logic(&c, false);
    if (is(sym::none)) return *init_none(&c);
    return *value;
}
} // namespace

cell* new_from_proto(const cell* spec, const cell* proto, bool only) {
    cell s = *spec;
    cell* base = stack::push_value(&s);
    cell* result;
    if (proto && is_object_type(type_of(proto))) {
        result = push_copy(proto, true, nullptr, false);
    } else {
        result = stack::push_value(&none_cell);
        init_cell_empty(result, 4);
        result->w2 = static_cast<u32>(next_class_id());
        *context::self_cell(result->w1) = *result;
    }
    u32 ctx = result->w1;
    u32 i = s.w1;
    while (i < used_units(buffer_of(s.w2))) {
        if (type_of(head_cell(buffer_of(s.w2)) + i) != type_id::set_word) {
            i++;
            continue;
        }
        u32 run_end = i;
        while (run_end < used_units(buffer_of(s.w2)) &&
               type_of(head_cell(buffer_of(s.w2)) + run_end) == type_id::set_word)
            run_end++;
        cell value =
            run_end < used_units(buffer_of(s.w2)) ? head_cell(buffer_of(s.w2))[run_end] : none_cell;
        value = construct_value(&value, only);
        for (u32 k = i; k < run_end; k++) {
            cell word = head_cell(buffer_of(s.w2))[k];
            i32 slot = context::find_or_add_word(ctx, &word);
            values_of(ctx)[slot] = value;
        }
        i = run_end + 1;
    }
    *base = *result;
    stack::top = base + 1;
    return base;
}

// ---- reflect, select, put, modify -----------------------------------------------------------

namespace {
cell new_block(u32 n) {
    return cell{type_id::block, 0, memory::new_cell_series(n), 0};
}

void append(cell* block, const cell* value) {
    cell v = *value;
    *memory::append_cell_slot(block) = v;
}

cell plain_key(u32 ctx, u32 i) {
    cell w = *context::key_word(ctx, i);
    w.header = type_id::word;
    return w;
}
} // namespace

void reflect(cell* value, u32 field) {
    cell obj = *value;
    cell* base = stack::push_value(&obj);
    u32 ctx = obj.w1;
    u32 f = symbol::canonical_id(field);
    auto is = [f](u32 id) { return f == symbol::canonical_id(id); };
    cell result;
    if (is(sym::class_)) {
        init_integer(&result, class_of(&obj));
    } else if (is(sym::words) || is(sym::changed)) {
        bool changed_only = is(sym::changed);
        cell* block = stack::push_value(&none_cell);
        *block = new_block(context::key_count(ctx));
        for (u32 i = 0; i < context::key_count(ctx); i++) {
            if (changed_only && !(context::key_word(ctx, i)->header & cell_flag::changed_key))
                continue;
            cell w = plain_key(ctx, i);
            append(block, &w);
        }
        result = *block;
    } else if (is(sym::values)) {
        cell* block = stack::push_value(&none_cell);
        u32 n = used_units(buffer_of(context::context_cell(ctx)->w2));
        *block = new_block(n);
        series_buffer* b = buffer_of(block->w2);
        std::memcpy(head_cell(b), values_of(ctx), n * sizeof(cell));
        b->tail = b->head + n * sizeof(cell);
        result = *block;
    } else if (is(sym::body_field)) {
        cell* block = stack::push_value(&none_cell);
        *block = new_block(2 * context::key_count(ctx));
        for (u32 i = 0; i < context::key_count(ctx); i++) {
            cell w = plain_key(ctx, i);
            w.header = type_id::set_word | cell_flag::newline;
            append(block, &w);
            cell v = values_of(ctx)[i];
            if (type_of(&v) == type_id::word)
                cell_ops::write_type(&v, type_id::lit_word);
            else if (type_of(&v) == type_id::path)
                cell_ops::write_type(&v, type_id::lit_path);
            append(block, &v);
        }
        result = *block;
    } else if (is(sym::owner)) {
        init_logic(&result, context::context_cell(ctx)->header & cell_flag::owns_series);
    } else if (is(sym::events_q)) {
        init_logic(&result, obj.w3 != 0);
    } else {
        error::raise(err::E("internal", "not-done"));
    }
    *value = result;
    stack::top = base;
}

cell* select(cell* series, cell* value, cell*, bool, bool, bool, bool, cell*, cell*, bool, bool) {
    if (!is_any_word_type(type_of(value))) {
        cell type;
        init_datatype(&type, type_of(value));
        error::raise(err::E("script", "invalid-type"), &type);
    }
    cell found = *field_value(series, value->w2);
    *series = found;
    return series;
}

namespace {
cell* put(cell* series, cell* key, cell* value, bool) {
    if (type_of(key) != type_id::word) {
        cell type;
        init_datatype(&type, type_of(key));
        error::raise(err::E("script", "invalid-key-type"), &type);
    }
    path_step step;
    step.last = true;
    return eval_path(series, key, value, step);
}

void modify(cell* target, cell* field, cell* value, bool) {
    cell obj = *target;
    cell v = *value;
    cell* base = stack::push_value(&obj);
    stack::push_value(&v);
    u32 f = symbol::canonical_id(field->w2);
    if (f == symbol::canonical_id(sym::changed)) {
        if (!is_none(&v)) error::raise(err::E("script", "invalid-arg"), &v);
        clear_changed_marks(obj.w1);
    } else if (f == symbol::canonical_id(sym::owner)) {
        if (owners().claim_and_mark_owner) owners().claim_and_mark_owner(&obj, &obj, &none_cell);
    } else if (f == symbol::canonical_id(sym::owned)) {
        if (is_none(&v)) {
            if (owners().release_slots)
                owners().release_slots(obj.w1, 0, context::key_count(obj.w1));
        } else if (type_of(&v) == type_id::block && owners().claim) {
            series_buffer* b = buffer_of(v.w2);
            u32 n = used_units(b);
            if (v.w1 < n) {
                cell first = head_cell(b)[v.w1];
                cell next = v.w1 + 1 < n ? head_cell(b)[v.w1 + 1] : none_cell;
                owners().claim(&first, &obj, &next);
            }
        }
    }
    *target = v;
    stack::top = base;
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    return write_fields(value, buffer, "", false, false, false, false, part, limit, 0);
}

i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent) {
    return write_fields(value, buffer, "make object! [", !only, !only, all, flat, part, limit,
                        indent);
}

i32 compare(cell* a, cell* b, i32 op) {
    if (type_of(b) != type_id::object) return -2;
    return compare_objects(a, b, op);
}
} // namespace

void register_type() {
    action_row row{};
    row.type = type_id::object;
    row.parent = 0;
    row.name = "object!";
    row.make = make;
    row.reflect = reflect;
    row.form = form;
    row.mold = mold;
    row.eval_path = eval_path;
    row.compare = compare;
    row.copy = copy;
    row.put = put;
    row.select = select;
    row.modify = modify;
    datatype::register_row(row);
    install_change_hook();
}

} // namespace zel::object
