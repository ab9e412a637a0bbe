// Object change events: the `on-change*` and `on-deep-change*` handlers of an object, the
// information that lets them be called without a lookup, and `set` on an object. The handlers run
// language code: callers hold no buffer address across a notification and re-read afterwards.
#pragma once
#include "runtime/cell.hpp"

namespace zel::object {

// The change-handler information: two cells behind word 3 of the object cell, for `on-change*`
// and `on-deep-change*`; word 2 packs the field index (upper 16 bits, 0xFFFF for none) and the
// handler's local slot count, word 3 the spec node the count was taken from.
constexpr u32 no_handler = 0xFFFF;
u32 handler_index(const cell* object, u32 which); // 0 on-change*, 1 on-deep-change*
u32 handler_locals(const cell* object, u32 which);

// Builds the information from the object's fields (or clears it when there is no handler),
// updates `object` and its self cell, and registers an object with `on-deep-change*` as the
// owner of its series.
void build_change_info(cell* object);
// The same for the object on the data-stack top, with indexes known in advance (-1: absent).
void finish_on_top(i32 change_index, i32 change_locals, i32 deep_index, i32 deep_locals);

// The local slot count of a function!'s spec: 1 for /local and 1 per word after it.
u32 local_slot_count(const cell* function);

// Fires `on-change*` with the word, the old and the new value.
void notify_change(const cell* object, const cell* word, const cell* old_value,
                   const cell* new_value);
// The same with the two topmost stack cells (the topmost the old value, the one below it the
// new value); the second takes the object from the value of `holder`.
void notify_change_top(const cell* object, const cell* word);
void notify_change_via_word(const cell* holder, const cell* word);
// Fires `on-deep-change*` before (or after) a series owned by the object changes.
void notify_deep_change(const cell* object, const cell* word, const cell* target,
                        const cell* action, const cell* new_value, i32 index, i32 part);

// `set` with an object as target: spreads a block (by position) or an object (by word) over
// the fields, or gives every field the source itself.
void assign_from(cell* object, const cell* source, bool any, bool only, bool some);

// Ownership records belong to the series units; they hand their entry points over here.
struct owner_services {
    void (*claim)(const cell* value, const cell* owner, const cell* field) = nullptr;
    void (*claim_and_mark_owner)(const cell* value, const cell* owner, const cell* field) = nullptr;
    void (*release_slots)(u32 context, u32 index, u32 count) = nullptr;
};
void set_owner_services(const owner_services& services);
const owner_services& owners();

// Installs the change hook of the context unit (stores through words fire `on-change*`).
void install_change_hook();

} // namespace zel::object
