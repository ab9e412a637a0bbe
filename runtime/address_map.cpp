// Address map: 32-bit keys to 32-bit values in plain heap memory, so that the collector can use
// one while it moves buffers. Same flags, probing and sizing as the hash index.
#include <cstdlib>
#include <cstring>

#include "runtime/hash_index_detail.hpp"
#include "runtime/process.hpp"

namespace zel::hash_index {

using namespace detail;

namespace {

[[noreturn]] void out_of_memory() {
    runtime::fatal_error_exit(94, __builtin_return_address(0));
}

void* heap(std::size_t bytes) {
    void* p = std::malloc(bytes);
    if (!p) out_of_memory();
    return p;
}

u32 pow2_buckets(u64 x) {
    u32 n = 4;
    while (n < x && n < max_buckets) n <<= 1;
    return n;
}

u32* new_flags(u32 n) {
    std::size_t bytes = std::max<u32>(n / 4, 4);
    u32* f = static_cast<u32*>(heap(bytes));
    std::memset(f, 0xAA, bytes);
    return f;
}

// -1 when the entry array could not be enlarged; the map is left as it was.
int resize_map(address_map* m, u64 request) {
    u32 n = pow2_buckets(request);
    u32 bound = resize_bound(n);
    if (m->size >= bound) return 0;
    u32 old_n = m->buckets;
    u32* flags = new_flags(n);
    if (n > old_n) {
        auto* e = static_cast<u32*>(std::realloc(m->entries, std::size_t(n) * 8));
        if (!e) {
            std::free(flags);
            return -1;
        }
        m->entries = e;
    }
    u32* old_flags = m->flags;
    u32* e = m->entries;
    u32 mask = n - 1;
    for (u32 j = 0; j < old_n; j++) {
        if (bucket_state(old_flags, j) != live) continue;
        u32 key = e[2 * j], value = e[2 * j + 1];
        set_bucket_state(old_flags, j, deleted);
        for (;;) {
            u32 i = fmix32(key) & mask;
            for (u32 step = 0; bucket_state(flags, i) != empty;) i = (i + ++step) & mask;
            set_bucket_state(flags, i, live);
            if (i < old_n && bucket_state(old_flags, i) == live) {
                std::swap(key, e[2 * i]);
                std::swap(value, e[2 * i + 1]);
                set_bucket_state(old_flags, i, deleted);
            } else {
                e[2 * i] = key;
                e[2 * i + 1] = value;
                break;
            }
        }
    }
    if (n < old_n) {
        auto* smaller = static_cast<u32*>(std::realloc(m->entries, std::size_t(n) * 8));
        if (smaller) m->entries = smaller;
    }
    std::free(old_flags);
    m->flags = flags;
    m->buckets = n;
    m->bound = bound;
    m->occupied = m->size;
    return 0;
}

struct map_probe {
    i64 found = -1;
    i64 slot = -1;
};

map_probe probe_map(const address_map* m, u32 key) {
    u32 n = m->buckets, mask = n - 1, i = fmix32(key) & mask;
    i64 last_deleted = -1;
    for (u32 step = 0; step < n;) {
        u32 s = bucket_state(m->flags, i);
        if (s == empty) return {-1, last_deleted >= 0 ? last_deleted : i};
        if (s == deleted)
            last_deleted = i;
        else if (m->entries[2 * i] == key)
            return {i, -1};
        i = (i + ++step) & mask;
    }
    return {-1, last_deleted};
}

} // namespace

address_map* make_address_map(u32 expected) {
    auto* m = static_cast<address_map*>(heap(sizeof(address_map)));
    u32 n = pow2_buckets(static_cast<u64>(std::max<u32>(expected, 4) / load));
    *m = {0, new_flags(n), static_cast<u32*>(heap(std::size_t(n) * 8)), 0, n, creation_bound(n)};
    return m;
}

void address_map_put(address_map* m, u32 key, u32 value) {
    map_probe p = probe_map(m, key);
    if (p.found >= 0) {
        m->entries[2 * p.found + 1] = value;
        return;
    }
    if (m->occupied >= m->bound) {
        resize_map(m, 2ull * m->size < m->buckets ? m->buckets - 1ull : m->buckets + 1ull);
        p = probe_map(m, key);
    }
    // A map that could not grow keeps filling its spare buckets; with none left it is out of
    // memory.
    if (p.slot < 0) out_of_memory();
    u32 i = static_cast<u32>(p.slot);
    if (bucket_state(m->flags, i) == empty) m->occupied++;
    m->size++;
    set_bucket_state(m->flags, i, live);
    m->entries[2 * i] = key;
    m->entries[2 * i + 1] = value;
}

u32* address_map_find(address_map* m, u32 key) {
    map_probe p = probe_map(m, key);
    return p.found >= 0 ? m->entries + 2 * p.found + 1 : nullptr;
}

void address_map_remove(address_map* m, u32 key) {
    map_probe p = probe_map(m, key);
    if (p.found < 0) return;
    set_bucket_state(m->flags, static_cast<u32>(p.found), deleted);
    m->size--;
}

void address_map_clear(address_map* m) {
    std::memset(m->flags, 0xAA, std::max<u32>(m->buckets / 4, 4));
    m->size = m->occupied = 0;
}

void free_address_map(address_map* m) {
    if (!m) return;
    std::free(m->flags);
    std::free(m->entries);
    std::free(m);
}

i32 address_map_next(const address_map* m, i32 after) {
    for (u32 i = static_cast<u32>(after + 1); i < m->buckets; i++)
        if (bucket_state(m->flags, i) == live) return static_cast<i32>(i);
    return -1;
}

} // namespace zel::hash_index
