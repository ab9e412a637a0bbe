// Hash index over a values block (kinds 0-2): making, inserting, finding, removing, shifting
// positions, cloning. Kind 0 keeps equal values of a bucket in a chain and a position map from
// each cell to its bucket; kinds 1 and 2 keep one position per bucket.
#include <cstring>
#include <unordered_set>
#include <vector>

#include "runtime/cell_pool.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index_detail.hpp"

namespace zel::hash_index {

using namespace detail;

namespace {

// The map! key rule until the map datatype installs its own: word kinds become set-words, texts
// and binaries are copied from their head, other keys stay as they are.
void default_key_rule(u32 block, u32 position) {
    cell* k = head_cell(buffer_of(block)) + position;
    u32 t = type_of(k);
    if (t == type_id::word || t == type_id::set_word || t == type_id::lit_word ||
        t == type_id::get_word) {
        k->header = type_id::set_word;
        return;
    }
    if (!is_any_string_type(t) && t != type_id::binary) return;
    cell key = *k;
    series_buffer* b = buffer_of(key.w2);
    u32 unit = unit_of(b);
    i32 head = static_cast<i32>(key.w1);
    u32 total = used_units(b);
    u32 from = head < 0 ? 0 : std::min<u32>(static_cast<u32>(head), total);
    u32 node = memory::new_series(std::max<u32>(total - from, 1), unit, 0);
    series_buffer* source = buffer_of(key.w2);
    series_buffer* copy = buffer_of(node);
    std::memcpy(head_ptr(copy), head_ptr(source) + from * unit, (total - from) * unit);
    copy->tail = copy->head + (total - from) * unit;
    k = head_cell(buffer_of(block)) + position;
    k->w1 = 0;
    k->w2 = node;
}

key_rule map_key_rule = default_key_rule;

bool address_hashed(u32 t) {
    return t == type_id::block || t == type_id::paren ||
           (t >= type_id::native && t <= type_id::get_path) || t == type_id::object ||
           t == type_id::error || t == type_id::hash || t == type_id::map || t == type_id::port ||
           t == type_id::image || t == type_id::event;
}

// Position map (kind 0): bucket + 1 per cell of the values block, -1 when not indexed.
i32* map_words(const index_record* r) {
    return reinterpret_cast<i32*>(head_ptr(buffer_of(r->aux)));
}
u32 map_capacity(const index_record* r) {
    series_buffer* b = buffer_of(r->aux);
    return static_cast<u32>(data_end(b) - head_ptr(b)) / 4;
}
i32 map_get(const index_record* r, u32 position) {
    return position < map_capacity(r) ? map_words(r)[position] : -1;
}
void ensure_map(u32 index, u32 entries) {
    index_record* r = record_of(index);
    if (map_capacity(r) >= entries) return;
    if (entries > 0x10000000u) error::raise(err::E("internal", "no-memory"));
    memory::grow_series_filled(buffer_of(r->aux), entries * 8, 0xFF);
}
void fill_map(const index_record* r) {
    series_buffer* b = buffer_of(r->aux);
    memory::fill_bytes(head_ptr(b), data_end(b), 0xFF);
}
void set_map(u32 index, u32 position, i32 value) {
    ensure_map(index, position + 1);
    map_words(record_of(index))[position] = value;
}

u32 chain_node(const index_record* r, u32 k) {
    return static_cast<u32>(raw_buffer::item_at(r->chains, k));
}

void fill_flags(const index_record* r) {
    series_buffer* b = buffer_of(r->flags);
    memory::fill_bytes(head_ptr(b), data_end(b), 0xAA);
}

// Adds a position to a live kind-0 bucket, turning a single position into a chain.
void add_to_bucket(u32 index, u32 bucket, u32 position) {
    i32 k = key_words(record_of(index))[bucket];
    if (k >= 0) {
        u32 chain = raw_buffer::create(4, 4);
        raw_buffer::append_int32(chain, k);
        raw_buffer::append_int32(chain, static_cast<i32>(position));
        raw_buffer::append_int32(record_of(index)->chains, static_cast<i32>(chain));
        index_record* r = record_of(index);
        key_words(r)[bucket] = -static_cast<i32>(raw_buffer::length(r->chains));
    } else {
        raw_buffer::append_int32(chain_node(record_of(index), static_cast<u32>(-k)),
                                 static_cast<i32>(position));
    }
}

// Takes chain k out of the list. The last chain moves into its slot (so no other chain number
// changes but that one) and its bucket is re-pointed through the position map.
void drop_chain(index_record* r, u32 k) {
    u32 count = raw_buffer::length(r->chains);
    if (k != count) {
        u32 moved = chain_node(r, count);
        raw_buffer::set_item(r->chains, k, static_cast<i32>(moved));
        i32 bucket = map_get(r, static_cast<u32>(raw_buffer::item_at(moved, 1))) - 1;
        if (bucket >= 0) key_words(r)[bucket] = -static_cast<i32>(k);
    }
    raw_buffer::truncate_at(r->chains, count);
}

// Drops the entry of one kind-0 position; answers whether it was indexed.
bool remove_position0(u32 index, u32 position) {
    index_record* r = record_of(index);
    i32 m = map_get(r, position);
    if (m <= 0) return false;
    u32 bucket = static_cast<u32>(m - 1);
    map_words(r)[position] = -1;
    i32 k = key_words(r)[bucket];
    if (k < 0) {
        u32 chain = chain_node(r, static_cast<u32>(-k));
        raw_buffer::remove_item(chain, static_cast<i32>(position));
        if (raw_buffer::length(chain) > 0) return true;
        drop_chain(r, static_cast<u32>(-k));
    }
    set_bucket_state(flag_words(r), bucket, deleted);
    r->size--;
    return true;
}

// Kinds 1 and 2: the live bucket holding `key`, found by hashing the cell now at `cell_at`.
i64 locate(const index_record* r, u32 key, u32 cell_at) {
    const i32* keys = key_words(r);
    return probe(r, hash_cell(value_cells(r) + cell_at),
                 [&](u32 i) { return keys[i] == static_cast<i32>(key); })
        .found;
}

// Kinds 1 and 2: drops the bucket of one position.
void remove_position12(u32 index, u32 position) {
    index_record* r = record_of(index);
    if (position >= value_count(r)) return;
    i64 b = locate(r, position, position);
    if (b < 0) return;
    set_bucket_state(flag_words(r), static_cast<u32>(b), deleted);
    // A removed map! key (value header 0) is no longer counted in size.
    bool counted = r->kind != kind::map || position + 1 >= value_count(r) ||
                   value_cells(r)[position + 1].header != 0;
    if (counted) r->size--;
}

struct insert_result {
    u32 flag;
    u32 position;
};

insert_result insert_at(u32 index, u32 position) {
    index_record* r = record_of(index);
    if (r->kind == kind::hash) {
        if (r->occupied >= r->bound) {
            rebuild(index, grow_request(r));
            return {2, position};
        }
        cell* values = value_cells(r);
        const i32* keys = key_words(r);
        const cell* c = values + position;
        u32 t = type_of(c);
        probe_result p = probe(r, hash_cell(c), [&](u32 i) {
            const cell* v = values + first_position(r, keys[i]);
            return type_of(v) == t && keys_equal(v, c, 0);
        });
        if (p.found < 0 && p.slot < 0) {
            rebuild(index, r->buckets + 1ull);
            return {2, position};
        }
        hold_collection hold;
        u32 bucket;
        if (p.found >= 0) {
            bucket = static_cast<u32>(p.found);
            add_to_bucket(index, bucket, position);
        } else {
            bucket = static_cast<u32>(p.slot);
            key_words(r)[bucket] = static_cast<i32>(position);
            take_bucket(r, bucket);
        }
        set_map(index, position, static_cast<i32>(bucket + 1));
        r = record_of(index);
        if (!r->stamp && address_hashed(t)) r->stamp = fresh_stamp();
        return {0, position};
    }
    if (r->occupied >= r->bound) {
        resize(index, r->kind == kind::map ? r->buckets + 1ull : grow_request(r));
        r = record_of(index);
    }
    cell* values = value_cells(r);
    i32* keys = key_words(r);
    const cell* c = values + position;
    probe_result p =
        probe(r, hash_cell(c), [&](u32 i) { return keys_equal(values + keys[i], c, 2); });
    if (p.found >= 0) return {0, static_cast<u32>(keys[p.found])};
    if (p.slot < 0) { // every bucket live: cannot happen below the bound, but never loop
        resize(index, r->buckets + 1ull);
        return insert_at(index, position);
    }
    keys[p.slot] = static_cast<i32>(position);
    take_bucket(r, static_cast<u32>(p.slot));
    return {0, position};
}

// Kinds 1 and 2: the position of the first live cell of the key's type that satisfies the mode.
i64 find_position12(const index_record* r, const cell* key, u32 mode) {
    const cell* values = value_cells(r);
    const i32* keys = key_words(r);
    u32 t = type_of(key);
    probe_result p = probe(r, hash_cell(key), [&](u32 i) {
        const cell* v = values + keys[i];
        return type_of(v) == t && keys_equal(v, key, mode);
    });
    return p.found >= 0 ? keys[p.found] : -1;
}

// A map! index finds every word kind as the set-word it stores.
cell map_lookup_key(const index_record* r, const cell* key) {
    cell k = *key;
    u32 t = type_of(&k);
    if (r->kind == kind::map &&
        (t == type_id::word || t == type_id::lit_word || t == type_id::get_word))
        cell_ops::write_type(&k, type_id::set_word);
    return k;
}

void empty_index(u32 index) {
    index_record* r = record_of(index);
    fill_flags(r);
    r->size = r->occupied = 0;
    if (r->kind == kind::hash) {
        raw_buffer::clear(r->chains);
        fill_map(r);
    }
    if (r->kind >= kind::records) {
        series_buffer* b = buffer_of(r->values);
        b->tail = b->head;
    }
}

// Moves the stored positions of the cells at old positions [lo, hi) to f(position). Buckets are
// all found first, so a position already moved is never taken for one still to move.
template <class F> void remap(u32 index, u32 lo, u32 hi, F f, bool move_map) {
    index_record* r = record_of(index);
    bool kind0 = r->kind == kind::hash;
    u32 count = value_count(r);
    i32* keys = key_words(r);
    std::vector<std::pair<u32, u32>> singles;
    std::unordered_set<u32> chains_done;
    for (u32 p = lo; p < hi; p++) {
        i64 b;
        if (kind0) {
            b = map_get(r, p) - 1;
        } else {
            if (f(p) >= count) continue;
            b = locate(r, p, f(p));
        }
        if (b < 0) continue;
        i32 k = keys[b];
        if (k >= 0) {
            singles.emplace_back(static_cast<u32>(b), f(p));
        } else if (chains_done.insert(static_cast<u32>(-k)).second) {
            u32 chain = chain_node(r, static_cast<u32>(-k));
            u32 n = raw_buffer::length(chain);
            for (u32 j = 1; j <= n; j++) {
                u32 q = static_cast<u32>(raw_buffer::item_at(chain, j));
                if (q >= lo && q < hi) raw_buffer::set_item(chain, j, static_cast<i32>(f(q)));
            }
        }
    }
    for (auto [b, position] : singles) keys[b] = static_cast<i32>(position);
    if (!kind0 || !move_map) return;
    std::vector<i32> moved(hi - lo);
    for (u32 p = lo; p < hi; p++) moved[p - lo] = map_get(r, p);
    i32* m = map_words(r);
    u32 capacity = map_capacity(r);
    for (u32 p = lo; p < hi && p < capacity; p++) m[p] = -1;
    for (u32 p = lo; p < hi; p++)
        if (moved[p - lo] > 0) m[f(p)] = moved[p - lo];
}

} // namespace

void set_map_key_rule(key_rule rule) {
    map_key_rule = rule ? rule : default_key_rule;
}

namespace detail {

u32 buckets_for(u64 x) {
    if (x > max_buckets) error::raise(err::E("internal", "no-memory"));
    u32 n = 4;
    while (n < x) n <<= 1;
    return n;
}

i32 first_position(const index_record* r, i32 key) {
    return key >= 0 ? key : raw_buffer::item_at(chain_node(r, static_cast<u32>(-key)), 1);
}

void resize(u32 index, u64 request) {
    u32 n = buckets_for(request);
    u32 bound = resize_bound(n);
    index_record* r = record_of(index);
    if (r->size >= bound) return;
    hold_collection hold;
    u32 old_n = r->buckets;
    u32 new_flags = new_flag_array(n);
    if (n > old_n) {
        series_buffer* kb = memory::grow_series(buffer_of(record_of(index)->keys), n * 4);
        memory::fill_bytes(head_ptr(kb) + old_n * 4, data_end(kb), 0);
    }
    r = record_of(index);
    u32* old_flags = flag_words(r);
    u32* flags = reinterpret_cast<u32*>(head_ptr(buffer_of(new_flags)));
    i32* keys = key_words(r);
    const cell* values = value_cells(r);
    u32 mask = n - 1, placed = 0;
    // Displacement walk: each live key goes to its new bucket; a live key not yet moved that
    // sits there is taken out and walked on in turn. Moved buckets are marked deleted.
    for (u32 j = 0; j < old_n; j++) {
        if (bucket_state(old_flags, j) != live) continue;
        i32 key = keys[j];
        set_bucket_state(old_flags, j, deleted);
        for (;;) {
            u32 i = hash_cell(values + key) & mask;
            for (u32 step = 0; bucket_state(flags, i) != empty;) i = (i + ++step) & mask;
            set_bucket_state(flags, i, live);
            placed++;
            if (i < old_n && bucket_state(old_flags, i) == live) {
                std::swap(key, keys[i]);
                set_bucket_state(old_flags, i, deleted);
            } else {
                keys[i] = key;
                break;
            }
        }
    }
    r->flags = new_flags;
    r->buckets = n;
    r->bound = bound;
    r->occupied = placed;
}

void rebuild(u32 index, u64 c) {
    hold_collection hold;
    u32 n = buckets_for(static_cast<u64>(static_cast<double>(c) * 1.5));
    u32 flags = new_flag_array(n);
    u32 keys = new_key_array(n);
    index_record* r = record_of(index);
    bool stamped = r->stamp != 0;
    r->flags = flags;
    r->keys = keys;
    r->buckets = n;
    r->bound = creation_bound(n);
    r->size = r->occupied = 0;
    r->stamp = 0;
    raw_buffer::clear(r->chains);
    fill_map(r);
    for (u32 p = 0; p < value_count(record_of(index)); p++)
        if (insert_at(index, p).flag == 2) break;
    if (stamped) record_of(index)->stamp = fresh_stamp();
}

void make_fresh(u32 index) {
    index_record* r = record_of(index);
    if (!stale(r)) return;
    if (r->kind == kind::hash)
        rebuild(index, value_count(r));
    else if (r->kind >= kind::records)
        rehash_records(index);
}

} // namespace detail

u32 make_index(u32 expected, const cell* source, u32 kind, u32 extra) {
    freeze_seed();
    if (kind == kind::symbols && extra == 2 && source) {
        u32 keys_index = source->w1;
        hold_collection hold;
        u32 words = memory::clone_series(buffer_of(record_of(keys_index)->values));
        return clone(keys_index, words);
    }
    if (kind == kind::symbols && expected >= 4000 && expected <= 0x7FFFFFFF) expected *= 2;
    hold_collection hold;
    u32 n = creation_buckets(expected);
    u32 index = memory::new_byte_series(sizeof(index_record));
    series_buffer* b = buffer_of(index);
    b->tail = b->head + sizeof(index_record);
    u32 flags = new_flag_array(n);
    u32 keys = new_key_array(n);
    u32 values;
    if (source && kind < kind::records) {
        values = source->w2;
    } else {
        u64 cells = kind >= kind::records ? u64(expected) * (extra + 1) : expected;
        values = memory::new_cell_series(static_cast<u32>(std::min<u64>(cells, 0x0FFFFFFF)));
    }
    u32 aux = 0, chains = 0, stamp = 0;
    if (kind == kind::hash) {
        aux = memory::new_filled_byte_series(std::max<u32>(expected, 4) * 4, 0xFF);
        chains = raw_buffer::create(4, 4);
    } else if (kind >= kind::records) {
        aux = (extra + 1) * sizeof(cell);
        stamp = fresh_stamp();
    }
    *record_of(index) = {0, aux, chains, flags, keys, values, 0, n, creation_bound(n), kind, stamp};
    if (source && kind < kind::records) index_cells(index, 0, kind == kind::map ? 2 : 1);
    return index;
}

void index_cells(u32 index, u32 start, u32 step) {
    if (step == 0) step = 1;
    if (record_of(index)->kind != kind::map) {
        for (u32 p = start; p < value_count(record_of(index)); p += step)
            if (insert_at(index, p).flag == 2) break;
        return;
    }
    u32 p = start;
    while (p + 1 < value_count(record_of(index))) {
        index_record* r = record_of(index);
        cell key = map_lookup_key(r, value_cells(r) + p);
        i64 found = find_position12(r, &key, 2);
        if (found >= 0) {
            // The later value wins; the earlier key stays and the later pair is cut out.
            series_buffer* b = buffer_of(r->values);
            cell* values = head_cell(b);
            values[found + 1] = values[p + 1];
            std::memmove(values + p, values + p + 2, (used_units(b) - p - 2) * sizeof(cell));
            b->tail -= 2 * sizeof(cell);
            continue;
        }
        map_key_rule(r->values, p);
        insert_at(index, p);
        p += step;
    }
}

cell* insert_cell(u32 index, const cell* c, u32* out) {
    index_record* r = record_of(index);
    i64 position = c - value_cells(r);
    if (out) *out = 0;
    if (r->kind >= kind::records || position < 0 || position >= value_count(r)) return nullptr;
    insert_result result = insert_at(index, static_cast<u32>(position));
    if (out) *out = result.flag;
    return value_cells(record_of(index)) + result.position;
}

cell* find_cell(u32 index, const cell* key, i32 head, i32 skip, u32 mode, bool last, bool reverse) {
    make_fresh(index);
    index_record* r = record_of(index);
    if (r->kind >= kind::records) return nullptr;
    cell* values = value_cells(r);
    if (r->kind != kind::hash) {
        cell k = map_lookup_key(r, key);
        i64 p = find_position12(r, &k, mode);
        return p >= 0 ? values + p : nullptr;
    }
    const i32* keys = key_words(r);
    if (skip < 1) skip = 1;
    i64 answer = -1;
    probe(r, hash_cell(key), [&](u32 i) {
        if (!keys_equal(values + first_position(r, keys[i]), key, 0)) return false;
        i32 k = keys[i];
        u32 chain = k < 0 ? chain_node(r, static_cast<u32>(-k)) : 0;
        u32 n = chain ? raw_buffer::length(chain) : 1;
        i64 best = -1;
        for (u32 j = 1; j <= n; j++) {
            i32 q = chain ? raw_buffer::item_at(chain, j) : k;
            if (reverse ? q >= head : q < head) continue;
            if (!keys_equal(values + q, key, mode)) continue;
            i64 distance = reverse ? i64(head) - q - 1 : i64(q) - head;
            i64 rest = distance % skip;
            if (rest < 0) rest += skip;
            if (rest != 0) continue;
            bool lowest = !reverse && !last;
            if (best < 0 || (lowest ? q < best : q > best)) best = q;
        }
        answer = best;
        return best >= 0;
    });
    return answer >= 0 ? values + answer : nullptr;
}

cell* find_next_equal(u32 index, const cell* key, probe_state& state) {
    index_record* r = record_of(index);
    if (r->kind >= kind::records) return nullptr;
    cell k = map_lookup_key(r, key);
    u32 n = r->buckets, mask = n - 1;
    const u32* flags = flag_words(r);
    cell* values = value_cells(r);
    const i32* keys = key_words(r);
    u32 i;
    if (state.start < 0) {
        i = hash_cell(&k) & mask;
        state.start = static_cast<i32>(i);
        state.step = 0;
    } else {
        if (++state.step >= n) return nullptr;
        i = (state.bucket + state.step) & mask;
    }
    for (;;) {
        u32 s = bucket_state(flags, i);
        state.bucket = i;
        if (s == empty) {
            state.step = n;
            return nullptr;
        }
        if (s == live) {
            cell* v = values + first_position(r, keys[i]);
            if (type_of(v) == type_of(&k) && keys_equal(v, &k, 0)) return v;
        }
        if (++state.step >= n) return nullptr;
        i = (i + state.step) & mask;
    }
}

void remove_cell(u32 index, const cell* c) {
    index_record* r = record_of(index);
    i64 position = c - value_cells(r);
    if (position < 0 || position >= value_count(r)) return;
    u32 p = static_cast<u32>(position);
    if (r->kind == kind::hash) {
        remove_position0(index, p);
    } else if (r->kind == kind::map) {
        // The key stays indexed; only its value is marked removed (once).
        if (p + 1 < value_count(r) && value_cells(r)[p + 1].header != 0) {
            value_cells(r)[p + 1].header = 0;
            r->size--;
        }
    } else if (r->kind == kind::symbols) {
        remove_position12(index, p);
    }
}

void remove_range(u32 index, u32 position, u32 count) {
    index_record* r = record_of(index);
    if (r->kind >= kind::records) return;
    u32 length = value_count(r);
    if (position >= length) return;
    count = std::min(count, length - position);
    if (position == 0 && count == length) {
        empty_index(index);
        return;
    }
    for (u32 p = position; p < position + count; p++) {
        if (r->kind == kind::hash)
            remove_position0(index, p);
        else
            remove_position12(index, p);
    }
}

u32 shift_positions(u32 index, i32 delta, u32 position, u32 count, bool move) {
    if (count > 30000) return 1;
    index_record* r = record_of(index);
    if (r->kind >= kind::records || delta == 0) return 0;
    bool kind0 = r->kind == kind::hash;
    if (delta > 0) {
        u32 d = static_cast<u32>(delta);
        if (kind0 && move) {
            hold_collection hold;
            ensure_map(index, position + count + d);
        }
        remap(
            index, position, position + count, [d](u32 p) { return p + d; }, kind0 && move);
    } else {
        u32 d = static_cast<u32>(-static_cast<i64>(delta));
        if (kind0 && move)
            for (u32 p = position; p < position + d; p++) remove_position0(index, p);
        remap(
            index, position + d, position + d + count, [d](u32 p) { return p - d; }, kind0 && move);
    }
    return 0;
}

u32 move_range(u32 index, u32 to, u32 from, u32 count) {
    index_record* r = record_of(index);
    if (r->kind >= kind::records || count == 0 || (to >= from && to <= from + count)) return 0;
    u32 lo = std::min(to, from), hi = std::max(to, from + count);
    if (hi - lo > 30000) return 1;
    if (r->kind == kind::hash) {
        hold_collection hold;
        ensure_map(index, hi);
    }
    bool kind0 = r->kind == kind::hash;
    if (to < from)
        remap(
            index, lo, hi, [=](u32 p) { return p < from ? p + count : p - (from - to); }, kind0);
    else
        remap(
            index, lo, hi,
            [=](u32 p) { return p < from + count ? p + (to - from - count) : p - count; }, kind0);
    return 0;
}

void reset(u32 index) {
    empty_index(index);
}

u32 clone(u32 index, u32 values) {
    hold_collection hold;
    u32 copy = memory::clone_series(buffer_of(index));
    u32 flags = memory::clone_series(buffer_of(record_of(index)->flags));
    u32 keys = memory::clone_series(buffer_of(record_of(index)->keys));
    u32 aux = record_of(index)->aux, chains = record_of(index)->chains;
    if (record_of(index)->kind == kind::hash) {
        // Chains are copied, not shared: a duplicate added to one index must not show in the
        // other.
        aux = memory::clone_series(buffer_of(aux));
        u32 count = raw_buffer::length(record_of(index)->chains);
        chains = raw_buffer::create(std::max<u32>(count, 4), 4);
        for (u32 k = 1; k <= count; k++) {
            u32 dup = raw_buffer::duplicate(chain_node(record_of(index), k));
            raw_buffer::append_int32(chains, static_cast<i32>(dup));
        }
    }
    index_record* r = record_of(copy);
    r->flags = flags;
    r->keys = keys;
    r->aux = aux;
    r->chains = chains;
    r->values = values;
    return copy;
}

void release(u32) {}

} // namespace zel::hash_index
