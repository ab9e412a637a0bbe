// function! and routine!.
#include "datatypes/function.hpp"

#include <vector>

#include "datatypes/basic.hpp"
#include "datatypes/block_copy.hpp"
#include "datatypes/context.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::function {

namespace cop = actions::compare_op;

namespace {
u32 length_of(const cell* block) { return used_units(buffer_of(block->w2)); }
cell* at(const cell* block, u32 i) { return head_cell(buffer_of(block->w2)) + i; }

[[noreturn]] void bad_def(const cell* spec) { error::raise(err::E("script", "bad-func-def"), spec); }

bool is_arg_word(u32 t) {
    return t == type_id::word || t == type_id::lit_word || t == type_id::get_word;
}

void check_type_block(const cell* block) {
    u32 n = length_of(block);
    for (u32 i = block->w1; i < n; i++) {
        cell entry = *at(block, i);
        cell value = entry;
        if (type_of(&entry) == type_id::word) {
            cell* v = context::word_value_address(&entry);
            if (type_of(v) == type_id::unset) error::raise(err::E("script", "no-value"), &entry);
            value = *v;
        }
        u32 t = type_of(&value);
        if (t != type_id::datatype && t != type_id::typeset && t != type_id::word)
            error::raise(err::E("script", "invalid-type-spec"), &entry);
    }
}
} // namespace

cell* side_cell(const cell* fn, u32 index) { return head_cell(buffer_of(fn->w3)) + index; }

u32 check_spec(const cell* spec) {
    u32 flags = 0;
    u32 n = length_of(spec);
    u32 i = spec->w1;
    bool locals = false, after_return = false;
    if (i < n && type_of(at(spec, i)) == type_id::block) {
        cell attributes = *at(spec, i);
        for (u32 k = attributes.w1; k < length_of(&attributes); k++) {
            cell* a = at(&attributes, k);
            if (type_of(a) != type_id::word) bad_def(spec);
            u32 s = symbol::canonical_id(a->w2);
            if (s == symbol::canonical_id(sym::trace)) flags |= flag::trace;
            if (s == symbol::canonical_id(sym::no_trace)) flags |= flag::no_trace;
        }
        i++;
    }
    for (; i < n; i++) {
        cell entry = *at(spec, i);
        u32 t = type_of(&entry);
        if (is_arg_word(t)) {
            if (locals && t != type_id::word) bad_def(spec);
            if (after_return && !locals) bad_def(spec);
            if (i + 2 < n + 1 && i + 1 < n && type_of(at(spec, i + 1)) == type_id::string &&
                i + 2 < n && type_of(at(spec, i + 2)) == type_id::block)
                bad_def(spec);
            if (i + 1 < n && type_of(at(spec, i + 1)) == type_id::block) {
                cell types = *at(spec, i + 1);
                check_type_block(&types);
                i++;
            }
        } else if (t == type_id::string) {
            continue;
        } else if (t == type_id::set_word) {
            if (symbol::canonical_id(entry.w2) != symbol::canonical_id(sym::return_) ||
                after_return || locals)
                bad_def(spec);
            if (i + 1 >= n || type_of(at(spec, i + 1)) != type_id::block) bad_def(spec);
            if (i + 2 < n) {
                u32 next = type_of(at(spec, i + 2));
                if (next != type_id::refinement && next != type_id::string) bad_def(spec);
            }
            cell types = *at(spec, i + 1);
            check_type_block(&types);
            after_return = true;
            i++;
        } else if (t == type_id::refinement) {
            bool is_local = symbol::canonical_id(entry.w2) == symbol::canonical_id(sym::local);
            if (!is_local && (locals || after_return)) bad_def(spec);
            if (is_local) locals = true;
            if (i + 1 < n) {
                u32 next = type_of(at(spec, i + 1));
                if (!is_arg_word(next) && next != type_id::refinement &&
                    next != type_id::set_word && next != type_id::string)
                    bad_def(spec);
            }
        } else {
            bad_def(spec);
        }
    }
    // No two argument words or refinements may share a name.
    std::vector<u32> seen;
    for (u32 k = spec->w1; k < n; k++) {
        cell* entry = at(spec, k);
        u32 t = type_of(entry);
        if (!is_arg_word(t) && t != type_id::refinement) continue;
        u32 s = symbol::canonical_id(entry->w2);
        for (u32 other : seen)
            if (other == s) error::raise(err::E("script", "dup-vars"), entry);
        seen.push_back(s);
    }
    return flags;
}

u32 build_value(const cell* spec_in, const cell* body_in, u32 ctx, u32 owner, u32 header_flags) {
    cell* saved = stack::top;
    cell* spec = stack::push_value(spec_in);
    cell* body = stack::push_value(body_in);
    if (spec->w1 > length_of(spec)) spec->w1 = length_of(spec);
    if (body->w1 > length_of(body)) body->w1 = length_of(body);
    if (spec->w1 != 0) *spec = block_copy::shallow(spec);
    bool bind = ctx == 0;
    if (!ctx) ctx = context::new_from_spec(spec, true, false, context::kind::function);
    cell ctx_holder{type_id::object, ctx, 0, 0};
    stack::push_value(&ctx_holder);
    u32 side = memory::new_unset_cell_series(5);
    series_buffer* sb = buffer_of(side);
    sb->tail = sb->head + 5 * sizeof(cell);
    cell fn{type_id::function | header_flags, ctx, spec->w2, side};
    cell* fn_slot = stack::push_value(&fn);
    cell body_copy = block_copy::deep(body);
    *side_cell(fn_slot, side::body) = body_copy;
    if (owner) init_integer(side_cell(fn_slot, side::owner), static_cast<i32>(owner));
    if (bind) context::bind_block_words(&body_copy, ctx, false);
    *context::self_cell(ctx) = *fn_slot;
    cell result = *fn_slot;
    stack::top = saved;
    stack::push_value(&result);
    return ctx;
}

i32 local_slot_count(const cell* spec, u32 start, bool require) {
    u32 n = length_of(spec);
    i32 count = 0;
    bool found = false;
    for (u32 i = start; i < n; i++) {
        cell* e = at(spec, i);
        if (!found) {
            if (type_of(e) == type_id::refinement &&
                symbol::canonical_id(e->w2) == symbol::canonical_id(sym::local)) {
                found = true;
                count = 1;
            }
        } else if (type_of(e) == type_id::word) {
            count++;
        }
    }
    if (require && !found) return -1;
    return count;
}

void push_local_slots(u32 count) {
    if (count == 0) return;
    init_logic(stack::reserve_slot(), false);
    for (u32 i = 1; i < count; i++) init_none(stack::reserve_slot());
}

namespace {
bool known(const std::vector<u32>& list, u32 symbol_id) {
    u32 c = symbol::canonical_id(symbol_id);
    for (u32 s : list)
        if (s == c) return true;
    return false;
}

void collect_body(const cell* block, std::vector<u32>& known_list, std::vector<cell>& locals) {
    u32 n = length_of(block);
    auto add = [&](cell w) {
        if (known(known_list, w.w2)) return;
        w.header = type_id::word;
        known_list.push_back(symbol::canonical_id(w.w2));
        locals.push_back(w);
    };
    for (u32 i = block->w1; i < n; i++) {
        cell c = *at(block, i);
        u32 t = type_of(&c);
        if (t == type_id::set_word) {
            add(c);
        } else if (t == type_id::word && i + 1 < n) {
            u32 s = symbol::canonical_id(c.w2);
            bool each = s == symbol::canonical_id(sym::foreach) ||
                        s == symbol::canonical_id(sym::remove_each);
            bool rep = s == symbol::canonical_id(sym::repeat);
            if (!each && !rep) continue;
            cell next = *at(block, i + 1);
            u32 nt = type_of(&next);
            if (nt == type_id::word || nt == type_id::set_word) {
                add(next);
            } else if (each && nt == type_id::block) {
                for (u32 k = next.w1; k < length_of(&next); k++) {
                    cell w = *at(&next, k);
                    u32 wt = type_of(&w);
                    if (wt == type_id::word || wt == type_id::get_word || wt == type_id::lit_word)
                        add(w);
                }
            }
        } else if ((t == type_id::block || t == type_id::paren) && c.w2) {
            collect_body(&c, known_list, locals);
        }
    }
}
} // namespace

cell gather_spec_words(cell* spec, const cell* body) {
    gc::evacuation_hold hold; // `locals` keeps bound words on the heap
    std::vector<u32> known_list;
    std::vector<cell> locals;
    u32 n = length_of(spec);
    u32 extern_at = n;
    for (u32 i = spec->w1; i < n; i++) {
        cell* e = at(spec, i);
        if (is_any_word_type(type_of(e)) &&
            symbol::canonical_id(e->w2) == symbol::canonical_id(sym::extern_)) {
            if (type_of(e) == type_id::refinement) extern_at = i;
            break;
        }
    }
    bool has_extern = extern_at < n;
    if (has_extern) {
        u32 i = extern_at + 1;
        for (; i < n && type_of(at(spec, i)) == type_id::word; i++) known_list.push_back(symbol::canonical_id(at(spec, i)->w2));
        if (i < n && type_of(at(spec, i)) == type_id::refinement &&
            symbol::canonical_id(at(spec, i)->w2) == symbol::canonical_id(sym::local)) {
            for (u32 k = i + 1; k < n; k++)
                if (type_of(at(spec, k)) == type_id::word) locals.push_back(*at(spec, k));
        }
    }
    for (u32 i = spec->w1; i < (has_extern ? extern_at : n); i++) {
        cell* e = at(spec, i);
        u32 t = type_of(e);
        if (t == type_id::word || t == type_id::set_word || t == type_id::lit_word ||
            t == type_id::get_word || t == type_id::refinement) {
            known_list.push_back(symbol::canonical_id(e->w2));
        } else if (has_extern && t != type_id::block && t != type_id::string) {
            error::raise(err::E("script", "bad-func-extern"), e);
        }
    }
    for (const cell& l : locals) known_list.push_back(symbol::canonical_id(l.w2));
    if (has_extern) {
        series_buffer* b = buffer_of(spec->w2);
        b->tail = b->head + extern_at * sizeof(cell);
    }
    collect_body(body, known_list, locals);
    cell result{type_id::block, 0, memory::new_cell_series(static_cast<u32>(locals.size()) + 1), 0};
    cell* holder = stack::push_value(&result);
    if (!locals.empty()) {
        if (local_slot_count(spec, spec->w1, true) < 0) {
            cell local{type_id::refinement, 0, sym::local, 0};
            *memory::append_cell_slot(spec) = local;
        }
        bool dropped = false;
        for (const cell& l : locals) {
            if (!dropped && symbol::canonical_id(l.w2) == symbol::canonical_id(sym::local)) {
                dropped = true;
                continue;
            }
            *memory::append_cell_slot(spec) = l;
            *memory::append_cell_slot(holder) = l;
        }
    }
    result = *holder;
    stack::drop_values(1);
    return result;
}

namespace {
cell* make(cell* proto, cell* spec, u32) {
    if (type_of(spec) != type_id::block || length_of(spec) - spec->w1 < 2 ||
        type_of(at(spec, spec->w1)) != type_id::block ||
        type_of(at(spec, spec->w1 + 1)) != type_id::block)
        error::raise(err::E("script", "bad-func-def"), spec);
    cell s = *at(spec, spec->w1), b = *at(spec, spec->w1 + 1);
    u32 flags = check_spec(&s);
    build_value(&s, &b, 0, 0, flags);
    *proto = *stack::top_value();
    stack::drop_values(1);
    return proto;
}

void reflect(cell* value, u32 field) {
    u32 f = symbol::canonical_id(field);
    if (f == symbol::canonical_id(sym::spec)) {
        *value = cell{type_id::block, 0, value->w2, 0};
    } else if (f == symbol::canonical_id(sym::body_field)) {
        *value = *side_cell(value, side::body);
    } else if (f == symbol::canonical_id(sym::words)) {
        u32 ctx = value->w1;
        u32 n = context::key_count(ctx);
        cell b{type_id::block, 0, memory::new_cell_series(n + 1), 0};
        cell* holder = stack::push_value(&b);
        for (u32 i = 0; i < n; i++) {
            cell w = *context::key_word(ctx, i);
            w.header = type_id::word;
            w.w1 = ctx;
            *memory::append_cell_slot(holder) = w;
        }
        *value = *holder;
        stack::drop_values(1);
    } else {
        error::raise(err::E("internal", "not-done"));
    }
}

i32 form(cell*, cell* buffer, cell*, i32 limit) { return out::text(buffer, "?function?", limit); }

i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent) {
    limit = out::text(buffer, "func ", limit);
    cell spec{type_id::block, 0, value->w2, 0};
    i32 left = actions::mold_typed(&spec, buffer, false, all, flat, part, limit, indent);
    cell body = *side_cell(value, side::body);
    if (type_of(&body) == type_id::none) {
        out::text(buffer, " none", left);
        return left - 5;
    }
    return actions::mold_typed(&body, buffer, false, all, flat, part, left, indent);
}

i32 compare(cell* a, cell* b, i32 op) {
    if (type_of(b) != type_of(a)) return -2;
    switch (op) {
    case cop::equal:
    case cop::not_equal:
    case cop::strict_equal:
    case cop::sort:
    case cop::case_sort:
    case cop::same:
    case cop::find: return a->w3 == b->w3 ? 0 : (a->w3 < b->w3 ? -1 : 1);
    default: return -2;
    }
}

i32 routine_form(cell*, cell* buffer, cell*, i32 limit) {
    return out::text(buffer, "?routine?", limit);
}

i32 routine_mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
                 i32 indent) {
    limit = out::text(buffer, "routine ", limit);
    cell spec{type_id::block, 0, value->w2, 0};
    limit = actions::mold_typed(&spec, buffer, false, all, flat, part, limit, indent);
    cell body = *side_cell(value, side::body);
    if (type_of(&body) == type_id::block)
        return actions::mold_typed(&body, buffer, false, all, flat, part, limit, indent);
    limit = out::text(buffer, " ", limit);
    return actions::mold_typed(&body, buffer, false, all, flat, part, limit, indent);
}
} // namespace

void register_types() {
    datatype::register_row(action_row{.type = type_id::function,
                                      .parent = type_id::context,
                                      .name = "function!",
                                      .make = make,
                                      .reflect = reflect,
                                      .form = form,
                                      .mold = mold,
                                      .compare = compare});
}

void register_routine() {
    action_row row{};
    row.type = type_id::routine;
    row.parent = type_id::function;
    row.name = "routine!";
    row.reflect = act::inherit;
    row.form = routine_form;
    row.mold = routine_mold;
    row.compare = compare;
    datatype::register_row(row);
}

} // namespace zel::function

namespace zel::routine {

namespace {
std::vector<entry>& entries() {
    static std::vector<entry> table;
    return table;
}
} // namespace

u32 add_entry(entry fn) {
    entries().push_back(fn);
    return static_cast<u32>(entries().size());
}

entry entry_at(u32 index) {
    return index >= 1 && index <= entries().size() ? entries()[index - 1] : nullptr;
}

cell* build_value(const cell* spec_in, const cell* body, u32 entry_index, u32 number, bool flag) {
    cell* saved = stack::top;
    cell* spec = stack::push_value(spec_in);
    u32 ctx = context::new_from_spec(spec, true, false, context::kind::function);
    cell ctx_holder{type_id::object, ctx, 0, 0};
    stack::push_value(&ctx_holder);
    u32 arity = 0;
    for (u32 i = spec->w1; i < used_units(buffer_of(spec->w2)); i++)
        if (type_of(head_cell(buffer_of(spec->w2)) + i) == type_id::word) arity++;
    u32 side = memory::new_unset_cell_series(5);
    series_buffer* sb = buffer_of(side);
    sb->tail = sb->head + 5 * sizeof(cell);
    cell r{type_id::routine | (flag ? 0x8000u : 0u) | ((arity & 0x1F) << 25), ctx, spec->w2, side};
    cell* cells = head_cell(buffer_of(side));
    if (body) cells[function::side::body] = *body;
    else init_none(cells + function::side::body);
    init_integer(cells + function::side::code, static_cast<i32>(entry_index));
    init_integer(cells + function::side::owner, static_cast<i32>(number));
    *context::self_cell(ctx) = r;
    stack::top = saved;
    return stack::push_value(&r);
}

u32 arity_bits(const cell* r) { return (r->header >> 25) & 0x1F; }

} // namespace zel::routine
