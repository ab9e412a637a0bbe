// The external-resource registry: objects that the platform owns, each held by a record of a
// registered kind. The collector marks the records that live values refer to and releases the
// others through their kind's callback. A record's generation changes whenever it is freed, so a
// stale index is detected instead of followed.
#pragma once
#include "runtime/arena.hpp"

namespace zel::ext_res {

using release_fn = void (*)(void* object);

constexpr u32 max_kinds = 20;
constexpr u32 initial_records = 1000;
constexpr u32 free_bit = 0x40000000;
constexpr u32 mark_bit = 0x80000000;

struct record {
    u32 kind_word; // kind in bits 0-7; free_bit; mark_bit
    void* object;
    i32 next;
    u32 generation;
};

void set_up_tables();
// Registers a kind; answers its 1-based number.
u32 push_entry(u32 kind_flags, release_fn release);
// Takes a free record (growing the table when none is left); answers its index.
i32 add_record(void* object, u32 kind);
void release(u32 kind_word, void* object);
void replace_object(i32 index, void* object);
void drop_record(i32 index, bool release_first);
// Sets the mark (and the object when one is given); true when it was not marked before.
bool set_mark(i32 index, void* object = nullptr);
void for_each_of_kind(u32 kind, void (*fn)(u32 kind, void* object));
void sweep_unmarked();

const record* at(i32 index);
u32 capacity();
bool is_live(i32 index, u32 generation);

} // namespace zel::ext_res
