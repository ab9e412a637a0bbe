// block!: helpers, make and to, compare, copy and path access; the action row.
#include "datatypes/block.hpp"

#include <algorithm>
#include <cstring>

#include "datatypes/block_handlers.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/series.hpp"
#include "datatypes/vector.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/roots.hpp"

namespace zel::block {

namespace cop = actions::compare_op;

namespace {
series_buffer* buf(const cell* b) {
    return buffer_of(b->w2);
}
u32 length_of(const cell* b) {
    return used_units(buf(b));
}
i32 head_of(const cell* b) {
    return static_cast<i32>(b->w1);
}
cell* cells(const cell* b) {
    return head_cell(buf(b));
}
} // namespace

std::vector<cell> cells_of(const cell* b) {
    u32 h = series::clamped_head(b);
    return std::vector<cell>(cells(b) + h, cells(b) + length_of(b));
}

cell_run cells_in_place(const cell* b, u32 target_node) {
    u32 h = series::clamped_head(b);
    cell_run run{b->w2, h, length_of(b) - h};
    if (run.node != target_node || run.count == 0) return run;
    cell* slot = init_none(stack::reserve_slot());
    u32 node = memory::new_cell_series(run.count);
    *slot = cell{type_id::block, 0, node, 0};
    series_buffer* s = buffer_of(node);
    std::memcpy(head_cell(s), run.first(), std::size_t(run.count) * sizeof(cell));
    s->tail += run.count * static_cast<u32>(sizeof(cell));
    return {node, 0, run.count};
}

series_buffer* make_room(const cell* b, u64 n, bool spare) {
    return series::ensure_room(b->w2, n, spare);
}

// ---- positions ---------------------------------------------------------------------------

u32 cells_from_head(const cell* b) {
    return length_of(b) - series::clamped_head(b);
}

bool step_head(cell* b) {
    return series::skip_units(b, 1);
}

cell* head_address(cell* b) {
    if (head_of(b) > 0 && static_cast<u32>(head_of(b)) > length_of(b)) b->w1 = length_of(b);
    return cells(b) + series::clamped_head(b);
}

cell* tail_address(const cell* b) {
    return tail_cell(buf(b));
}

bool head_at_tail(const cell* b) {
    return series::head_at_tail(b);
}

cell* cell_address(const cell* b, u32 index) {
    return cells(b) + index;
}

void cut_at_head(const cell* b) {
    series_buffer* s = buf(b);
    s->tail = s->head + series::clamped_head(b) * sizeof(cell);
}

void set_tail_index(const cell* b, u32 index) {
    series_buffer* s = buf(b);
    s->tail = s->head + index * static_cast<u32>(sizeof(cell));
}

// ---- building ----------------------------------------------------------------------------

cell* append_value_copy(const cell* b, const cell* value) {
    cell v = *value; // the value may lie in the buffer that grows
    cell* slot = memory::append_cell_slot(b);
    *slot = v;
    return slot;
}

void drop_last(cell* b) {
    series_buffer* s = buf(b);
    if (s->tail > s->head) s->tail -= sizeof(cell);
    if (head_of(b) > 0 && static_cast<u32>(head_of(b)) > used_units(s)) b->w1 = used_units(s);
}

void append_cells_from_head(const cell* source, const cell* target) {
    cell* base = stack::top;
    cell_run from = cells_in_place(source, target->w2);
    if (from.count) {
        series_buffer* s = make_room(target, from.count, true);
        std::memcpy(tail_cell(s), from.first(), std::size_t(from.count) * sizeof(cell));
        s->tail += from.count * static_cast<u32>(sizeof(cell));
    }
    stack::top = base;
}

void init_cell(cell* c, i32 n) {
    init_cell_alloc(c, n, false);
}

void init_cell_alloc(cell* c, i32 n, bool outside) {
    u32 size = n < 1 ? 1 : static_cast<u32>(n);
    u32 node =
        outside ? memory::new_malloc_series(size, sizeof(cell), 0) : memory::new_cell_series(size);
    *c = cell{type_id::block, 0, node, 0};
}

namespace {
cell* append_new(const cell* parent, i32 n, bool outside) {
    cell fresh;
    init_cell_alloc(&fresh, n, outside);
    if (!parent) return roots::append(&fresh);
    return append_value_copy(parent, &fresh);
}
} // namespace

cell* append_new_fixed(const cell* parent, i32 n) {
    return append_new(parent, n, true);
}
cell* append_new_sized(const cell* parent, i32 n) {
    return append_new(parent, n, false);
}

cell* push_cell(const cell* b) {
    return stack::push_value(b);
}

cell* push_new(i32 n) {
    cell* slot = stack::reserve_slot();
    init_cell(slot, n < 1 ? 1 : n);
    return slot;
}

void insert_one(cell* b, const cell* value, bool advance, bool at_start) {
    cell v = *value;
    u32 length = length_of(b);
    u32 at = at_start ? 0 : series::clamped_head(b);
    series_buffer* s = make_room(b, 1, true);
    cell* base = head_cell(s);
    std::memmove(base + at + 1, base + at, (length - at) * sizeof(cell));
    base[at] = v;
    s->tail += sizeof(cell);
    series::index_sync::inserted(b, at, 1, length);
    if (advance) b->w1 = at + 1;
}

void insert_cells_of(cell* target, const cell* source) {
    cell* stack_base = stack::top;
    cell_run from = cells_in_place(source, target->w2);
    u32 n = from.count;
    if (n) {
        u32 length = length_of(target);
        u32 at = series::clamped_head(target);
        series_buffer* s = make_room(target, n, true);
        cell* base = head_cell(s);
        std::memmove(base + at + n, base + at, (length - at) * sizeof(cell));
        std::memcpy(base + at, from.first(), n * sizeof(cell));
        s->tail += n * sizeof(cell);
        series::index_sync::inserted(target, at, n, length);
        target->w1 = at + n;
    }
    stack::top = stack_base;
}

void insert_into_below() {
    cell* value = stack::top_value();
    insert_one(value - 1, value, true, false);
    stack::drop_values(1);
}

void append_into_below() {
    cell* value = stack::top_value();
    cell* b = value - 1;
    u32 length = length_of(b);
    append_value_copy(b, value);
    series::index_sync::inserted(b, length, 1, length);
    stack::drop_values(1);
}

void append_second_argument() {
    cell* b = stack::arg(0);
    u32 length = length_of(b);
    append_value_copy(b, stack::arg(1));
    series::index_sync::inserted(b, length, 1, length);
}

// ---- lookups -----------------------------------------------------------------------------

cell select_value(const cell* b, const cell* value) {
    cell v = *value, none{};
    init_none(&none);
    for (u32 i = series::clamped_head(b); i < length_of(b); i++) {
        cell c = cells(b)[i];
        if (!actions::compare(&v, &c, cop::find)) continue;
        return i + 1 < length_of(b) ? cells(b)[i + 1] : none;
    }
    return none;
}

bool remove_first_match(cell* b, const cell* value, bool from_start) {
    cell v = *value;
    for (u32 i = from_start ? 0 : series::clamped_head(b); i < length_of(b); i++) {
        cell c = cells(b)[i];
        if (!actions::compare(&v, &c, cop::find)) continue;
        u32 length = length_of(b);
        series_buffer* s = buf(b);
        std::memmove(head_cell(s) + i, head_cell(s) + i + 1, (length - i - 1) * sizeof(cell));
        s->tail -= sizeof(cell);
        series::index_sync::removed(b, i, 1, length);
        return i64(i) <= head_of(b);
    }
    return false;
}

cell value_after_word(const cell* b, const cell* word, bool exact) {
    cell none{};
    init_none(&none);
    u32 wanted = exact ? word->w2 : hash_index::canonical_symbol(word->w2);
    u32 length = length_of(b);
    for (u32 i = series::clamped_head(b); i < length; i++) {
        const cell* c = cells(b) + i;
        u32 t = type_of(c);
        if (t != type_id::word && t != type_id::set_word && t != type_id::lit_word &&
            t != type_id::get_word)
            continue;
        u32 symbol = exact ? c->w2 : hash_index::canonical_symbol(c->w2);
        if (symbol != wanted) continue;
        return i + 1 < length ? c[1] : none;
    }
    return none;
}

// ---- copies ------------------------------------------------------------------------------

namespace {
bool duplicated_kind(u32 t, bool all_kinds) {
    return t == type_id::block || (all_kinds && (t == type_id::paren || is_any_path_type(t)));
}

// A block of b's type holding its cells from the head, in `out` (which must not move).
void duplicate_into(cell* out, const cell* b, bool deep, bool all_kinds) {
    cell source = *b;
    u32 h = series::clamped_head(&source);
    u32 count = length_of(&source) - h;
    u32 node = memory::new_cell_series(count);
    // The source is read after the allocation, which may have moved it.
    series_buffer* s = buffer_of(node);
    if (count) std::memcpy(head_cell(s), cells(&source) + h, std::size_t(count) * sizeof(cell));
    s->tail += count * static_cast<u32>(sizeof(cell));
    *out = cell{type_of(&source), 0, node, 0};
    if (!deep) return;
    // A block that holds itself would be duplicated without end.
    if (cycle_stack::contains(source.w2)) {
        cycle_stack::clear();
        error::raise(err::E("internal", "no-cycle"));
    }
    cycle_stack::guard g(source.w2);
    // The copy's own cells are the ones to duplicate: it is rooted through `out`.
    for (u32 i = 0; i < count; i++) {
        cell item = head_cell(buffer_of(node))[i];
        if (!duplicated_kind(type_of(&item), all_kinds)) continue;
        cell* slot = stack::reserve_slot();
        duplicate_into(slot, &item, true, all_kinds);
        cell copy = *slot;
        cell_ops::set_newline(&copy, cell_ops::has_newline(&item));
        head_cell(buffer_of(node))[i] = copy;
        stack::drop_values(1);
    }
}

bool copyable_for_types(u32 t) {
    return series::is_series_type(t) || t == type_id::bitset || t == type_id::object ||
           t == type_id::error || t == type_id::map;
}

bool type_selected(const cell* types, u32 t) {
    if (is(types, type_id::typeset)) return typeset_has(types, t);
    return is(types, type_id::datatype) && types->w1 == t;
}

// Replaces cell i of b (counted from the buffer start) by its copy through its type's copy
// action. The cell is copied to the stack first: the copy allocates.
void replace_by_copy(const cell* b, u32 i, bool deep, cell* types) {
    cell* slot = stack::push_value(cells(b) + i);
    auto copy_fn = actions::handler_of_value<act::slot::copy>(slot);
    cell* result = copy_fn(slot, slot, nullptr, deep, types);
    cell copy = *result;
    cell_ops::set_newline(&copy, cell_ops::has_newline(cells(b) + i));
    if (i < length_of(b)) cells(b)[i] = copy;
    stack::drop_values(1);
}
} // namespace

cell* push_duplicate(const cell* b, bool deep, bool all_kinds) {
    cell* slot = stack::reserve_slot();
    init_none(slot);
    duplicate_into(slot, b, deep, all_kinds);
    return slot;
}

void copy_matching_types(cell* b, u32 from, u32 to, u32 step, bool deep, const cell* types) {
    cell t = *types;
    if (step == 0) step = 1;
    for (u32 i = from; i < to && i < length_of(b); i += step) {
        u32 type = type_of(cells(b) + i);
        if (!copyable_for_types(type) || !type_selected(&t, type)) continue;
        replace_by_copy(b, i, deep, deep ? &t : nullptr);
    }
}

// ---- make and to -------------------------------------------------------------------------

namespace {
// object!, map!: the body through their reflect handler.
bool body_of(cell* out, const cell* spec) {
    auto reflect = act::handler<act::slot::reflect>(type_of(spec));
    u32 body = series::name_symbol("body");
    if (!reflect || !body) error::raise(err::E("internal", "not-done"));
    cell v = *spec;
    reflect(&v, body);
    *out = v;
    return true;
}

void retype(cell* c, u32 type) {
    *c = cell{type, c->w1, c->w2, 0};
}

void one_cell_block(cell* out, const cell* value, u32 type) {
    cell v = *value;
    cell_ops::clear_newline_flag(&v);
    u32 node = memory::new_cell_series(1);
    series_buffer* s = buffer_of(node);
    *head_cell(s) = v;
    s->tail += sizeof(cell);
    *out = cell{type, 0, node, 0};
}
} // namespace

cell* make(cell* proto, cell* spec, u32 type) {
    u32 t = type_of(spec);
    if (is_any_block_type(t)) {
        duplicate_into(proto, spec, false, false);
        retype(proto, type);
        return proto;
    }
    if (t == type_id::integer || t == type_id::float_) {
        i32 n;
        if (t == type_id::float_) {
            if (integer::float_out_of_range(spec))
                error::raise(err::E("script", "out-of-range"), spec);
            n = static_cast<i32>(float_of(spec));
        } else {
            n = int_of(spec);
        }
        init_cell(proto, n);
        retype(proto, type);
        return proto;
    }
    if (t == type_id::object || t == type_id::map) {
        body_of(proto, spec);
        retype(proto, type);
        return proto;
    }
    if (t == type_id::vector) {
        vector::elements_to_block(proto, spec);
        retype(proto, type);
        return proto;
    }
    cell datatype;
    init_datatype(&datatype, type);
    error::raise(err::E("script", "bad-make-arg"), &datatype, spec);
}

cell* to(cell* proto, cell* spec, u32 type) {
    u32 t = type_of(spec);
    cell v = *spec;
    if (t == type_id::object || t == type_id::map || t == type_id::vector)
        return make(proto, spec, type);
    if (is_any_block_type(t)) {
        duplicate_into(proto, &v, false, false);
    } else if (t == type_id::string) {
        // The text is loaded, as transcode loads it (a syntax error is raised as such).
        lexer::transcode_string(proto, &v, -1, lexer::scan_options{}, nullptr);
    } else if (t == type_id::typeset) {
        init_cell(proto, 8);
        typeset::to_block(&v, proto);
    } else {
        one_cell_block(proto, &v, type);
    }
    retype(proto, type);
    return proto;
}

// ---- compare -----------------------------------------------------------------------------

namespace {
bool is_equality(i32 op) {
    return op == cop::equal || op == cop::not_equal || op == cop::strict_equal ||
           op == cop::equal_10 || op == cop::equal_11 || op == cop::find;
}
bool numeric(u32 t) {
    return t == type_id::integer || t == type_id::float_ || t == type_id::percent;
}

u32 length_for_compare(const cell* b) {
    i32 h = head_of(b);
    u32 length = length_of(b);
    if (h < 0) return length;
    return static_cast<u32>(h) >= length ? 0 : length - static_cast<u32>(h);
}

i32 compare(cell* a, cell* b, i32 op) {
    u32 ta = type_of(a), tb = type_of(b);
    if (ta != tb) {
        bool paths = (ta == type_id::path || ta == type_id::lit_path) &&
                     (tb == type_id::path || tb == type_id::lit_path);
        if (!(paths && (op == cop::equal_10 || op == cop::equal_11))) return -2;
    }
    if (a->w2 == b->w2 && a->w1 == b->w1) return 0;
    if (op == cop::same) return -1;
    if (cycle_stack::contains(a->w2)) return cycle_stack::contains(b->w2) ? 0 : -1;
    u32 la = length_for_compare(a), lb = length_for_compare(b);
    if (is_equality(op) && la != lb) return 1;
    u32 ha = head_of(a) < 0 ? 0 : head_of(a), hb = head_of(b) < 0 ? 0 : head_of(b);
    cycle_stack::guard ga(a->w2);
    cycle_stack::guard gb(b->w2);
    for (u32 i = 0; i < std::min(la, lb); i++) {
        // Re-read on every step: a nested compare may allocate.
        if (ha + i >= length_of(a) || hb + i >= length_of(b)) break;
        cell x = cells(a)[ha + i], y = cells(b)[hb + i];
        u32 tx = type_of(&x), ty = type_of(&y);
        if (tx == ty || (is_any_word_type(tx) && is_any_word_type(ty)) ||
            (numeric(tx) && numeric(ty))) {
            i32 r = actions::compare_three_way(&x, &y, op);
            if (r != 0) return r;
        } else {
            return tx < ty ? -1 : 1;
        }
    }
    return la < lb ? -1 : (la > lb ? 1 : 0);
}
} // namespace

// ---- copy --------------------------------------------------------------------------------

cell* copy(cell* value, cell* out, cell* part, bool deep, cell* types) {
    if (!out) out = value;
    u32 source_node = value->w2;
    cell result;
    series::copy(value, &result, part, deep, types);
    if ((deep || types) && is(&result, type_id::hash))
        cell_ops::write_type(&result, type_id::block);
    *out = result;
    if (!deep && !types) return out;
    // The copy is kept on the stack while its cells are copied in turn.
    cell* held = stack::push_value(&result);
    if (deep) {
        if (cycle_stack::contains(source_node)) {
            cycle_stack::clear();
            error::raise(err::E("internal", "no-cycle"));
        }
    }
    {
        cycle_stack::guard g(source_node);
        if (!types) {
            for (u32 i = 0; i < length_of(held); i++)
                if (series::is_series_type(type_of(cells(held) + i)))
                    replace_by_copy(held, i, true, nullptr);
        } else {
            cell t = *types;
            copy_matching_types(held, 0, length_of(held), 1, deep, &t);
        }
    }
    *out = *held;
    stack::drop_values(1);
    return out;
}

// ---- eval-path ---------------------------------------------------------------------------

namespace {
cell path_value; // the value reached, read by the path evaluator at once

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    cell p = *parent, e = *element;
    if (!value) {
        if (is(&e, type_id::integer)) {
            cell* r = series::pick(&p, int_of(&e), &e);
            path_value = *r;
        } else if (is(&e, type_id::word) && !is(&p, type_id::hash)) {
            path_value = value_after_word(&p, &e, step.case_);
        } else {
            auto select = actions::handler_of_value<act::slot::select>(&p);
            path_value = *select(&p, &e, nullptr, true, step.case_, false, false, nullptr, nullptr,
                                 false, false);
        }
        return &path_value;
    }
    cell v = *value;
    auto poke = actions::handler_of_value<act::slot::poke>(&p);
    if (is(&e, type_id::integer)) {
        poke(&p, int_of(&e), &v, &e);
    } else {
        auto find = actions::handler_of_value<act::slot::find>(&p);
        cell at = p;
        cell* found = find(&at, &e, nullptr, false, step.case_, false, false, nullptr, nullptr,
                           false, false, false, false);
        if (is_none(found)) {
            cell path;
            if (step.path)
                path = *step.path;
            else
                init_none(&path);
            error::raise(err::E("script", "bad-path-set"), &path, &e);
        }
        cell position = *found;
        cell two;
        init_integer(&two, 2);
        poke(&position, 2, &v, &two);
    }
    path_value = v;
    return &path_value;
}

void append_handler(cell* s, cell* v, i32 part, bool only, i32 dup, bool) {
    handlers::insert(s, v, part, only, dup, true);
}
void insert_handler(cell* s, cell* v, i32 part, bool only, i32 dup, bool) {
    handlers::insert(s, v, part, only, dup, false);
}
} // namespace

void register_type() {
    using namespace handlers;
    datatype::register_row(action_row{.type = type_id::block,
                                      .parent = type_id::series,
                                      .name = "block!",
                                      .make = make,
                                      .random = act::inherit,
                                      .reflect = act::inherit,
                                      .to = to,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = eval_path,
                                      .compare = compare,
                                      .append = append_handler,
                                      .at = act::inherit,
                                      .back = act::inherit,
                                      .change = change,
                                      .clear = act::inherit,
                                      .copy = copy,
                                      .find = find,
                                      .head = act::inherit,
                                      .head_q = act::inherit,
                                      .index_q = act::inherit,
                                      .insert = insert_handler,
                                      .length_q = act::inherit,
                                      .move = act::inherit,
                                      .next = act::inherit,
                                      .pick = act::inherit,
                                      .poke = act::inherit,
                                      .put = put,
                                      .remove = act::inherit,
                                      .reverse = act::inherit,
                                      .select = select,
                                      .sort = sort,
                                      .skip = act::inherit,
                                      .swap = swap,
                                      .tail = act::inherit,
                                      .tail_q = act::inherit,
                                      .take = take,
                                      .trim = trim,
                                      .modify = act::inherit});
}

} // namespace zel::block
