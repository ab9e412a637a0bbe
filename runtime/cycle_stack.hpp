// The cycle stack of molding, forming, comparing and claiming: the series (or object contexts)
// being walked, so that a value that contains itself is written as a short mark instead of
// recursing forever. Guards pop on every unwind, not only on the stack's own too-deep error.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::cycle_stack {

constexpr u32 capacity = 1000;

void set_up();
// Appends the node; when the stack becomes full it is emptied and `internal`/`too-deep` raised.
void push_node(u32 node);
void pop_node();
void drop_nodes(u32 n);
void clear();
bool contains(u32 node);
u32 depth();
// Rewrites every entry through a forwarding function (the collector's node evacuation).
void forward_nodes(u32 (*forward)(u32 node));

// The key of a value on the stack: the context node of an object, else the series node.
u32 key_of(const cell* value);
// The mark written for a value already on the stack, and the characters it is charged.
std::string_view cycle_mark(const cell* value, bool mold);

// Pushes on construction; on destruction drops back to the depth it found, so that an error
// raised anywhere inside leaves the stack as it was.
class guard {
  public:
    explicit guard(u32 node) : depth_(depth()) { push_node(node); }
    ~guard() {
        if (depth() > depth_) drop_nodes(depth() - depth_);
    }
    guard(const guard&) = delete;
    guard& operator=(const guard&) = delete;

  private:
    u32 depth_;
};

} // namespace zel::cycle_stack

namespace zel::memory {
// Copies the first item over the buffer until count items are filled, doubling the run each
// time; answers the address past the last item.
u8* replicate_bytes(u8* buffer, u32 item_size, u32 count);
} // namespace zel::memory
