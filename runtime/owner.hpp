// Ownership records: which object owns a series through which field, so that changing the series
// in place can tell the object. Invariant: a series is owned exactly when the owner table holds a
// record for its node; the buffer's owned flag is only a hint that may outlive its record (the
// collector drops records of dead owners without touching the series).
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::owner {

// The events sent before a change and, when an owner took the notice, after it.
namespace event {
// clang-format off
enum : u32 {
    change, changed, clear, cleared, append, appended, insert, inserted, move, moved,
    poke, poked, put, put_ed, remove, removed, random, randomized, reverse, reversed,
    sort, sorted, swap, swaped, take, taken, trim, trimmed,
    uppercase, lowercase, // sent once, after the change
    count
};
// clang-format on
} // namespace event
// "change", "changed", ... "put-ed", "swaped": the words the change handler receives.
std::string_view event_name(u32 event);

// The object side of a notice: fires the owner's `on-deep-change*` with the owner object, the
// field word, the changed series, the event, the new value (null when there is none), the index
// and the count. Installed by the object unit; without it notices reach nobody.
using deep_change_fn = void (*)(cell* owner, cell* field, cell* target, u32 event, cell* new_value,
                                i32 index, i32 count);
void set_deep_change_hook(deep_change_fn hook);

// The table: a kind-4 record index with records {owned value, owner object, field word}.
void create_table();
u32 table();

// Records the value's series (deeply, for blocks and objects) as owned by `owner` through
// `field`. A series that already has a record keeps its first owner.
void claim(const cell* value, const cell* owner, const cell* field);
// The same, then marks the owner object's context as an owner.
void claim_and_mark_owner(const cell* value, const cell* owner, const cell* field);
// Drops the records of the value's series (deeply).
void release_series(const cell* value);
// Releases `count` values of an object context's values from `index`.
void release_slots(u32 context, u32 index, u32 count);

// The owner cell of the record for a series node (valid until the next allocation), or null.
cell* find_owner(u32 node);
bool is_owned(u32 node);

// Tells the owner of `value` (if any, and if it has a change handler) that the action behind
// `event` is about to change it or has changed it. Answers whether an owner took the notice;
// the caller sends the past event only then. The handler runs language code: afterwards the
// caller re-reads its buffers and re-checks its counts.
bool notify_change(const cell* value, u32 event, const cell* new_value, i32 index, i32 count);

} // namespace zel::owner
