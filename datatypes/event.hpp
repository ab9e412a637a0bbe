// event!: one input of the text UI (a key, a mouse report, a tick, a resize ...) handed to the
// GUI engine. Word 1 is the event type id, word 3 the event flags, word 2 the node of a block of
// the event's fields (0 when it has none). Events made by `make event!` keep their key in the low
// 16 bits of the flags; the backend's events keep it in the block, and since the block is a copy
// taken when the event is posted, an event kept after its posting reads the same.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::event {

namespace header_bit {
constexpr u32 made = 0x1000;    // fields from `make event!`: [face window offset picked]
constexpr u32 backend = 0x2000; // fields from the backend: [face window offset picked key]
} // namespace header_bit

constexpr u32 type_count = 38;
// The type id of an event type word (1-38), 0 when it is none of them.
u32 type_of_word(u32 symbol);
std::string_view type_name(u32 type_id);

// A backend event, pushed: its fields are copied into a new block here. `picked` is an
// integer or float cell; `key` a char!, word! or none! cell.
cell* push_backend(u32 type, const cell& face, float x, float y, const cell& key,
                   const cell& picked, u32 flags);

void register_type();

} // namespace zel::event
