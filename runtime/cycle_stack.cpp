// The cycle stack and the molders' byte replicator.
#include "runtime/cycle_stack.hpp"

#include <cstring>
#include <vector>

#include "runtime/errors.hpp"

namespace zel::cycle_stack {

namespace {
std::vector<u32> entries;
}

void set_up() {
    entries.clear();
    entries.reserve(capacity);
}

void push_node(u32 node) {
    entries.push_back(node);
    if (entries.size() >= capacity) {
        entries.clear();
        error::raise(err::E("internal", "too-deep"));
    }
}

void pop_node() {
    if (!entries.empty()) entries.pop_back();
}

void drop_nodes(u32 n) { entries.resize(n >= entries.size() ? 0 : entries.size() - n); }

void clear() { entries.clear(); }

bool contains(u32 node) {
    for (u32 e : entries)
        if (e == node) return true;
    return false;
}

u32 depth() { return static_cast<u32>(entries.size()); }

void forward_nodes(u32 (*forward)(u32 node)) {
    for (u32& e : entries) e = forward(e);
}

u32 key_of(const cell* value) { return type_of(value) == type_id::object ? value->w1 : value->w2; }

std::string_view cycle_mark(const cell* value, bool mold) {
    if (!mold) return "...";
    switch (type_of(value)) {
    case type_id::block:
    case type_id::hash: return "[...]";
    case type_id::paren: return "(...)";
    case type_id::map: return "#[...]";
    case type_id::object: return "make object! [...]";
    default: return "...";
    }
}

} // namespace zel::cycle_stack

namespace zel::memory {
u8* replicate_bytes(u8* buffer, u32 item_size, u32 count) {
    u64 total = u64(item_size) * count;
    if (total == 0) return buffer;
    u64 filled = item_size;
    while (filled < total) {
        u64 n = filled <= total - filled ? filled : total - filled;
        std::memcpy(buffer + filled, buffer, n);
        filled += n;
    }
    return buffer + total;
}
} // namespace zel::memory
