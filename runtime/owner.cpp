// Ownership records.
#include "runtime/owner.hpp"

#include "runtime/cycle_stack.hpp"
#include "runtime/hash_index.hpp"

namespace zel::owner {

namespace {
u32 owner_table = 0;
deep_change_fn deep_change = nullptr;

constexpr std::string_view names[event::count] = {
    "change", "changed",    "clear",   "cleared",  "append",    "appended",  "insert", "inserted",
    "move",   "moved",      "poke",    "poked",    "put",       "put-ed",    "remove", "removed",
    "random", "randomized", "reverse", "reversed", "sort",      "sorted",    "swap",   "swaped",
    "take",   "taken",      "trim",    "trimmed",  "uppercase", "lowercase",
};

bool ownable(u32 t) {
    return is_any_block_type(t) || is_any_string_type(t) || t == type_id::binary ||
           t == type_id::vector || t == type_id::image || t == type_id::bitset;
}

// The context cell of an object (the first cell of its context node).
cell* context_cell(u32 context) {
    return head_cell(buffer_of(context));
}

bool is_owner_context(u32 context) {
    return context_cell(context)->header & cell_flag::owns_series;
}

u32 field_count(u32 context) {
    return used_units(hash_index::key_series_buffer(context));
}

// Value i of an object context, copied out (null for a context whose values live on the stack).
bool field_value(u32 context, u32 i, cell* out) {
    const cell* c = context_cell(context);
    if (c->header & cell_flag::stack_values || !c->w2) return false;
    series_buffer* b = buffer_of(c->w2);
    if (i >= used_units(b)) return false;
    *out = head_cell(b)[i];
    return true;
}

// Cell i of a block from its head, copied out; false past the tail.
bool block_cell(const cell* block, u32 i, cell* out) {
    series_buffer* b = buffer_of(block->w2);
    i64 at = i64(static_cast<i32>(block->w1) < 0 ? 0 : static_cast<i32>(block->w1)) + i;
    if (at >= used_units(b)) return false;
    *out = head_cell(b)[at];
    return true;
}

void claim_deep(const cell* value, const cell* owner, const cell* field) {
    u32 t = type_of(value);
    if (t == type_id::object) {
        u32 context = value->w1;
        if (!context || is_owner_context(context) || cycle_stack::contains(context)) return;
        cycle_stack::guard g(context);
        for (u32 i = 0; i < field_count(context); i++) {
            cell v, key;
            if (!field_value(context, i, &v)) break;
            if (is_object_type(type_of(&v)) && v.w1 == owner->w1) continue;
            key = *hash_index::key_word_at(context, i);
            claim_deep(&v, owner, &key);
        }
        return;
    }
    if (!ownable(t) || !value->w2 || !owner_table) return;
    u32 node = value->w2;
    if (!hash_index::find_record(owner_table, node)) {
        cell* record = hash_index::insert_record(owner_table, node);
        record[0] = *value;
        record[1] = *owner;
        record[2] = *field;
        if (t != type_id::image) buffer_of(node)->flags |= buffer_flag::owned;
    }
    if (!is_any_block_type(t) || cycle_stack::contains(node)) return;
    cycle_stack::guard g(node);
    cell c;
    for (u32 i = 0; block_cell(value, i, &c); i++) claim_deep(&c, owner, field);
}
} // namespace

std::string_view event_name(u32 e) {
    return e < event::count ? names[e] : std::string_view();
}

void set_deep_change_hook(deep_change_fn hook) {
    deep_change = hook;
}

void create_table() {
    owner_table = hash_index::make_index(1000, nullptr, hash_index::kind::owners, 3);
}

u32 table() {
    return owner_table;
}

void claim(const cell* value, const cell* owner, const cell* field) {
    // The arguments may lie in buffers that the claim's allocations move.
    cell v = *value, o = *owner, f = *field;
    claim_deep(&v, &o, &f);
}

void claim_and_mark_owner(const cell* value, const cell* owner, const cell* field) {
    cell o = *owner;
    claim(value, &o, field);
    if (is_object_type(type_of(&o)) && o.w1) context_cell(o.w1)->header |= cell_flag::owns_series;
}

void release_series(const cell* value) {
    cell v = *value;
    u32 t = type_of(&v);
    if (t == type_id::object) {
        u32 context = v.w1;
        if (!context || is_owner_context(context) || cycle_stack::contains(context)) return;
        cycle_stack::guard g(context);
        cell c;
        for (u32 i = 0; field_value(context, i, &c); i++) release_series(&c);
        return;
    }
    if (!ownable(t) || !v.w2) return;
    buffer_of(v.w2)->flags &= ~buffer_flag::owned;
    if (!owner_table) return;
    cell* record = hash_index::find_record(owner_table, v.w2);
    if (!record) return;
    init_unset(record);
    init_unset(record + 1);
    init_unset(record + 2);
    hash_index::remove_record(owner_table, v.w2);
    if (!is_any_block_type(t)) return;
    // The record is gone before the walk, so a block that holds itself stops here.
    cell c;
    for (u32 i = 0; block_cell(&v, i, &c); i++) release_series(&c);
}

void release_slots(u32 context, u32 index, u32 count) {
    cell c;
    for (u32 i = index; i < index + count && field_value(context, i, &c); i++) release_series(&c);
}

cell* find_owner(u32 node) {
    if (!owner_table || !node) return nullptr;
    cell* record = hash_index::find_record(owner_table, node);
    return record ? record + 1 : nullptr;
}

bool is_owned(u32 node) {
    return find_owner(node) != nullptr;
}

bool notify_change(const cell* value, u32 e, const cell* new_value, i32 index, i32 count) {
    if (!owner_table || !deep_change) return false;
    u32 t = type_of(value);
    u32 key = t == type_id::object ? value->w1 : value->w2;
    // A series without the owned flag has no record (images are recorded without the flag):
    // most changes are to unowned series, and the flag saves them the lookup.
    if (ownable(t) && t != type_id::image && key &&
        !(buffer_of(key)->flags & buffer_flag::owned))
        return false;
    cell* owner_cell = find_owner(key);
    // An owner without an on-change record has no handler to call.
    if (!owner_cell || !owner_cell->w3) return false;
    cell o = owner_cell[0], f = owner_cell[1], target = *value, fresh;
    cell* n = nullptr;
    if (new_value) {
        fresh = *new_value;
        n = &fresh;
    }
    deep_change(&o, &f, &target, e, n, index, count);
    return true;
}

} // namespace zel::owner
