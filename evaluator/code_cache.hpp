// The evaluation cache: for each code block the interpreter runs, a side array parallel to its
// cells that records what each cell is, where a word's value lives and, at the start of an
// expression, its shape (an operand followed by operators, an assignment of one, a call of a
// native, action or function with plain arguments). The cache only saves re-finding things:
// values are read through the binding every time, and every use first compares the cell with
// the copy kept in its record, so a block changed by any means (append, insert, change, sort,
// poke, bind) is seen at once and its records are made again. Records hold nodes, buffer offsets
// and indexes, never addresses in the arena: a collection (which may move buffers or free and
// reuse nodes) drops every record.
#pragma once
#include "runtime/memory.hpp"

namespace zel::code_cache {

// What an expression that starts at a cell is.
namespace shape {
enum : u8 {
    unknown = 0, // not worked out yet (or dropped)
    generic,     // taken by the general evaluator
    chain,       // operand (operator operand)*: operands are literals, words or parens
    assign,      // set-word followed by a chain
    call,        // a word whose value is a native!, action! or function! taking plain arguments
    mixed,       // a chain whose operands may run code (taken step by step)
    mixed_assign, // set-word followed by such a chain
};
}

// The natives whose choice of branch the interpreter makes itself.
namespace branch {
enum : u8 { none = 0, if_, either };
}

// What a cell is as an operand.
namespace operand {
enum : u8 { none = 0, literal, word, paren };
}

// Where a word's value lives.
namespace where {
enum : u8 { none = 0, stack, plain, object };
}

// Values of these types stand for themselves when evaluated.
inline constexpr bool literal_type(u32 t) {
    switch (t) {
    case type_id::integer:
    case type_id::float_:
    case type_id::string:
    case type_id::block:
    case type_id::char_:
    case type_id::logic:
    case type_id::none:
    case type_id::refinement:
    case type_id::file:
    case type_id::percent:
    case type_id::pair:
    case type_id::tuple:
    case type_id::time:
    case type_id::date:
    case type_id::binary:
    case type_id::url:
    case type_id::tag:
    case type_id::email:
    case type_id::money: return true;
    default: return false;
    }
}

// Longer blocks (run once, as a rule) go uncached: memory stays bounded.
constexpr u32 max_cells = 256;
constexpr u32 max_ops = 6;      // operators in one chain record
constexpr u32 max_span = 2 * max_ops + 8; // the most cells one shape covers

struct record {
    cell copy;     // the cell as it was when this record was made
    u8 shape;      // of the expression starting here
    u8 span;       // cells the shape covers
    u8 ops;        // operators of the chain
    u8 operand;    // this cell as an operand
    u8 where;      // where this word's value lives
    u8 fast;       // the inline operator of an op word (0xFF when none)
    u8 control;    // call: a branching native taken without its entry (see `branch`)
    u8 word_op_integer; // a chain of exactly: word, operator, integer! literal (1) or word (2)
    u32 node;      // stack: the context node; plain: the values series node
    u32 buffer;    // that node's buffer offset when the record was made
    u32 offset;    // stack: arena offset of the context cell; plain: of the value cell
    u32 guard_header; // op words and call shapes: the value's header when analysed
    u32 guard_w1;     //   and its words 1 and 3 (the callable's identity)
    u32 guard_w3;
    u16 arguments;    // call: its arguments (all plain, before any refinement)
    u16 extra;        // call: the locals of a function, the refinements of a native
    void (*entry)(const i32*); // call of a native or action: its entry, found once
};
static_assert(sizeof(record) == 64);

struct block {
    u32 node = 0;
    u32 generation = 0;
    u32 count = 0;             // records in use (the block's length when its cache was made)
    u32 capacity = 0;
    record* records = nullptr; // owned
};

// Bumped by every collection.
extern u32 generation;


void start_up();

inline bool same(const cell* a, const cell* b) {
    u64 a0, a1, b0, b1;
    std::memcpy(&a0, a, 8);
    std::memcpy(&a1, reinterpret_cast<const u8*>(a) + 8, 8);
    std::memcpy(&b0, b, 8);
    std::memcpy(&b1, reinterpret_cast<const u8*>(b) + 8, 8);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}

// Off while start-up runs the library's top-level code (each block once, as a rule): on once
// the library's functions are marked.
extern bool enabled;

block* of_slow(u32 node);
constexpr u32 table_bits = 11; // at most 2048 blocks of 256 records: 32 MiB
extern block table[1u << table_bits];
// The cache of a code block, or null when the block is too long to cache. Looking up another
// block may take the same place: callers holding one check its node again afterwards.
inline block* of(u32 node) {
    block* b = &table[(node * 2654435761u) >> (32 - table_bits)];
    if (b->node == node && b->generation == generation) return b;
    return enabled ? of_slow(node) : nullptr;
}

// Makes the record of cell `index` agree with the cell: copies it, works out where a word's value
// lives, and drops the shapes of the records whose span covers it.
void refresh(block* b, u32 index, const cell* code);

// The record of cell `index` (code is that cell), made again when the cell changed.
// Makes room for the records of a block that grew; false when it is past what is cached.
bool grow(block* b, u32 index);

// The record of cell `index` (code is that cell), made again when the cell changed. Taking a
// record may move the others (a block that grew): hold none across it.
inline record* at(block* b, u32 index, const cell* code) {
    if (index >= b->count && !grow(b, index)) return nullptr;
    record* r = b->records + index;
    if (!same(&r->copy, code)) refresh(b, index, code);
    return r;
}

// The value cell of a word whose record says where it lives; null when that place is gone (the
// function is not running) or moved (then the record is worked out again by the caller).
inline cell* value_of(const record* r, const cell* word) {
    if (*arena::at<u32>(r->node) != r->buffer) return nullptr;
    if (r->where == where::stack) {
        const cell* c = arena::at<cell>(r->offset);
        if (!c->w2) return nullptr;
        return arena::at<cell>(c->w2) + word->w3;
    }
    return arena::at<cell>(r->offset);
}

// Works out again where a word's value lives (after a move).
void locate(record* r, const cell* word);

// value_of, working the place out again once when it moved.
inline cell* value_at(record* r, const cell* word) {
    if (r->where == where::none) return nullptr;
    cell* v = value_of(r, word);
    if (v) return v;
    locate(r, word);
    if (r->where == where::none) return nullptr;
    return value_of(r, word);
}

} // namespace zel::code_cache
