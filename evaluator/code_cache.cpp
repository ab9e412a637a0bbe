// The evaluation cache: records and their upkeep.
#include "evaluator/code_cache.hpp"

#include "datatypes/context.hpp"
#include "runtime/collector.hpp"

namespace zel::code_cache {

u32 generation = 1;
bool enabled = false;
// Direct-mapped by node: a block that collides with another is simply worked out again.
block table[1u << table_bits];

namespace {

void on_collection() { generation++; }

} // namespace

void start_up() {
    gc::add_mark_callback(on_collection);
    generation++;
}

namespace {
// Only the copy needs marking: a record whose copy does not match is made again before use.
void blank(record* first, u32 n) {
    for (u32 i = 0; i < n; i++) first[i].copy.header = 0xFFFFFFFF; // no cell has this header
}

void reserve(block* b, u32 n) {
    if (n <= b->capacity) return;
    u32 room = 16;
    while (room < n) room *= 2;
    record* more = new record[room];
    if (b->count) std::memcpy(static_cast<void*>(more), b->records, sizeof(record) * b->count);
    delete[] b->records;
    b->records = more;
    b->capacity = room;
}
} // namespace

block* of_slow(u32 node) {
    block* b = &table[(node * 2654435761u) >> (32 - table_bits)];
    if (!enabled) return nullptr;
    u32 n = used_units(buffer_of(node));
    if (n > max_cells || n == 0) return nullptr;
    b->count = 0;
    reserve(b, n);
    b->node = node;
    b->generation = generation;
    b->count = n;
    blank(b->records, n);
    return b;
}

bool grow(block* b, u32 index) {
    u32 n = used_units(buffer_of(b->node));
    if (n > max_cells) n = max_cells;
    if (index >= n) return false;
    reserve(b, n);
    blank(b->records + b->count, n - b->count);
    b->count = n;
    return true;
}

void locate(record* r, const cell* word) {
    r->where = where::none;
    if (word->w3 == context::unbound || !word->w1) return;
    u32 ctx = word->w1;
    cell* c = head_cell(buffer_of(ctx));
    if (c->header & context::stack_flag) {
        r->where = where::stack;
        r->node = ctx;
        r->buffer = *arena::at<u32>(ctx);
        r->offset = arena::offset_of(c);
        return;
    }
    if (!c->w2) return;
    r->where = ((c->header >> 11) & 3) == context::kind::object ? where::object : where::plain;
    r->node = c->w2;
    r->buffer = *arena::at<u32>(c->w2);
    r->offset = arena::offset_of(reinterpret_cast<cell*>(data_start(buffer_of(c->w2))) + word->w3);
}

void refresh(block* b, u32 index, const cell* code) {
    record* r = &b->records[index];
    r->copy = *code;
    r->shape = shape::unknown;
    r->span = 0;
    r->fast = 0xFF;
    u32 t = type_of(code);
    r->where = where::none;
    if (literal_type(t)) r->operand = operand::literal;
    else if (t == type_id::paren) r->operand = operand::paren;
    else if (t == type_id::word) r->operand = operand::word;
    else r->operand = operand::none;
    if (t == type_id::word || t == type_id::set_word) locate(r, code);
    if (t == type_id::word && r->where == where::none) r->operand = operand::none;
    // Shapes that cover this cell were worked out from what it held before.
    u32 first = index >= max_span ? index - max_span + 1 : 0;
    for (u32 k = first; k < index; k++)
        if (b->records[k].span > index - k) b->records[k].shape = shape::unknown;
}

} // namespace zel::code_cache
