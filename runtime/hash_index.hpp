// Hash index: one open-addressing index (power-of-two buckets, two flag bits each, triangular
// probing, load factor 0.77) behind every keyed lookup of the runtime. Kinds 0-2 store positions
// into a values block that the owner keeps, never the keys; kinds 3 and 4 keep fixed-size records
// keyed by an arena address. The record and all its arrays are series reached through the index
// node: re-read them after anything that allocates.
#pragma once
#include <cstdio>

#include "runtime/memory.hpp"
#include "runtime/murmur3.hpp"

namespace zel::hash_index {

namespace kind {
constexpr u32 hash = 0;    // hash! values and set-operation indexes; duplicates kept in chains
constexpr u32 map = 1;     // map! keys (key, value pairs)
constexpr u32 symbols = 2; // the symbol table and context key tables
constexpr u32 records = 3; // address-keyed records
constexpr u32 owners = 4;  // address-keyed records also dropped when their owner dies
} // namespace kind

// The index record, in this order.
struct index_record {
    u32 size;     // live buckets (a chain counts once)
    u32 aux;      // kind 0: position map node; kinds 3 and 4: record size in bytes
    u32 chains;   // kind 0: chain list node
    u32 flags;    // bucket flag array node
    u32 keys;     // key array node
    u32 values;   // values block node (kinds 0-2) or record series node (kinds 3 and 4)
    u32 occupied; // live or deleted buckets
    u32 buckets;  // a power of two, at least 4
    u32 bound;    // when occupied reaches it the index grows or is rebuilt
    u32 kind;
    u32 stamp; // 0, or the collection count + 1 when the index was last (re)built
};
static_assert(sizeof(index_record) == 44);

inline index_record* record_of(u32 index) {
    return reinterpret_cast<index_record*>(head_ptr(buffer_of(index)));
}

// Hashes.
u32 hash_cell(const cell* c);
u32 text_hash(const cell* string); // upper-cased code points, so letter case does not count
u32 symbol_text_hash(const u8* text, u32 length);

// Making and filling. `source` is a block-kind cell whose block the index shares and indexes from
// its buffer head (kind 1 every second cell), or, for kind 2 with extra 2, a context cell whose
// key table is copied whole. `extra` is the payload cell count of a record (kinds 3 and 4).
u32 make_index(u32 expected, const cell* source, u32 kind, u32 extra);
void index_cells(u32 index, u32 start, u32 step);
// `c` lies in the values block. `out` is set to 2 when the whole index was rebuilt instead.
cell* insert_cell(u32 index, const cell* c, u32* out = nullptr);

// The matching cell of the values block, or null. Modes are the compare modes (0 equal,
// 2 strict-equal, 9 same ...). Kind 0 honours head, skip, last and reverse as `find` does.
cell* find_cell(u32 index, const cell* key, i32 head, i32 skip, u32 mode, bool last = false,
                bool reverse = false);

// A probe resumed between calls; start -1 means not begun.
struct probe_state {
    u32 bucket = 0;
    i32 start = -1;
    u32 step = 0;
};
// The next live cell of the key's type equal (mode 0) to the key, or null at the end.
cell* find_next_equal(u32 index, const cell* key, probe_state& state);

void remove_cell(u32 index, const cell* c);
// Drops the entries of `count` cells from `position` (call before the cells are cut out); later
// positions are not moved.
void remove_range(u32 index, u32 position, u32 count);
// After `delta` cells were inserted (delta > 0) or removed (delta < 0) at `position`, moves the
// stored positions of the `count` cells that followed the change by delta. Kinds without a
// position map find a cell's bucket by hashing it, so call it once the cells have moved. With
// `move` the position map follows (a removal first drops the removed cells' entries). Answers 1,
// doing nothing, when count exceeds 30000: the caller rebuilds the index then.
u32 shift_positions(u32 index, i32 delta, u32 position, u32 count, bool move);
// The run of `count` cells at `from` moved to just before the cell that was at `to` (both in the
// positions before the move). A destination inside the run changes nothing. Answers as
// shift_positions.
u32 move_range(u32 index, u32 to, u32 from, u32 count);
void reset(u32 index);
u32 clone(u32 index, u32 values);
void release(u32 index);

// Record tables (kinds 3 and 4). Answer the address of the record's first payload cell (valid
// until the next allocation), or null.
cell* insert_record(u32 index, u32 key);
cell* find_record(u32 index, u32 key);
cell* remove_record(u32 index, u32 key);

// Symbol table: the 1-based id of the symbol with that UTF-8 text, added when new.
u32 intern_text(u32 index, const u8* text, u32 length, bool case_insensitive);
// Context key tables: the position of the symbol's key word, or -1 (adding a key word at the
// tail of the word block when a context node is given; `out` then gets its position).
i32 context_slot(u32 index, u32 symbol, bool canonical, u32 context, i32* out);
cell* key_word_at(u32 context, u32 position);
series_buffer* key_series_buffer(u32 context);
u32 context_buffer_flags(u32 context);

// The symbol table whose aliases give canonical ids to word hashes and comparisons; set by the
// symbol unit once it made the table.
void set_symbol_table(u32 index);
u32 symbol_table();
u32 canonical_symbol(u32 id);

// The map! key rule: turns the key at a position of a key/value block into its stored form.
using key_rule = void (*)(u32 block, u32 position);
void set_map_key_rule(key_rule rule);

// Collector interface. mark_node marks the buffer behind *node (rewriting *node when the node
// moved) and answers whether it was unmarked; trace_cells marks what a run of cells refers to.
struct tracer {
    bool (*mark_node)(u32* node);
    void (*trace_cells)(cell* first, cell* past);
};
void trace_index(u32* index, const tracer& t);
// After marking: drops records whose key (kind 4: or owner) buffer is unmarked.
void sweep_records(u32 index);
// After node evacuation: rewrites the key and the payload cells of every live record (kinds 3
// and 4) that the collector holds weakly; the table is rehashed on its next use, as after any
// collection.
void forward_records(u32 index, u32 (*forward_key)(u32), void (*forward_cell)(cell*));

// Debug listing of the deleted and live buckets.
void dump(u32 index, std::FILE* out = stdout);

// Address map: 32-bit keys to 32-bit values in heap memory out of the collector's reach (the
// collector's forwarding map).
struct address_map {
    u32 size;
    u32* flags;
    u32* entries; // key, value per bucket
    u32 occupied;
    u32 buckets;
    u32 bound;
};
address_map* make_address_map(u32 expected);
void address_map_put(address_map* m, u32 key, u32 value);
u32* address_map_find(address_map* m, u32 key); // the value word, or null
void address_map_remove(address_map* m, u32 key);
void address_map_clear(address_map* m);
void free_address_map(address_map* m);
// The bucket of the next live entry after `after` (-1 to begin), or -1 at the end.
i32 address_map_next(const address_map* m, i32 after);

} // namespace zel::hash_index
