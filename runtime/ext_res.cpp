// External-resource registry: a kind table and a growable record table with a used list (newest
// first) and a free list.
#include "runtime/ext_res.hpp"

#include <vector>

namespace zel::ext_res {

namespace {
struct kind_entry {
    u32 flags;
    release_fn release;
};
std::vector<kind_entry> kinds;
std::vector<record> records;
i32 used_head = -1;
i32 free_head = -1;

void chain_free(u32 from, u32 to) {
    for (u32 i = from; i < to; i++) {
        records[i] = record{free_bit, nullptr, (i + 1 < to) ? static_cast<i32>(i + 1) : free_head, 0};
    }
    free_head = static_cast<i32>(from);
}

void unlink_used(i32 index) {
    i32* link = &used_head;
    while (*link != -1 && *link != index) link = &records[*link].next;
    if (*link == index) *link = records[index].next;
}
} // namespace

void set_up_tables() {
    kinds.clear();
    kinds.reserve(max_kinds);
    records.assign(initial_records, record{});
    used_head = -1;
    free_head = -1;
    chain_free(0, initial_records);
}

u32 push_entry(u32 kind_flags, release_fn release) {
    kinds.push_back({kind_flags, release});
    return static_cast<u32>(kinds.size());
}

i32 add_record(void* object, u32 kind) {
    if (free_head == -1) {
        u32 old = static_cast<u32>(records.size());
        records.resize(old * 2);
        chain_free(old, old * 2);
    }
    i32 index = free_head;
    record& r = records[index];
    free_head = r.next;
    r.kind_word = kind & 0xFF;
    r.object = object;
    r.next = used_head;
    used_head = index;
    return index;
}

void release(u32 kind_word, void* object) {
    u32 kind = kind_word & 0xFF;
    if (kind >= 1 && kind <= kinds.size() && kinds[kind - 1].release)
        kinds[kind - 1].release(object);
}

void replace_object(i32 index, void* object) {
    record& r = records[index];
    void* old = r.object;
    r.object = object;
    if (old != object) release(r.kind_word, old);
}

void drop_record(i32 index, bool release_first) {
    record& r = records[index];
    if (r.kind_word & free_bit) return;
    if (release_first) release(r.kind_word, r.object);
    unlink_used(index);
    r.kind_word = free_bit;
    r.object = nullptr;
    r.generation++;
    r.next = free_head;
    free_head = index;
}

bool set_mark(i32 index, void* object) {
    record& r = records[index];
    bool was = r.kind_word & mark_bit;
    r.kind_word |= mark_bit;
    if (object) r.object = object;
    return !was;
}

void for_each_of_kind(u32 kind, void (*fn)(u32, void*)) {
    for (i32 i = used_head; i != -1; i = records[i].next)
        if ((records[i].kind_word & 0xFF) == kind) fn(kind, records[i].object);
}

void sweep_unmarked() {
    i32 i = used_head;
    while (i != -1) {
        i32 next = records[i].next;
        if (records[i].kind_word & mark_bit) {
            records[i].kind_word &= ~mark_bit;
        } else {
            drop_record(i, true);
        }
        i = next;
    }
}

const record* at(i32 index) {
    if (index < 0 || static_cast<u32>(index) >= records.size()) return nullptr;
    return &records[index];
}

u32 capacity() { return static_cast<u32>(records.size()); }

bool is_live(i32 index, u32 generation) {
    const record* r = at(index);
    return r && !(r->kind_word & free_bit) && r->generation == generation;
}

} // namespace zel::ext_res
