// Word and binding natives: get, set, unset, value?, bind, in, context?, and the object makers
// construct and extend. Words are read and written through their contexts, so that the change
// handlers of objects see every assignment.
#include "datatypes/basic.hpp"
#include "datatypes/block_copy.hpp"
#include "datatypes/change_events.hpp"
#include "datatypes/context.hpp"
#include "datatypes/object.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/natives_common.hpp"
#include "runtime/memory.hpp"

namespace zel::natives {

cell* word_value_or_null(const cell* word) {
    u32 ctx = word->w1;
    if (!ctx) return nullptr;
    if (word->w3 == context::unbound)
        return word->w2 == sym::self ? context::self_cell(ctx) : nullptr;
    cell* base = context::values_base(ctx);
    return base ? base + word->w3 : nullptr;
}

void set_word(const cell* word, const cell* value) {
    cell w = *word;
    if (!w.w1) error::raise(err::E("script", "not-defined"), &w);
    context::set_word_value(&w, value);
}

namespace {
using stack::arg;

u32 length_of(const cell* block) {
    return used_units(buffer_of(block->w2));
}

bool is_assignable_word(u32 t) {
    return t == type_id::word || t == type_id::set_word || t == type_id::get_word ||
           t == type_id::lit_word;
}

// Element i of a block or path from its index; none! past its tail.
cell element(const cell* values, u32 i) {
    u32 at = values->w1 + i;
    if (at >= length_of(values)) return cell{type_id::none, 0, 0, 0};
    return head_cell(buffer_of(values->w2))[at];
}
} // namespace

void assign_block(const cell* words_in, const cell* values_in, bool any, bool only, bool some) {
    cell words = *words_in;
    cell values = *values_in;
    u32 vt = type_of(&values);
    if (vt == type_id::map && !only) {
        // A map spreads as its live entries, keys given back as words.
        auto reflect = act::handler<act::slot::reflect>(type_id::map);
        reflect(&values, sym::body_field);
        for (u32 i = 0; i < length_of(&values); i += 2) {
            cell* key = head_cell(buffer_of(values.w2)) + i;
            key->header = type_of(key) == type_id::set_word ? type_id::word : type_of(key);
        }
        vt = type_id::block;
    }
    // The spread block stays reachable while change handlers run.
    stack::push_value(&values);
    bool spread = !only && is_any_block_type(vt);
    u32 n = words.w1 < length_of(&words) ? length_of(&words) - words.w1 : 0;
    for (u32 i = 0; i < n; i++) {
        cell entry = element(&words, i);
        if (!is_assignable_word(type_of(&entry)))
            error::raise(err::E("script", "invalid-arg"), &entry);
        if (spread && !any) {
            cell v = element(&values, i);
            if (is_unset(&v)) error::raise(err::E("script", "need-value"), &entry);
        }
    }
    for (u32 i = 0; i < n; i++) {
        // Both are read again: a change handler run by the previous assignment may have
        // changed either block.
        cell entry = element(&words, i);
        if (!is_assignable_word(type_of(&entry))) continue;
        cell v = spread ? element(&values, i) : values;
        if (some && is_none(&v)) continue;
        set_word(&entry, &v);
    }
    stack::drop_values(1);
}

namespace {

// A path of any kind, evaluated as a get-path or set-path.
void eval_path_arg(bool set, const cell* value, bool case_) {
    cell path = *arg(0);
    cell_ops::write_type(&path, type_id::path);
    cell v = value ? *value : cell{};
    interp::evaluate_path(&path, path.w2, length_of(&path), set, !set, false, value ? &v : nullptr,
                          case_);
}

void get(const i32* refs) {
    bool any = refs[0] >= 0;
    cell* target = arg(0);
    u32 t = type_of(target);
    if (is_any_path_type(t)) {
        eval_path_arg(false, nullptr, refs[1] >= 0);
    } else if (is_object_type(t)) {
        actions::handler_of_value<act::slot::reflect>(target)(target, sym::values);
    } else {
        cell word = *target;
        if (!word.w1) error::raise(err::E("script", "not-defined"), &word);
        cell* v = word_value_or_null(&word);
        if (!v) v = context::word_value_address(&word); // raises the reason it has none
        if (is_unset(v) && !any) error::raise(err::E("script", "no-value"), &word);
        *arg(0) = *v;
    }
    keep_result();
}

void set(const i32* refs) {
    bool any = refs[0] >= 0, case_ = refs[1] >= 0, only = refs[2] >= 0, some = refs[3] >= 0;
    cell value = *arg(1);
    if (is_unset(&value) && !any) {
        cell target = *arg(0);
        error::raise(err::E("script", "need-value"), &target);
    }
    u32 t = type_of(arg(0));
    if (t == type_id::block) {
        assign_block(arg(0), arg(1), any, only, some);
    } else if (is_any_path_type(t)) {
        eval_path_arg(true, &value, case_);
    } else if (is_object_type(t)) {
        object::assign_from(arg(0), arg(1), any, only, some);
    } else {
        set_word(arg(0), &value);
    }
    *arg(0) = *arg(1);
    keep_result();
}

void unset_(const i32*) {
    cell target = *arg(0);
    if (type_of(&target) == type_id::word) {
        set_word(&target, &unset::value);
    } else {
        for (u32 i = target.w1; i < length_of(&target); i++) {
            cell w = head_cell(buffer_of(target.w2))[i];
            if (type_of(&w) == type_id::word) set_word(&w, &unset::value);
        }
    }
    init_unset(arg(0));
    keep_result();
}

void value_q(const i32*) {
    cell* v = arg(0);
    bool has;
    if (is_any_word_type(type_of(v))) {
        cell* slot = word_value_or_null(v);
        has = slot && !is_unset(slot);
    } else {
        has = !is_unset(v);
    }
    init_logic(arg(0), has);
    keep_result();
}

// The context a value stands for: a word's context, or the context of an object or function.
u32 context_of(const cell* value) {
    u32 t = type_of(value);
    if (is_any_word_type(t)) {
        if (!value->w1) {
            cell w = *value;
            error::raise(err::E("script", "not-defined"), &w);
        }
        return value->w1;
    }
    if (is_object_type(t) || t == type_id::function || t == type_id::routine) return value->w1;
    return 0;
}

void bind(const i32* refs) {
    u32 ctx = context_of(arg(1));
    cell* target = arg(0);
    if (!ctx) {
        keep_result();
        return;
    }
    if (type_of(target) == type_id::block) {
        if (refs[0] >= 0) *target = block_copy::deep(target);
        cell block = *target;
        context::bind_block_words(&block, ctx, context::kind_of(ctx) == context::kind::object);
    } else {
        context::bind_one_word(ctx, target);
    }
    keep_result();
}

void in(const i32*) {
    u32 t = type_of(arg(0));
    // Natives and actions keep no context that a word could be bound to.
    u32 ctx =
        (is_object_type(t) || t == type_id::function || t == type_id::routine) ? arg(0)->w1 : 0;
    cell word = *arg(1);
    if (ctx && context::bind_one_word(ctx, &word) >= 0) {
        if (type_of(&word) == type_id::refinement) cell_ops::write_type(&word, type_id::word);
        *arg(0) = word;
    } else {
        init_none(arg(0));
    }
    keep_result();
}

void context_q(const i32*) {
    u32 ctx = arg(0)->w1;
    cell result{type_id::none, 0, 0, 0};
    if (ctx) {
        cell* self = context::self_cell(ctx);
        u32 st = type_of(self);
        if (is_object_type(st) || st == type_id::function || st == type_id::routine ||
            st == type_id::native || st == type_id::action)
            result = *self;
        else if (ctx == context::global_node())
            result = cell{type_id::object, ctx, 0, 0};
    }
    *arg(0) = result;
    keep_result();
}

void construct(const i32* refs) {
    cell* proto = refs[0] >= 0 ? arg(static_cast<u32>(refs[0])) : nullptr;
    cell* made = object::new_from_proto(arg(0), proto, refs[1] >= 0);
    *arg(0) = *made;
    keep_result();
}

// Only maps are extended, pair by pair through the map's own put; objects are not.
void extend(const i32* refs) {
    bool case_ = refs[0] >= 0;
    auto put = act::handler<act::slot::put>(type_id::map);
    if (type_of(arg(0)) != type_id::map || !put) error::raise(err::E("internal", "not-done"));
    cell spec = *arg(1);
    if (type_of(&spec) == type_id::map) spec = cell{type_id::block, 0, spec.w2, 0};
    bool from_map = type_of(arg(1)) == type_id::map;
    u32 n = length_of(&spec);
    if (spec.w1 > n) spec.w1 = n;
    if ((n - spec.w1) & 1) error::raise(err::E("script", "invalid-arg"), &spec);
    for (u32 i = spec.w1; i + 1 < length_of(&spec); i += 2) {
        cell* base = stack::top;
        cell* target = stack::push_value(arg(0));
        cell* key = stack::push_value(head_cell(buffer_of(spec.w2)) + i);
        cell* value = stack::push_value(head_cell(buffer_of(spec.w2)) + i + 1);
        // A removed entry of a map given as spec is skipped.
        if (!(from_map && value->header == 0)) put(target, key, value, case_);
        stack::top = base;
    }
    keep_result();
}

const families::entry table[] = {
    {"get", get},       {"set", set}, {"unset", unset_},       {"value?", value_q},
    {"bind", bind},     {"in", in},   {"context?", context_q}, {"construct", construct},
    {"extend", extend},
};
} // namespace

std::span<const families::entry> families::words() {
    return table;
}

} // namespace zel::natives
