// error!: the catalog object, the error prototype, making errors from codes, blocks and strings,
// and the helpers of the raiser, the evaluator and the argument checks.
#include "datatypes/error.hpp"

#include <cstring>

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/object.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/interp_services.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/roots.hpp"

namespace zel::error {

namespace {
// Rooted slots: the catalog, the prototype and system/state (none! until handed over).
cell* catalog_slot = nullptr;
cell* prototype_slot = nullptr;
cell* state_slot = nullptr;
const cell none_cell{type_id::none, 0, 0, 0};

cell word_of_symbol(u32 symbol) {
    return cell{type_id::word, 0, symbol, context::unbound};
}

cell new_string(std::string_view text) {
    cell s;
    string::decode_buffer(reinterpret_cast<const u8*>(text.data()), static_cast<u32>(text.size()),
                          &s, string::encoding_utf8);
    return s;
}

// An object with one field per (symbol, value), in order.
cell new_object(u32 n) {
    cell o;
    object::init_cell_empty(&o, n);
    o.w2 = static_cast<u32>(object::next_class_id());
    *context::self_cell(o.w1) = o;
    return o;
}

void add_field(const cell* object, u32 symbol, const cell* value) {
    cell w = word_of_symbol(symbol);
    context::put_word_value(object->w1, &w, value);
}

cell make_catalog() {
    cell* base = stack::top;
    cell* catalog = stack::push_value(&none_cell);
    *catalog = new_object(err::category_count);
    for (u16 c = 0; c < err::category_count; c++) {
        cell* category = stack::push_value(&none_cell);
        *category = new_object(4);
        cell code;
        init_integer(&code, c * 100);
        add_field(category, sym::code, &code);
        cell* value = stack::push_value(&none_cell);
        *value = new_string(err::categories[c].title);
        add_field(category, sym::type_, value);
        for (const err::entry& e : err::entries) {
            if (e.category != c) continue;
            *value = message_from_source(e.message);
            add_field(category, symbol::intern_text(e.name), value);
        }
        add_field(catalog, symbol::intern_text(err::categories[c].name), category);
        stack::drop_values(2);
    }
    cell result = *catalog;
    stack::top = base;
    return result;
}

cell make_prototype() {
    cell* base = stack::top;
    cell* proto = stack::push_value(&none_cell);
    *proto = new_object(field::count);
    const u32 names[field::count] = {sym::code, sym::type_, sym::id,    sym::arg1,  sym::arg2,
                                     sym::arg3, sym::near,  sym::where, sym::stack, sym::files};
    for (u32 name : names) add_field(proto, name, &none_cell);
    cell result = *proto;
    stack::top = base;
    return result;
}

u32 ctx_of(const cell* c) {
    return c->w1;
}

// The catalog's category object named by a word, with its index; false when there is none.
bool find_category(const cell* word, u32* index, cell* category) {
    if (!is_any_word_type(type_of(word))) return false;
    i32 i = object::find_field(catalog(), word->w2);
    if (i < 0) return false;
    cell c = context::values_base(ctx_of(catalog()))[i];
    if (type_of(&c) != type_id::object) return false;
    *index = static_cast<u32>(i);
    *category = c;
    return true;
}

cell bound_key(u32 ctx, u32 index) {
    cell w = *context::key_word(ctx, index);
    w.header = type_id::word;
    return w;
}

[[noreturn]] void invalid_spec_field(u32 symbol) {
    cell w = context::global_word(symbol);
    raise(err::E("script", "invalid-spec-field"), &w);
}

// A new error! (pushed): a copy of the prototype with type id 34, class 1 and no handlers.
cell* push_new_error() {
    cell* e = object::push_copy(prototype(), false, nullptr, false);
    *e = object::make_cell(e->w1, object::error_class, 0, type_id::error);
    return e;
}

cell* make_from_code(cell* e, i32 code) {
    cell code_cell;
    init_integer(&code_cell, code);
    *field_of(e, field::code) = code_cell;
    u32 categories = object::field_count(catalog());
    if (code < 0 || static_cast<u32>(code / 100) >= categories)
        raise(err::E("script", "out-of-range"), &code_cell);
    u32 c = static_cast<u32>(code / 100);
    cell category = context::values_base(ctx_of(catalog()))[c];
    u32 index = static_cast<u32>(code % 100) + 2;
    if (type_of(&category) != type_id::object || index >= object::field_count(&category))
        raise(err::E("script", "out-of-range"), &code_cell);
    *field_of(e, field::type) = bound_key(ctx_of(catalog()), c);
    *field_of(e, field::id) = bound_key(category.w1, index);
    return e;
}

// Checks `type` and `id` of an error made from a block and sets its code.
void classify(cell* e) {
    cell type = *field_of(e, field::type);
    u32 c;
    cell category;
    if (!find_category(&type, &c, &category)) invalid_spec_field(sym::type_);
    cell id = *field_of(e, field::id);
    if (is_none(&id) || is_unset(&id)) invalid_spec_field(sym::id);
    if (type_of(&id) != type_id::word) raise(err::E("script", "invalid-arg"), &id);
    i32 index = object::find_field(&category, id.w2);
    // `code` and `type` are not ids: their positions would give another category's codes.
    if (index < 2) invalid_spec_field(sym::id);
    *field_of(e, field::type) = bound_key(ctx_of(catalog()), c);
    *field_of(e, field::id) = bound_key(category.w1, static_cast<u32>(index));
    cell code;
    init_integer(&code, static_cast<i32>(c * 100) + index - 2);
    *field_of(e, field::code) = code;
}

cell* make_from_block(cell* e, cell* block) {
    series_buffer* b = buffer_of(block->w2);
    u32 n = used_units(b);
    if (block->w1 >= n) raise(err::E("internal", "invalid-error"));
    cell first = head_cell(b)[block->w1];
    if (type_of(&first) == type_id::word) {
        *field_of(e, field::type) = first;
        *field_of(e, field::id) =
            block->w1 + 1 < n ? head_cell(buffer_of(block->w2))[block->w1 + 1] : none_cell;
        classify(e);
    } else if (type_of(&first) == type_id::set_word) {
        context::bind_block_words(block, e->w1, false);
        cell* mark = stack::top;
        interp::evaluate_block(block, false);
        stack::top = mark;
        classify(e);
    } else {
        raise(err::E("internal", "invalid-error"));
    }
    return e;
}
} // namespace

void set_up() {
    if (catalog_slot) return;
    catalog_slot = roots::append(&none_cell);
    prototype_slot = roots::append(&none_cell);
    state_slot = roots::append(&none_cell);
    *catalog_slot = make_catalog();
    *prototype_slot = make_prototype();
}

const cell* catalog() {
    set_up();
    return catalog_slot;
}
void set_catalog(const cell* c) {
    set_up();
    *catalog_slot = *c;
}
const cell* prototype() {
    set_up();
    return prototype_slot;
}
void set_prototype(const cell* p) {
    set_up();
    *prototype_slot = *p;
}
void set_state(const cell* s) {
    set_up();
    *state_slot = *s;
}

cell message_from_source(std::string_view source) {
    if (source.size() >= 2 && source.front() == '"' && source.back() == '"')
        return new_string(source.substr(1, source.size() - 2));
    return new_string(source);
}

cell* field_of(const cell* error, u32 index) {
    return context::values_base(error->w1) + index;
}

namespace {
// The name of a catalog id, from the built-in table.
std::string_view id_name(err::id id) {
    u16 index = 2;
    for (const err::entry& entry : err::entries) {
        if (entry.category != id.category) continue;
        if (index++ == id.index) return entry.name;
    }
    return "invalid-error";
}

// Classifies an error the runtime raises. A catalog that a program has changed must not make the
// raising raise again (and so without end): when the catalog no longer holds the category or the
// id, `type` and `id` are plain words of their built-in names, which the report shows as an
// invalid error.
void classify_id(cell* e, err::id id) {
    cell code;
    init_integer(&code, static_cast<i32>(id.code()));
    *field_of(e, field::code) = code;
    const cell* c = catalog();
    if (id.category < object::field_count(c)) {
        cell category = context::values_base(ctx_of(c))[id.category];
        if (type_of(&category) == type_id::object && id.index < object::field_count(&category)) {
            *field_of(e, field::type) = bound_key(ctx_of(c), id.category);
            *field_of(e, field::id) = bound_key(category.w1, id.index);
            return;
        }
    }
    *field_of(e, field::type) =
        word_of_symbol(symbol::intern_text(err::categories[id.category].name));
    *field_of(e, field::id) = word_of_symbol(symbol::intern_text(id_name(id)));
}
} // namespace

cell build(err::id id, const cell* arg1, const cell* arg2, const cell* arg3) {
    cell* base = stack::top;
    const cell* args[3] = {arg1, arg2, arg3};
    cell copies[3];
    for (u32 i = 0; i < 3; i++)
        if (args[i]) copies[i] = *stack::push_value(args[i]);
    cell* e = push_new_error();
    classify_id(e, id);
    for (u32 i = 0; i < 3; i++)
        if (args[i]) *field_of(e, field::arg1 + i) = copies[i];
    cell result = *e;
    stack::top = base;
    return result;
}

cell* make(cell* proto, cell* spec, u32) {
    cell* base = stack::top;
    cell s = *spec;
    cell* spec_slot = stack::push_value(&s);
    cell* e = push_new_error();
    switch (type_of(&s)) {
    case type_id::integer:
        make_from_code(e, int_of(&s));
        break;
    case type_id::block:
        make_from_block(e, spec_slot);
        break;
    case type_id::string:
        make_from_code(e, static_cast<i32>(err::E("user", "message").code()));
        *field_of(e, field::arg1) = s;
        break;
    default: {
        cell type;
        init_datatype(&type, type_id::error);
        raise(err::E("script", "bad-make-arg"), &type, &s);
    }
    }
    *proto = *e;
    stack::top = base;
    return proto;
}

void set_where_once(cell* error, const cell* value) {
    if (is_none(field_of(error, field::where))) *field_of(error, field::where) = *value;
}

u32 category_symbol(const cell* error) {
    const cell* t = field_of(error, field::type);
    return is_any_word_type(type_of(t)) ? t->w2 : 0;
}

u32 id_symbol(const cell* error) {
    const cell* t = field_of(error, field::id);
    return is_any_word_type(type_of(t)) ? t->w2 : 0;
}

i32 stack_trace_level() {
    set_up();
    if (type_of(state_slot) != type_id::object) return 1;
    const cell* v = object::field_value(state_slot, sym::stack_trace);
    return type_of(v) == type_id::integer ? int_of(v) : 0;
}

cell loading_files() {
    set_up();
    if (type_of(state_slot) != type_id::object || object::field_count(state_slot) < 4)
        return none_cell;
    return context::values_base(state_slot->w1)[3];
}

void record_call_stack(cell* error) {
    cell e = *error;
    cell* base = stack::push_value(&e);
    cell recorded = *field_of(&e, field::stack);
    if (type_of(&recorded) == type_id::integer) {
        i32 level = stack_trace_level();
        if (level < 1) level = 1;
        // A position recorded by an unwound call may lie above the frames alive now.
        i32 position = int_of(&recorded);
        u32 end = position < 0 ? 0 : static_cast<u32>(position);
        if (end > stack::frame_depth()) end = stack::frame_depth();
        cell* block = stack::push_value(&none_cell);
        *block = cell{type_id::block, 0, memory::new_cell_series(20), 0};
        stack::list_calls(level, block, end);
        *field_of(&e, field::stack) = *block;
    }
    cell files = loading_files();
    if (type_of(&files) == type_id::block) {
        u32 n = used_units(buffer_of(files.w2));
        u32 head = files.w1 < n ? files.w1 : n;
        if (n > head) {
            stack::push_value(&files);
            cell copy{type_id::block, 0, memory::new_cell_series(n - head), 0};
            series_buffer* b = buffer_of(copy.w2);
            std::memcpy(head_cell(b), head_cell(buffer_of(files.w2)) + head,
                        (n - head) * sizeof(cell));
            b->tail = b->head + (n - head) * sizeof(cell);
            *field_of(&e, field::files) = copy;
        }
    }
    stack::top = base;
}

cell spec_argument_word(u32 n) {
    call_frame* f = stack::current_frame();
    if (!f || !f->word_context) return none_cell;
    u32 ctx = f->word_context;
    if (context::is_stack(ctx)) ctx = context::global_node();
    i32 slot = context::find_symbol_index(ctx, frame_symbol(f), true);
    const cell* base = context::values_base(ctx);
    if (slot < 0 || !base) return none_cell;
    cell callable = base[slot];
    u32 t = type_of(&callable);
    if (t != type_id::native && t != type_id::action && t != type_id::op &&
        t != type_id::function && t != type_id::routine)
        return none_cell;
    series_buffer* b = buffer_of(callable.w2);
    u32 seen = 0;
    for (u32 i = 0; i < used_units(b); i++) {
        cell entry = head_cell(b)[i];
        u32 et = type_of(&entry);
        if (et != type_id::word && et != type_id::lit_word && et != type_id::get_word &&
            et != type_id::refinement)
            continue;
        if (seen++ == n) return entry;
    }
    return none_cell;
}

namespace {
i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent) {
    return object::write_fields(value, buffer, "make error! [", !only, !only, all, flat, part,
                                limit, indent);
}

i32 compare(cell* a, cell* b, i32 op) {
    if (type_of(b) != type_id::error) return -2;
    return object::compare_objects(a, b, op);
}
} // namespace

void register_type() {
    action_row row{};
    row.type = type_id::error;
    row.parent = type_id::object;
    row.name = "error!";
    row.make = make;
    row.reflect = act::inherit;
    row.form = form_report;
    row.mold = mold;
    row.eval_path = object::eval_path;
    row.compare = compare;
    row.copy = act::inherit;
    row.select = act::inherit;
    datatype::register_row(row);
}

} // namespace zel::error
