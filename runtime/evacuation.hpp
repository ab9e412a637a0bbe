// Node evacuation: the nodes of sparse node frames that have stayed unchanged for a while move
// into the free nodes of other frames, so that the emptied frames can go back to the arena. Only
// references the collector rewrites may name a moved node: a frame with a node that C++ code
// might hold (a value in the machine stack, in the registers or in static data that falls in
// the frame) keeps its nodes, and code that keeps nodes in heap containers holds evacuation off
// (gc::evacuation_hold).
#pragma once
#include "runtime/cell.hpp"

namespace zel::gc::evacuation {

constexpr u32 stable_mask = 0x3F;   // the last six history bits: unchanged over six collections
constexpr u32 sparse_limit = 5000;  // a frame must use fewer nodes than this
constexpr u32 spare_nodes = 10000;  // and more than this many free nodes must remain
constexpr u32 map_capacity = 20000; // the forwarding map's first size
constexpr u32 stress_period = 8;    // stress mode evacuates at every eighth collection

namespace detail {
extern bool map_live;
}

// Evacuates the qualifying frames (the collector calls it before marking); answers whether any
// frame was evacuated. Evacuated frames stay mapped until the collection releases them, so an
// old node still leads to its buffer until then.
bool run();
// Whether nodes moved in this collection.
inline bool forwarding() {
    return detail::map_live;
}
// The node that now stands for `node` (the node itself when it did not move).
u32 forward(u32 node);
// Drops the forwarding map at the end of the collection.
void finish();

// The node areas [first, past) (arena offsets, sorted, not overlapping) of the frames that may
// be evacuated; a scan sets pinned[i] when it meets a value that falls in area i.
struct areas {
    const u32* first;
    const u32* past;
    u32 count;
    bool* pinned;
};
// Scans host memory [from, to): every aligned 4-byte word as an arena offset and every aligned
// 8-byte word as a host pointer into the arena.
void scan_range(const void* from, const void* to, const areas& a);
// The calling thread's registers and machine stack (from the caller's frame up) and the
// program's writable static data.
void scan_outside_roots(const areas& a);

} // namespace zel::gc::evacuation
