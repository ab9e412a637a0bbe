// Collector. Marking, compaction and node release come with the collector proper; until then a
// collection only counts itself, so no buffer ever moves except by reallocation.
#include "runtime/collector.hpp"

#include <atomic>

namespace zel::gc {

bool active = false;
bool collecting = false;
bool stress = false;
u32 series_cycles = 0;
u32 nodes_cycles = 0;

void run_collection() {
    if (collecting) return;
    collecting = true;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    series_cycles++;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    collecting = false;
}

void collect_when_enabled() {
    if (active) run_collection();
}

bool in_progress() { return collecting; }

void reset_counters() {
    series_cycles = 0;
    nodes_cycles = 0;
}

void queue_node_release(u32) {}

} // namespace zel::gc
