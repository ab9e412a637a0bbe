// The collector: stop-the-world mark and compact. It marks the buffers reachable from the roots
// (the root block, the symbol table, the live data stack, the call frames, the global context,
// the cell pool, RAII roots of C++ code and registered mark callbacks), releases unmarked external
// resources, big series and nodes, and slides live buffers together, re-pointing their nodes.
// Buffers move. Nodes move only when a sparse node frame is evacuated, and then only nodes that
// nothing outside the arena can hold: a node in a C++ local or a static never moves.
#pragma once
#include <vector>

#include "runtime/cell.hpp"

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

// Marking, for mark callbacks and the units that trace their own structures. Each takes the
// place that holds the reference and rewrites it when its node was evacuated.
bool set_node_mark(u32* node); // true when newly marked
void trace_series(u32* node);  // marks the node and the cells of its buffer
void trace_context(u32* node);
void trace_cells(cell* first, cell* past);
void mark_cell(cell* c);

// Code that keeps nodes where the collector neither sees nor rewrites them (C++ heap
// containers) holds node evacuation off while it may allocate.
bool evacuation_allowed();
class evacuation_hold {
  public:
    evacuation_hold();
    ~evacuation_hold();
    evacuation_hold(const evacuation_hold&) = delete;
    evacuation_hold& operator=(const evacuation_hold&) = delete;
};

using mark_callback = void (*)();
void add_mark_callback(mark_callback fn);
void remove_mark_callback(mark_callback fn);

// RAII roots: a C++ cell that must survive allocations while it is in scope.
class root {
  public:
    explicit root(cell* c);
    ~root();
    root(const root&) = delete;
    root& operator=(const root&) = delete;

  private:
    cell* cell_;
};

// A cell held by C++ code and rooted while it lives.
class rooted_cell {
  public:
    rooted_cell() : value{type_id::none, 0, 0, 0}, guard_(&value) {}
    explicit rooted_cell(const cell& v) : value(v), guard_(&value) {}
    cell value;

  private:
    root guard_;
};

} // namespace zel::gc
