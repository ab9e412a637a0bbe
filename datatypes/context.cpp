// Contexts and binding.
#include "datatypes/context.hpp"

#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"
#include "runtime/roots.hpp"

namespace zel::context {

void (*fire_change)(cell*, cell*, cell*, cell*) = nullptr;

namespace {
u32 global = 0;
constexpr u32 global_words = 4000;

u32 key_table(u32 node) { return context_cell(node)->w1; }

[[noreturn]] void raise_with_word(err::id id, const cell* word) { error::raise(id, word); }

// The slot a key stands for: its own index, except for a letter-case variant added to the
// global context, which shares the slot of the variant that was there first.
i32 slot_of_key(u32 ctx, i32 position) {
    return position < 0 ? -1 : static_cast<i32>(key_word(ctx, static_cast<u32>(position))->w3);
}

void append_value(u32 ctx, const cell* value) {
    cell* c = context_cell(ctx);
    if (c->header & stack_flag) return;
    cell* v = memory::append_cell_to_buffer(buffer_of(c->w2));
    if (value) *v = *value;
    else init_unset(v);
}
} // namespace

cell* context_cell(u32 node) { return head_cell(buffer_of(node)); }
cell* self_cell(u32 node) { return head_cell(buffer_of(node)) + 1; }
u32 kind_of(u32 node) { return (context_cell(node)->header >> 11) & 3; }
bool is_stack(u32 node) { return context_cell(node)->header & stack_flag; }
u32 key_count(u32 node) {
    return used_units(buffer_of(hash_index::record_of(key_table(node))->values));
}
cell* key_word(u32 node, u32 position) { return hash_index::key_word_at(node, position); }

cell* values_base(u32 node) {
    cell* c = context_cell(node);
    if (!c->w2) return nullptr;
    if (c->header & stack_flag) return arena::at<cell>(c->w2);
    return reinterpret_cast<cell*>(data_start(buffer_of(c->w2)));
}

u32 new_node(u32 expected, bool stack, bool object, const cell* source, u32 kind) {
    if (expected == 0) expected = 1;
    u32 node = memory::new_cell_series(2);
    series_buffer* b = buffer_of(node);
    b->tail = b->head + 2 * sizeof(cell);
    cell* c = head_cell(b);
    init_unset(c + 1);
    c->header = type_id::context | (kind << 11) | (stack ? stack_flag : 0) |
                (object ? object_flag : 0);
    c->w1 = c->w2 = c->w3 = 0;
    // The key table (and values) may allocate: keep the node reachable through a pushed cell.
    cell holder{type_id::block, 0, node, 0};
    stack::push_value(&holder);
    u32 keys = source ? hash_index::make_index(expected, source, hash_index::kind::symbols, 2)
                      : hash_index::make_index(expected, nullptr, hash_index::kind::symbols, 0);
    context_cell(node)->w1 = keys;
    if (!stack) {
        u32 values = memory::new_unset_cell_series(expected);
        context_cell(node)->w2 = values;
    }
    stack::drop_values(1);
    return node;
}

void set_up_global() {
    global = new_node(global_words, false, false, nullptr, kind::global);
    cell holder{type_id::object, global, 0, 0};
    roots::append(&holder);
}

u32 global_node() { return global; }

i32 find_symbol_index(u32 ctx, u32 symbol, bool ci) {
    i32 p = hash_index::context_slot(key_table(ctx), symbol, ci, 0, nullptr);
    return slot_of_key(ctx, p);
}

i32 find_symbol_slot(u32 ctx, u32 symbol, bool ci, i32* out) {
    i32 position = -1;
    i32 p = hash_index::context_slot(key_table(ctx), symbol, ci, ctx, &position);
    if (p >= 0) {
        i32 slot = slot_of_key(ctx, p);
        if (out) *out = slot;
        return slot;
    }
    if (out) *out = position;
    return -1;
}

i32 find_or_add_word(u32 ctx, const cell* word) {
    i32 slot;
    if (find_symbol_slot(ctx, word->w2, true, &slot) >= 0) return slot;
    append_value(ctx, nullptr);
    return slot;
}

cell* add_word_if_absent(u32 ctx, const cell* word, const cell* value) {
    i32 slot;
    if (find_symbol_slot(ctx, word->w2, true, &slot) >= 0) return nullptr;
    cell copy = *value;
    append_value(ctx, &copy);
    return values_base(ctx) + slot;
}

void put_word_value(u32 ctx, const cell* word, const cell* value) {
    cell copy = *value;
    i32 slot;
    if (find_symbol_slot(ctx, word->w2, true, &slot) >= 0) {
        values_base(ctx)[slot] = copy;
    } else {
        append_value(ctx, &copy);
    }
}

cell global_word_for(u32 symbol, bool ci, bool copy) {
    i32 slot;
    i32 found = find_symbol_slot(global, symbol, ci, &slot);
    if (found >= 0) {
        i32 position = hash_index::context_slot(key_table(global), symbol, ci, 0, nullptr);
        cell w = *key_word(global, static_cast<u32>(position));
        if (ci && copy && w.w2 != symbol) w.w2 = symbol;
        return w;
    }
    // Added: a letter-case variant shares the slot of the variant that was there first.
    cell* w = key_word(global, static_cast<u32>(slot));
    if (symbol::alias_of(symbol) > 0) {
        i32 p = hash_index::context_slot(key_table(global), symbol, true, 0, nullptr);
        if (p >= 0) w->w3 = key_word(global, static_cast<u32>(p))->w3;
    }
    cell result = *w;
    append_value(global, nullptr);
    return result;
}

cell global_word_copy(u32 symbol) { return global_word_for(symbol, false, true); }

cell global_word(u32 symbol) {
    cell w{type_id::word, global, symbol, 0};
    w.w3 = static_cast<u32>(find_or_add_word(global, &w));
    return w;
}

cell* symbol_value_address(u32 symbol, u32 ctx) {
    if (is_stack(ctx)) ctx = global;
    i32 slot = find_symbol_index(ctx, symbol, true);
    return values_base(ctx) + slot;
}

cell* value_address_in(const cell* word, u32 ctx) {
    if (word->w3 == unbound || !ctx) {
        if (word->w2 == sym::self && ctx) return self_cell(word->w1);
        raise_with_word(err::E("script", "no-value"), word);
    }
    cell* base = values_base(ctx);
    if (!base) raise_with_word(err::E("script", "not-in-context"), word);
    return base + word->w3;
}

cell* word_value_address(const cell* word) { return value_address_in(word, word->w1); }

void store_word_value(cell* word, const cell* value, u32 ctx, bool fire) {
    if (word->w3 == unbound) {
        i32 slot = find_symbol_index(ctx, word->w2, false);
        if (slot < 0) slot = find_or_add_word(ctx, word);
        word->w3 = static_cast<u32>(slot);
        word->w1 = ctx;
    }
    cell* c = context_cell(ctx);
    if (!c->w2) raise_with_word(err::E("script", "not-defined"), word);
    if (c->header & stack_flag) {
        arena::at<cell>(c->w2)[word->w3] = *value;
        return;
    }
    u32 index = word->w3;
    if (kind_of(ctx) == kind::object) {
        // The key of the slot: its position is the slot for object contexts.
        if (index < key_count(ctx)) key_word(ctx, index)->header |= cell_flag::changed_key;
    }
    cell* self = self_cell(ctx);
    if (fire && fire_change && self->w3 != 0 && is_object_type(type_of(self))) {
        cell* saved = stack::top;
        cell* old = stack::push_value(values_base(ctx) + index);
        cell* fresh = stack::push_value(value);
        values_base(ctx)[index] = *fresh;
        cell owner = *self;
        cell w = *word;
        fire_change(&owner, &w, old, fresh);
        stack::top = saved;
        return;
    }
    values_base(ctx)[index] = *value;
}

u32 new_from_spec(const cell* spec, bool stack, bool object, u32 kind) {
    series_buffer* sb = buffer_of(spec->w2);
    u32 len = used_units(sb);
    u32 head = spec->w1 < len ? spec->w1 : len;
    u32 node = new_node(len - head, stack, object, nullptr, kind);
    cell holder{type_id::block, 0, node, 0};
    stack::push_value(&holder);
    u32 counted = 0;
    for (u32 i = 0; i < used_units(buffer_of(spec->w2)); i++) {
        cell item = head_cell(buffer_of(spec->w2))[i];
        u32 t = type_of(&item);
        if (t == type_id::word || t == type_id::get_word || t == type_id::lit_word ||
            t == type_id::refinement) {
            find_symbol_slot(node, item.w2, true, nullptr);
            counted++;
        }
    }
    if (!stack) {
        series_buffer* vb = buffer_of(context_cell(node)->w2);
        if (counted * sizeof(cell) > vb->size) vb = memory::grow_series(vb, counted * sizeof(cell));
        cell* v = head_cell(vb);
        for (u32 i = 0; i < counted; i++) init_unset(v + i);
        vb->tail = vb->head + counted * sizeof(cell);
    }
    stack::drop_values(1);
    return node;
}

void clone_keys(cell* value, u32 kind) {
    u32 old = value->w1;
    cell source = *context_cell(old);
    bool stack_ctx = source.header & stack_flag;
    bool object = source.header & object_flag;
    u32 n = key_count(old);
    u32 node = new_node(n, stack_ctx, object, &source, kind);
    for (u32 i = 0; i < key_count(node); i++) key_word(node, i)->w1 = node;
    if (!stack_ctx) {
        series_buffer* vb = buffer_of(context_cell(node)->w2);
        vb->tail = vb->head;
    }
    value->w1 = node;
}

bool collect_set_words(u32 ctx, cell* block) {
    series_buffer* b = buffer_of(block->w2);
    u32 len = used_units(b);
    if (block->w1 > len) block->w1 = len;
    u32 before = key_count(ctx);
    for (u32 i = block->w1; i < used_units(buffer_of(block->w2)); i++) {
        cell item = head_cell(buffer_of(block->w2))[i];
        if (type_of(&item) == type_id::set_word) find_or_add_word(ctx, &item);
    }
    return key_count(ctx) > before;
}

i32 bind_one_word(u32 ctx, cell* word) {
    i32 slot = find_symbol_index(ctx, word->w2, true);
    if (slot >= 0) {
        word->w1 = ctx;
        word->w3 = static_cast<u32>(slot);
    }
    return slot;
}

cell* bind_block_words(cell* block, u32 ctx, bool self) {
    u32 node = block->w2;
    if (cycle_stack::contains(node)) return block;
    cycle_stack::guard guard(node);
    series_buffer* b = buffer_of(node);
    u32 len = used_units(b);
    for (u32 i = block->w1; i < len; i++) {
        cell* c = head_cell(buffer_of(node)) + i;
        u32 t = type_of(c);
        if (t >= type_id::word && t <= type_id::refinement) {
            if (self && t == type_id::word && c->w2 == sym::self) {
                c->w1 = ctx;
                c->w3 = unbound;
            } else {
                bind_one_word(ctx, c);
            }
        } else if (is_any_block_type(t) && c->w2) {
            cell nested = *c;
            bind_block_words(&nested, ctx, self);
        }
    }
    return block;
}

void register_type() {
    datatype::register_row(action_row{.type = type_id::context, .parent = 0, .name = "context!"});
}

} // namespace zel::context
