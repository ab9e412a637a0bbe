// Collector state and entry points. The collector runs on `recycle` and, while `active` is set,
// when an allocation finds no room; it never runs while `collecting` is set.
#pragma once
#include "runtime/arena.hpp"

namespace zel::gc {

extern bool active;       // automatic collection on a shortage
extern bool collecting;   // a collection is under way
extern bool stress;       // collect before every allocation (ZEL_GC_STRESS=1)
extern u32 series_cycles; // finished collections
extern u32 nodes_cycles;  // collections that evacuated node frames

void run_collection();
void collect_when_enabled();
bool in_progress();
void reset_counters();

// Queues a dead buffer's node for release at the end of the collection.
void queue_node_release(u32 node);

} // namespace zel::gc
