// Shared internals of the hash index units: bucket flags, sizing, probing and key equality.
// Nothing here allocates; pointers it hands out are valid until the next allocation.
#pragma once
#include <algorithm>

#include "runtime/collector.hpp"
#include "runtime/hash_index.hpp"

namespace zel::hash_index::detail {

enum : u32 { live = 0, deleted = 1, empty = 2 };

constexpr double load = 0.77;
constexpr u32 max_buckets = 0x40000000;

inline u32* flag_words(const index_record* r) {
    return reinterpret_cast<u32*>(head_ptr(buffer_of(r->flags)));
}
inline i32* key_words(const index_record* r) {
    return reinterpret_cast<i32*>(head_ptr(buffer_of(r->keys)));
}
inline cell* value_cells(const index_record* r) {
    return head_cell(buffer_of(r->values));
}
inline u32 value_count(const index_record* r) {
    return used_units(buffer_of(r->values));
}

inline u32 bucket_state(const u32* f, u32 i) {
    return (f[i >> 4] >> (2 * (i & 15))) & 3;
}
inline void set_bucket_state(u32* f, u32 i, u32 s) {
    u32 shift = 2 * (i & 15);
    f[i >> 4] = (f[i >> 4] & ~(3u << shift)) | (s << shift);
}
// A flag array for n buckets: n / 4 bytes, every bucket empty.
inline u32 new_flag_array(u32 n) {
    return memory::new_filled_byte_series(n / 4, 0xAA);
}
inline u32 new_key_array(u32 n) {
    u32 node = memory::new_series(n, 4, 0);
    series_buffer* b = buffer_of(node);
    memory::fill_bytes(data_start(b), data_end(b), 0);
    return node;
}

// The smallest power of two at or above x, at least 4; raises out-of-memory past the range.
u32 buckets_for(u64 x);
inline u32 creation_buckets(u64 c) {
    return buckets_for(static_cast<u64>(static_cast<double>(std::max<u64>(c, 4)) / load));
}
inline u32 creation_bound(u32 n) {
    return static_cast<u32>(n * load);
}
inline u32 resize_bound(u32 n) {
    return static_cast<u32>(n * load + 0.5);
}
// The request made at the bound: the same size when fewer than half the buckets are live (a
// clean-up of deleted buckets), else double.
inline u64 grow_request(const index_record* r) {
    return 2ull * r->size < r->buckets ? r->buckets - 1ull : r->buckets + 1ull;
}

// Collection (and with it node evacuation) is held off while an index is half-made: its fresh
// arrays are referenced only from C++ locals until the record points at them.
struct hold_collection {
    gc::evacuation_hold no_evacuation;
    bool was_active = gc::active;
    hold_collection() { gc::active = false; }
    ~hold_collection() { gc::active = was_active; }
    hold_collection(const hold_collection&) = delete;
    hold_collection& operator=(const hold_collection&) = delete;
};

inline bool stale(const index_record* r) {
    return r->stamp && r->stamp != gc::series_cycles + 1 && !gc::collecting;
}
inline u32 fresh_stamp() {
    return gc::series_cycles + 1;
}

struct probe_result {
    i64 found = -1; // the live bucket that matched
    i64 slot = -1;  // where an insertion goes: the last deleted bucket passed, else the empty one
};

// Triangular probing from hash & (n - 1). Every bucket is visited once within n steps.
template <class Match> probe_result probe(const index_record* r, u32 hash, Match&& match) {
    const u32* f = flag_words(r);
    u32 n = r->buckets, mask = n - 1, i = hash & mask;
    i64 last_deleted = -1;
    for (u32 step = 0; step < n;) {
        u32 s = bucket_state(f, i);
        if (s == empty) return {-1, last_deleted >= 0 ? last_deleted : i};
        if (s == deleted)
            last_deleted = i;
        else if (match(i))
            return {i, -1};
        i = (i + ++step) & mask;
    }
    return {-1, last_deleted};
}

// Marks a bucket live; counts it.
inline void take_bucket(index_record* r, u32 slot) {
    u32* f = flag_words(r);
    if (bucket_state(f, slot) == empty) r->occupied++;
    r->size++;
    set_bucket_state(f, slot, live);
}

// Key equality under a compare mode. The one place that stands in for the generic compare
// action; switch it over when that action exists.
bool keys_equal(const cell* a, const cell* b, u32 mode);

// The text of a symbol cell (its UTF-8 byte series from head to tail).
struct bytes_view {
    const u8* p;
    u32 n;
};
bytes_view symbol_bytes(const cell* symbol);

// The first cell of a kind-0 bucket's value (its single position or its chain's first).
i32 first_position(const index_record* r, i32 key);
// In-place resize for kinds 1 and 2 (displacement walk).
void resize(u32 index, u64 request);
// Kind 0 rebuild for c expected values; record-table rehash; both renew the stamp.
void rebuild(u32 index, u64 c);
// Record tables: rehash in place after a collection (records compacted, stamp renewed).
void rehash_records(u32 index);
void make_fresh(u32 index);

} // namespace zel::hash_index::detail
