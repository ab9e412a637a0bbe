// map!: the maker, the key rules, make and to, form and mold.
#include "datatypes/map.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "datatypes/block.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"

namespace zel::map {

namespace {
[[noreturn]] void raise_datatype_error(err::id id, const cell* arg, u32 type) {
    cell t;
    init_datatype(&t, type);
    error::raise(id, &t, arg);
}

[[noreturn]] void bad_key(const cell* path, const cell* key) {
    cell t;
    init_datatype(&t, type_of(key));
    cell where = *(path ? path : key);
    error::raise(err::E("script", "invalid-path"), &where, &t);
}

bool is_word_key(u32 t) {
    return t == type_id::word || t == type_id::set_word || t == type_id::lit_word ||
           t == type_id::get_word;
}

bool is_copied_key(u32 t) {
    return is_any_string_type(t) || t == type_id::binary;
}

// A copy of a series' units from its head, in a new buffer of the same unit size.
u32 copy_units_from_head(const cell* key) {
    series_buffer* b = buffer_of(key->w2);
    u32 unit = unit_of(b);
    u32 total = used_units(b);
    i32 head = static_cast<i32>(key->w1);
    u32 from = head < 0 ? 0 : (static_cast<u32>(head) < total ? static_cast<u32>(head) : total);
    u32 n = total - from;
    u32 node = memory::new_series(n ? n : 1, unit, 0);
    series_buffer* source = buffer_of(key->w2);
    series_buffer* copy = buffer_of(node);
    std::memcpy(head_ptr(copy), head_ptr(source) + std::size_t(from) * unit, std::size_t(n) * unit);
    copy->tail = copy->head + n * unit;
    return node;
}

void key_rule(u32 block, u32 position) {
    cell key = head_cell(buffer_of(block))[position];
    canonical_key(&key, nullptr);
    head_cell(buffer_of(block))[position] = key;
}

u32 live_count(const cell* m) {
    return hash_index::record_of(m->w3)->size;
}

// Checks every key of a key/value block before anything is indexed.
void check_keys(u32 block) {
    series_buffer* b = buffer_of(block);
    u32 n = used_units(b);
    for (u32 i = 0; i + 1 < n; i += 2) {
        const cell* key = head_cell(buffer_of(block)) + i;
        if (!key_allowed(type_of(key))) bad_key(nullptr, key);
    }
}
} // namespace

bool key_allowed(u32 type) {
    switch (type) {
    case type_id::string:
    case type_id::file:
    case type_id::url:
    case type_id::char_:
    case type_id::integer:
    case type_id::float_:
    case type_id::word:
    case type_id::set_word:
    case type_id::lit_word:
    case type_id::get_word:
    case type_id::refinement:
    case type_id::issue:
    case type_id::pair:
    case type_id::percent:
    case type_id::tuple:
    case type_id::binary:
    case type_id::time:
    case type_id::tag:
    case type_id::email:
    case type_id::date:
    case type_id::money:
    case type_id::ref:
    case type_id::point2d:
    case type_id::point3d:
        return true;
    default:
        return false;
    }
}

void canonical_key(cell* key, const cell* path) {
    u32 t = type_of(key);
    if (is_word_key(t)) {
        key->header = type_id::set_word;
    } else if (is_copied_key(t)) {
        u32 node = copy_units_from_head(key);
        key->w1 = 0;
        key->w2 = node;
    } else if (!key_allowed(t)) {
        bad_key(path, key);
    }
}

cell* init_cell(cell* slot, u32 block_node, u32 size) {
    if (block_node) {
        check_keys(block_node);
        if (used_units(buffer_of(block_node)) & 1) {
            cell block{type_id::block, 0, block_node, 0};
            error::raise(err::E("script", "invalid-arg"), &block);
        }
    } else {
        block_node = memory::new_cell_series(size ? size : 2);
    }
    cell source{type_id::block, 0, block_node, 0};
    u32 index = hash_index::make_index(size, &source, hash_index::kind::map, 0);
    slot->header = (slot->header & ~0xFFu) | type_id::map;
    slot->w1 = 0;
    slot->w2 = block_node;
    slot->w3 = index;
    return slot;
}

namespace {
void write_indent(cell* buffer, i32 level) {
    if (level > 0)
        string::append_c_text(buffer, std::string(static_cast<std::size_t>(level) * 4, ' '));
}

struct entry_style {
    bool all;
    bool flat;
    bool indent; // write the indent before each entry
    i32 level;   // the indent level of the entries
    bool leading_newline;
    bool only;
};

// The entries: the molded key, a space and the molded value for each live pair, separated by
// line feeds (spaces when flat).
i32 mold_entries(cell* value, cell* buffer, const entry_style& style, cell* part, i32 limit) {
    if (live_count(value) == 0) return limit;
    bool indenting = style.indent && !style.flat;
    const char* separator = style.flat ? " " : "\n";
    if (!style.flat && style.leading_newline) {
        if (style.only) {
            indenting = false;
        } else {
            string::append_c_text(buffer, "\n");
            limit -= 1;
        }
    }
    u32 block = value->w2;
    cycle_stack::guard on_stack(block);
    u32 written = 0;
    for (u32 i = 0; i + 1 < used_units(buffer_of(block)); i += 2) {
        const cell* pair = head_cell(buffer_of(block)) + i;
        if (pair[1].header == 0) continue;
        written++;
        // The nested molds may allocate: they work on copies held on the data stack.
        cell* key = stack::push_value(&pair[0]);
        cell* item = stack::push_value(&pair[1]);
        if (indenting) write_indent(buffer, style.level);
        limit = actions::mold_typed(key, buffer, false, style.all, style.flat, part, limit,
                                    style.level);
        limit = out::text(buffer, " ", limit);
        limit = actions::mold_typed(item, buffer, false, style.all, style.flat, part, limit,
                                    style.level);
        stack::drop_values(2);
        // A separator only before another live entry: removed entries after the last one
        // would otherwise leave a dangling space or line feed.
        if (indenting || written < live_count(value)) limit = out::text(buffer, separator, limit);
        if (part && limit <= 0) break;
    }
    return limit;
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    if (cycle_stack::contains(value->w2))
        return out::text(buffer, cycle_stack::cycle_mark(value, false), limit);
    entry_style style{false, false, false, 0, false, false};
    return mold_entries(value, buffer, style, part, limit);
}

i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent) {
    if (cycle_stack::contains(value->w2))
        return out::text(buffer, cycle_stack::cycle_mark(value, true), limit);
    if (!only) limit = out::text(buffer, "#[", limit);
    series_buffer* before = buffer_of(buffer->w2);
    u32 length_before = used_units(before);
    entry_style style{all, flat, true, indent + 1, true, only};
    limit = mold_entries(value, buffer, style, part, limit);
    if (only) return limit;
    bool wrote = used_units(buffer_of(buffer->w2)) != length_before;
    if (wrote && indent > 0 && !flat) write_indent(buffer, indent);
    return out::text(buffer, "]", limit);
}

// Replaces every value (not key) whose type is selected by its copy.
void copy_matching_types_of_values(cell* block_cell, bool deep, cell* types) {
    u32 n = used_units(buffer_of(block_cell->w2));
    block::copy_matching_types(block_cell, 1, n, 2, deep, types);
}

// The cells of a block from its head, copied into a new block; new-line marks cleared.
u32 copy_cells_from_head(const cell* block, bool clear_newlines) {
    series_buffer* b = buffer_of(block->w2);
    u32 total = used_units(b);
    i32 head = static_cast<i32>(block->w1);
    u32 from = head < 0 ? 0 : (static_cast<u32>(head) < total ? static_cast<u32>(head) : total);
    u32 n = total - from;
    u32 node = memory::new_cell_series(n);
    series_buffer* source = buffer_of(block->w2);
    series_buffer* copy = buffer_of(node);
    std::memcpy(head_ptr(copy), head_ptr(source) + std::size_t(from) * sizeof(cell),
                std::size_t(n) * sizeof(cell));
    copy->tail = copy->head + n * static_cast<u32>(sizeof(cell));
    if (clear_newlines)
        for (u32 i = 0; i < n; i++) cell_ops::clear_newline_flag(head_cell(copy) + i);
    return node;
}

cell* make_map(cell* proto, cell* spec, bool from_to) {
    u32 t = type_of(spec);
    u32 block = 0;
    u32 size = 0;
    switch (t) {
    case type_id::integer:
    case type_id::float_: {
        if (from_to) raise_datatype_error(err::E("script", "bad-to-arg"), spec, type_id::map);
        i64 n;
        if (t == type_id::float_) {
            if (integer::float_out_of_range(spec)) {
                cell it;
                init_datatype(&it, type_id::integer);
                error::raise(err::E("script", "type-limit"), &it);
            }
            n = static_cast<i64>(float_of(spec));
        } else {
            n = int_of(spec);
        }
        if (n < 0) error::raise(err::E("script", "out-of-range"), spec);
        if (n > 0x07FFFFFF) error::raise(err::E("internal", "no-memory"));
        size = static_cast<u32>(n * 2);
        break;
    }
    case type_id::block:
    case type_id::paren:
    case type_id::hash: {
        block = copy_cells_from_head(spec, true);
        if (used_units(buffer_of(block)) & 1) error::raise(err::E("script", "invalid-arg"), spec);
        size = used_units(buffer_of(block));
        break;
    }
    case type_id::map: {
        cell copy = *spec;
        copy.w1 = 0;
        copy.w2 = copy_cells_from_head(&copy, false);
        copy.w3 = hash_index::clone(spec->w3, copy.w2);
        copy.header = type_id::map;
        *proto = copy;
        return proto;
    }
    default:
        raise_datatype_error(err::E("script", "bad-to-arg"), spec, type_id::map);
    }
    if (size == 0) size = 2;
    cell made{type_id::map, 0, 0, 0};
    init_cell(&made, block, size);
    *proto = made;
    return proto;
}

cell* make(cell* proto, cell* spec, u32) {
    return make_map(proto, spec, false);
}

// ---- lookup and change ---------------------------------------------------------------------

u32 lookup_mode(bool case_, bool same) {
    return same ? actions::compare_op::same
                : (case_ ? actions::compare_op::strict_equal : actions::compare_op::equal);
}

// The position of the key's cell in the key/value block, or -1. A removed entry is found too.
i64 find_key(const cell* m, const cell* key, u32 mode) {
    cell* found = hash_index::find_cell(m->w3, key, 0, 1, mode);
    if (!found) return -1;
    return found - head_cell(buffer_of(m->w2));
}

bool removed_at(const cell* m, i64 position) {
    return head_cell(buffer_of(m->w2))[position + 1].header == 0;
}

// Stores the value under the key, adding the key when absent (its stored form made from a copy,
// `path` feeding the error) and reviving a removed entry in its old place. Answers the position
// of the entry's key.
i64 store(cell* m, const cell* key, const cell* value, bool case_, const cell* path) {
    i64 at = find_key(m, key, lookup_mode(case_, false));
    if (at < 0) {
        cell* k = stack::push_value(key);
        canonical_key(k, path);
        cell block{type_id::block, 0, m->w2, 0};
        memory::append_cell_slot(&block);
        memory::append_cell_slot(&block);
        series_buffer* b = buffer_of(m->w2);
        at = used_units(b) - 2;
        cell* pair = head_cell(b) + at;
        pair[0] = *k;
        pair[1] = cell{type_id::unset, 0, 0, 0};
        hash_index::insert_cell(m->w3, pair);
        stack::drop_values(1);
    } else if (removed_at(m, at)) {
        hash_index::record_of(m->w3)->size++;
    }
    head_cell(buffer_of(m->w2))[at + 1] = *value;
    return at;
}

cell none_cell{type_id::none, 0, 0, 0};

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    if (value) {
        cell v = *value;
        i64 at = store(parent, element, &v, step.case_, step.path);
        return head_cell(buffer_of(parent->w2)) + at + 1;
    }
    i64 at = find_key(parent, element, lookup_mode(step.case_, false));
    if (at < 0 || removed_at(parent, at)) return &none_cell;
    return head_cell(buffer_of(parent->w2)) + at + 1;
}

cell* put(cell* series, cell* key, cell* value, bool case_) {
    store(series, key, value, case_, nullptr);
    return value;
}

cell* select(cell* series, cell* value, cell*, bool, bool case_, bool same, bool, cell*, cell*,
             bool, bool) {
    i64 at = find_key(series, value, lookup_mode(case_, same));
    if (at < 0 || removed_at(series, at)) return &none_cell;
    return head_cell(buffer_of(series->w2)) + at + 1;
}

cell* find(cell* series, cell* value, cell*, bool, bool case_, bool same, bool, cell*, cell*, bool,
           bool, bool, bool) {
    i64 at = find_key(series, value, lookup_mode(case_, same));
    if (at < 0 || removed_at(series, at)) return &none_cell;
    cell key = head_cell(buffer_of(series->w2))[at];
    if (type_of(&key) == type_id::set_word) key.header = type_id::word;
    *series = key;
    return series;
}

void remove(cell* series, cell*, cell* key) {
    if (!key) error::raise(err::E("script", "missing-arg"));
    // The exact key first; without one, the key that select finds, so that a key reachable by
    // lookup can always be removed.
    i64 at = find_key(series, key, actions::compare_op::strict_equal);
    if (at < 0) at = find_key(series, key, actions::compare_op::equal);
    if (at < 0 || removed_at(series, at)) return;
    hash_index::remove_cell(series->w3, head_cell(buffer_of(series->w2)) + at);
}

void clear(cell* value) {
    hash_index::reset(value->w3);
    series_buffer* b = buffer_of(value->w2);
    b->tail = b->head;
}

i32 length(cell* series) {
    return static_cast<i32>(live_count(series));
}

cell* copy(cell* value, cell* out, cell*, bool deep, cell* types) {
    bool typed_deep = deep && types;
    if (typed_deep && cycle_stack::contains(value->w2)) {
        cycle_stack::clear();
        error::raise(err::E("internal", "no-cycle"));
    }
    std::optional<cycle_stack::guard> on_stack;
    if (typed_deep) on_stack.emplace(value->w2);
    cell source{type_id::block, 0, value->w2, 0};
    cell* dup = block::push_duplicate(&source, deep && !types, true);
    // The new map is in `out` before the typed copies allocate, so its index stays reachable.
    u32 index = hash_index::clone(value->w3, dup->w2);
    *out = cell{type_id::map, 0, dup->w2, index};
    if (types) copy_matching_types_of_values(dup, deep, types);
    return out;
}

bool field_is(u32 field_symbol, u32 name) {
    return field_symbol && name &&
           hash_index::canonical_symbol(field_symbol) == hash_index::canonical_symbol(name);
}

void reflect(cell* value, u32 field) {
    enum { words, values, body } what;
    if (field_is(field, sym::words)) what = words;
    else if (field_is(field, sym::values)) what = values;
    else if (field_is(field, sym::body_field)) what = body;
    else error::raise(err::E("internal", "not-done"));
    u32 count = live_count(value);
    u32 room = std::max<u32>(count, 1) * (what == body ? 2 : 1);
    cell* result = stack::push_value(value);
    cell made;
    block::init_cell(&made, static_cast<i32>(room));
    cell* out = stack::push_value(&made);
    u32 seen = 0;
    for (u32 i = 0; seen < count && i + 1 < used_units(buffer_of(result->w2)); i += 2) {
        cell pair[2] = {head_cell(buffer_of(result->w2))[i], head_cell(buffer_of(result->w2))[i + 1]};
        if (pair[1].header == 0) continue;
        seen++;
        if (what != values) {
            cell key = pair[0];
            if (what == words) {
                if (type_of(&key) == type_id::set_word) key.header = type_id::word;
            } else {
                cell_ops::set_newline(&key, true);
            }
            *memory::append_cell_slot(out) = key;
        }
        if (what != words) *memory::append_cell_slot(out) = pair[1];
    }
    *value = *out;
    stack::drop_values(2);
}

// The entries of m1 against those of m2: 0 when every live entry of m1 has an equal value
// under an equal key in m2 (strictly equal ones for op 2).
i32 compare_entries(cell* m1, cell* m2, i32 op) {
    u32 count = live_count(m1);
    bool strict = op == actions::compare_op::strict_equal;
    i32 result = 0;
    u32 seen = 0;
    for (u32 i = 0; result == 0 && seen < count && i + 1 < used_units(buffer_of(m1->w2)); i += 2) {
        // The values are compared on the stack: a comparison may run code that changes the maps.
        cell* key = stack::push_value(head_cell(buffer_of(m1->w2)) + i);
        cell* item = stack::push_value(head_cell(buffer_of(m1->w2)) + i + 1);
        if (item->header == 0) {
            stack::drop_values(2);
            continue;
        }
        seen++;
        if (strict) {
            i64 at = find_key(m2, key, actions::compare_op::strict_equal);
            if (at < 0 || removed_at(m2, at)) {
                result = 1;
            } else {
                cell* other = stack::push_value(head_cell(buffer_of(m2->w2)) + at + 1);
                result = actions::compare_three_way(item, other, op) == 0 ? 0 : 1;
            }
        } else {
            hash_index::probe_state state;
            result = 1;
            for (;;) {
                cell* candidate = hash_index::find_next_equal(m2->w3, key, state);
                if (!candidate) break;
                cell* other = stack::push_value(candidate + 1);
                if (other->header == 0) continue;
                if (actions::compare_three_way(item, other, actions::compare_op::equal) == 0) {
                    result = 0;
                    break;
                }
            }
        }
        stack::drop_values(static_cast<u32>(stack::top - key));
    }
    return result;
}

i32 compare(cell* value1, cell* value2, i32 op) {
    namespace cop = actions::compare_op;
    if (!is(value2, type_id::map)) return -2;
    if (op == cop::sort || op == cop::case_sort) {
        // An identity order: nodes never move, and a three-way test cannot overflow.
        return value1->w2 < value2->w2 ? -1 : (value1->w2 > value2->w2 ? 1 : 0);
    }
    if (op != cop::equal && op != cop::not_equal && op != cop::strict_equal && op != cop::same &&
        op != cop::find)
        return -2;
    bool same = value1->w2 == value2->w2 && value1->w1 == value2->w1;
    if (op == cop::same) return same ? 0 : -1;
    if (same) return 0;
    if (cycle_stack::contains(value1->w2)) return cycle_stack::contains(value2->w2) ? 0 : -1;
    u32 n1 = live_count(value1), n2 = live_count(value2);
    if (n1 != n2) return 1;
    if (n1 == 0) return 0;
    cycle_stack::guard first(value1->w2);
    cycle_stack::guard second(value2->w2);
    cell* m1 = stack::push_value(value1);
    cell* m2 = stack::push_value(value2);
    i32 result = compare_entries(m1, m2, op);
    stack::drop_values(2);
    return result;
}
cell* to(cell* proto, cell* spec, u32) {
    return make_map(proto, spec, true);
}
} // namespace

void register_type() {
    hash_index::set_map_key_rule(key_rule);
    datatype::register_row(action_row{.type = type_id::map,
                                      .parent = 0,
                                      .name = "map!",
                                      .make = make,
                                      .reflect = reflect,
                                      .to = to,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = eval_path,
                                      .compare = compare,
                                      .clear = clear,
                                      .copy = copy,
                                      .find = find,
                                      .length_q = length,
                                      .put = put,
                                      .remove = remove,
                                      .select = select});
}

} // namespace zel::map
