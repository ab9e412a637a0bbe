// Posting the backend's events to the GUI engine: each becomes an event! handed to
// `system/view/awake`, whose answer `done` means the event was handled.
#pragma once
#include "runtime/cell.hpp"

namespace zel::tui {

// The event type ids that the backend posts itself.
namespace event_type {
constexpr u32 wheel = 11, over = 12, key = 13, key_down = 14, resize = 30, time = 33;
}

bool post_event(u32 type, const cell& face, float x, float y, const cell& key, const cell& picked,
                u32 flags);

// A key to a face: `key-down`, then, unless that was handled, `key`. True when one was handled.
// `code` is a code point, or with the special flag in `flags` one of the special-key codes.
bool post_key(const cell& face, i32 code, u32 flags);

} // namespace zel::tui
