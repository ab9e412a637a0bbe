// The collector. Marking uses an explicit work list, so that deeply nested values never overflow
// the machine stack; every node met is checked before it is followed, so that a stray word never
// sends the collector into unrelated memory.
#include "runtime/collector.hpp"

#include <atomic>
#include <cstring>

#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cell_pool.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/evacuation.hpp"
#include "runtime/ext_res.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/roots.hpp"

namespace zel::gc {

bool active = false;
bool collecting = false;
bool stress = false;
u32 series_cycles = 0;
u32 nodes_cycles = 0;

namespace {
u32 evacuation_holds = 0;

struct work {
    u32 node;
    bool context;
};
std::vector<work> work_list;
std::vector<u32> released;    // nodes of dead big series
std::vector<u32> outside_marked;
std::vector<mark_callback> callbacks;
std::vector<cell*> roots_list;

using memory::node_frame_of;

// A node that holds a buffer in use whose back pointer names it.
bool valid_node(u32 node) {
    if (!node || !node_frame_of(node)) return false;
    u32 at = *arena::at<u32>(node);
    if (!at || at < arena::page_size) return false;
    series_buffer* b = buffer_at(at);
    return b->node == node && (b->flags & buffer_flag::in_use);
}

void mark_index(u32* index);

inline void forward(u32* node) {
    if (evacuation::forwarding() && *node) *node = evacuation::forward(*node);
}
} // namespace

bool set_node_mark(u32* node) {
    forward(node);
    if (!valid_node(*node)) return false;
    series_buffer* b = buffer_of(*node);
    if (b->flags & buffer_flag::mark) return false;
    b->flags |= buffer_flag::mark;
    if (b->flags & buffer_flag::outside) outside_marked.push_back(*node);
    return true;
}

void trace_series(u32* node) {
    if (set_node_mark(node) && unit_of(buffer_of(*node)) == sizeof(cell))
        work_list.push_back({*node, false});
}

void trace_context(u32* node) {
    // Only a context's own buffer is traced as one: a stale or foreign cell naming some other
    // buffer must not send the marking through unrelated memory.
    forward(node);
    if (!valid_node(*node)) return;
    series_buffer* b = buffer_of(*node);
    // Most words of a heap name a context already marked: a marked buffer adds nothing, whether
    // it was traced as a context or as a block (the same references either way).
    if (b->flags & buffer_flag::mark) return;
    if (unit_of(b) != sizeof(cell) || used_units(b) < 1 || type_of(head_cell(b)) != type_id::context)
        return;
    b->flags |= buffer_flag::mark;
    if (b->flags & buffer_flag::outside) outside_marked.push_back(*node);
    work_list.push_back({*node, true});
}

void trace_cells(cell* first, cell* past) {
    // Words make up most of the cells of code, and a run of them is mostly bound to one or two
    // contexts: once a context node was traced, a word naming it again adds nothing. While nodes
    // are forwarded every reference must be rewritten, so nothing is skipped then.
    u32 seen = 0;
    bool skip = !evacuation::forwarding();
    for (cell* c = first; c < past; c++) {
        if (is_any_word_type(type_of(c))) {
            u32 ctx = c->w1;
            if (!ctx || (skip && ctx == seen)) continue;
            trace_context(&c->w1);
            seen = ctx;
            continue;
        }
        mark_cell(c);
    }
}

namespace {
// How a cell's reference is followed: a buffer marked alone, a block traced, a context, a hash
// index.
enum class ref { node, series, context, index };

// Calls visit(place, kind) for every node reference the cell holds, by its type.
template <class Visit> void for_each_reference(cell* c, Visit&& visit) {
    u32 &w1 = c->w1, &w2 = c->w2, &w3 = c->w3;
    switch (type_of(c)) {
    case type_id::block:
    case type_id::paren:
    case type_id::path:
    case type_id::lit_path:
    case type_id::set_path:
    case type_id::get_path:
    case type_id::event:
        if (w2) visit(w2, ref::series);
        break;
    case type_id::string:
    case type_id::file:
    case type_id::url:
    case type_id::tag:
    case type_id::email:
    case type_id::ref:
    case type_id::bitset:
    case type_id::vector:
    case type_id::binary:
        visit(w2, ref::node);
        if (w3) visit(w3, ref::node);
        break;
    case type_id::image: // word 3 is the size, not a node
        visit(w2, ref::node);
        break;
    case type_id::symbol:
        visit(w3, ref::node);
        if (w2) visit(w2, ref::node);
        break;
    case type_id::context:
        if (w1) visit(w1, ref::index);
        if (w2 && !(c->header & 0x400000)) visit(w2, ref::series);
        break;
    case type_id::word:
    case type_id::set_word:
    case type_id::lit_word:
    case type_id::get_word:
    case type_id::refinement:
    case type_id::issue:
        if (w1) visit(w1, ref::context);
        break;
    case type_id::native:
    case type_id::action:
    case type_id::op:
        visit(w2, ref::series);
        visit(w3, ref::series);
        if (type_of(c) == type_id::op) {
            u32 src = (c->header >> 16) & 0xFF;
            if (src == type_id::function || src == type_id::routine) visit(w1, ref::context);
        }
        break;
    case type_id::function:
    case type_id::routine:
        visit(w1, ref::context);
        visit(w2, ref::series);
        visit(w3, ref::series);
        break;
    case type_id::object:
    case type_id::error:
    case type_id::port:
        if (w1) visit(w1, ref::context);
        if (w3) visit(w3, ref::series);
        break;
    case type_id::hash:
    case type_id::map:
        visit(w2, ref::series);
        if (w3) visit(w3, ref::index);
        break;
    default: break;
    }
}

// Rewrites the cell's references to evacuated nodes without marking anything (cells the
// collector holds weakly).
void forward_cell(cell* c) {
    for_each_reference(c, [](u32& place, ref) { forward(&place); });
}
} // namespace

void mark_cell(cell* c) {
    if (type_of(c) == type_id::handle) {
        if (static_cast<i32>(c->w3) >= 0) ext_res::set_mark(static_cast<i32>(c->w3));
        return;
    }
    for_each_reference(c, [](u32& place, ref kind) {
        switch (kind) {
        case ref::node:
            set_node_mark(&place);
            break;
        case ref::series:
            trace_series(&place);
            break;
        case ref::context:
            trace_context(&place);
            break;
        case ref::index:
            mark_index(&place);
            break;
        }
    });
}

namespace {
void mark_index(u32* index) {
    forward(index);
    if (!valid_node(*index)) return;
    series_buffer* b = buffer_of(*index);
    if (unit_of(b) != 1 || used_bytes(b) < sizeof(hash_index::index_record)) return;
    hash_index::tracer t{
        [](u32* node) { return set_node_mark(node); },
        [](cell* first, cell* past) { trace_cells(first, past); },
    };
    hash_index::trace_index(index, t);
}

void drain() {
    while (!work_list.empty()) {
        work w = work_list.back();
        work_list.pop_back();
        series_buffer* b = buffer_of(w.node);
        cell* first = head_cell(b);
        cell* past = tail_cell(b);
        if (!w.context) {
            trace_cells(first, past);
            continue;
        }
        // A context: its key table, its values (unless they live on the data stack), its self.
        if (first->w1) mark_index(&first->w1);
        if (first->w2 && !(first->header & 0x400000)) trace_series(&first->w2);
        if (past - first > 1) mark_cell(first + 1);
    }
}

void mark_frames() {
    for (call_frame* f = stack::frame_bottom; f < stack::frame_top; f++) {
        if (f->word_context) trace_context(&f->word_context);
        if (f->function_context) {
            trace_context(&f->function_context);
            bool stack_ctx = valid_node(f->function_context) &&
                             (head_cell(buffer_of(f->function_context))->header & 0x400000);
            if (f->saved_values && !stack_ctx) trace_series(&f->saved_values);
        }
        drain();
    }
}

void mark_roots() {
    // The stacks' own buffers: marked, not traced; their live parts are traced below.
    set_node_mark(&roots::root_block()->w2);
    series_buffer* root = buffer_of(roots::root_block()->w2);
    for (cell* c = head_cell(root); c < tail_cell(root); c++) {
        if (type_of(c) == type_id::block && c->w2) {
            forward(&c->w2);
            series_buffer* b = buffer_of(c->w2);
            if (reinterpret_cast<cell*>(data_start(b)) == stack::bottom ||
                reinterpret_cast<call_frame*>(data_start(b)) == stack::frame_bottom)
                set_node_mark(&c->w2);
        }
    }
    trace_cells(head_cell(root), tail_cell(root));
    drain();
    u32 symbols = symbol::table_index();
    if (symbols) mark_index(&symbols);
    drain();
    // The owner table holds its records weakly: only its own buffers are kept here; records
    // whose series or owner nothing else reached are dropped after marking.
    if (u32 owners = owner::table()) {
        set_node_mark(&owners);
        hash_index::index_record* r = hash_index::record_of(owners);
        set_node_mark(&r->flags);
        set_node_mark(&r->keys);
        set_node_mark(&r->values);
    }
    trace_cells(stack::bottom, stack::top);
    drain();
    mark_frames();
    trace_series(&cell_pool::block()->w2);
    drain();
    for (cell* r : roots_list) mark_cell(r);
    drain();
    for (mark_callback fn : callbacks)
        if (fn) fn();
    drain();
}

inline void release_node(u32 node) {
    u32 f = node_frame_of(node);
    if (f) memory::return_node(f, node);
}

void poison(u8* from, u8* to) {
    if (stress && to > from) std::memset(from, 0xDD, to - from);
}

// Slides the live buffers of every series frame down over the dead ones, moving them into the
// free tail of the frame below while that has room, and re-points their nodes.
void compact() {
    u32 prev = 0;
    u32 frame = memory::mem.first_series_frame;
    while (frame) {
        series_frame* f = arena::at<series_frame>(frame);
        u32 next = f->next;
        u32 room = 0;
        if (prev) {
            series_frame* p = arena::at<series_frame>(prev);
            room = p->end - p->free;
            if (room <= memory::min_frame_room) room = 0;
        }
        u32 at = frame + sizeof(series_frame);
        bool was_empty = f->free == at; // nothing was carved from it since the last collection
        u32 gap = 0;
        while (at < f->free) {
            series_buffer* b = buffer_at(at);
            u32 length = sizeof(series_buffer) + b->size + 4;
            if (!(b->flags & buffer_flag::mark)) {
                u32 node = b->node;
                // A node that names this buffer came from take_node: its frame is its address
                // masked, without the bounds checks a stray word needs.
                if (node && (b->flags & buffer_flag::in_use) && *arena::at<u32>(node) == at &&
                    memory::node_frame_spans[node >> memory::node_frame_shift])
                    memory::return_node((node & ~(memory::node_frame_span - 1)) + 4, node);
                if (!gap) gap = at;
                at += length;
                continue;
            }
            b->flags &= ~buffer_flag::mark;
            u32 to = at;
            if (room >= length) {
                series_frame* p = arena::at<series_frame>(prev);
                to = p->free;
                p->free += length;
                room -= length;
                if (room <= memory::min_frame_room) room = 0;
                if (!gap) gap = at;
            } else if (gap) {
                to = gap;
                gap += length;
            }
            if (to != at) {
                std::memmove(arena::ptr(to), arena::ptr(at), length);
                series_buffer* moved = buffer_at(to);
                moved->head = moved->head - at + to;
                moved->tail = moved->tail - at + to;
                *arena::at<u32>(moved->node) = to;
            }
            at += length;
        }
        if (gap) {
            poison(arena::ptr(gap), arena::ptr(f->free));
            f->free = gap;
        }
        bool empty = f->free == frame + sizeof(series_frame);
        if (!was_empty) memory::forget_idle(frame);
        if (empty && prev && next && was_empty && memory::idle_long_enough(frame)) {
            // An empty frame that is neither the first nor the last goes back to the OS once
            // it has stayed unused for a few collections.
            arena::at<series_frame>(prev)->next = next;
            arena::at<series_frame>(next)->prev = prev;
            if (memory::mem.current_series_frame == frame) memory::mem.current_series_frame = prev;
            memory::os_free_frame(frame);
        } else {
            prev = frame;
        }
        frame = next;
    }
}
} // namespace

void queue_node_release(u32 node) {
    if (node) released.push_back(node);
}

void run_collection() {
    if (collecting || !memory::is_set_up() || !stack::bottom) return;
    collecting = true;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    outside_marked.clear();
    if (evacuation::run()) nodes_cycles++;
    mark_roots();
    if (evacuation::forwarding()) {
        // What the marking does not rewrite: the molders' cycle stack and the owner table,
        // whose records hold their series and owners weakly.
        cycle_stack::forward_nodes(evacuation::forward);
        if (u32 owners = owner::table())
            hash_index::forward_records(owners, evacuation::forward, forward_cell);
    }
    ext_res::sweep_unmarked();
    if (u32 owners = owner::table()) hash_index::sweep_records(owners);
    memory::age_idle_node_frames(); // before the dead nodes make frames empty
    compact(); // gives the nodes of dead buffers back as it meets them
    memory::sweep_big_series();
    for (u32 node : released) release_node(node);
    released.clear();
    memory::release_empty_node_frames();
    evacuation::finish();
    memory::after_collection();
    for (u32 node : outside_marked)
        if (valid_node(node)) buffer_of(node)->flags &= ~buffer_flag::mark;
    outside_marked.clear();
    series_cycles++;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    collecting = false;
}

bool evacuation_allowed() {
    return evacuation_holds == 0;
}
evacuation_hold::evacuation_hold() {
    evacuation_holds++;
}
evacuation_hold::~evacuation_hold() {
    evacuation_holds--;
}

void collect_when_enabled() {
    if (active) run_collection();
}

bool in_progress() { return collecting; }

void reset_counters() {
    series_cycles = 0;
    nodes_cycles = 0;
}

void add_mark_callback(mark_callback fn) {
    for (mark_callback& slot : callbacks)
        if (!slot) {
            slot = fn;
            return;
        }
    callbacks.push_back(fn);
}

void remove_mark_callback(mark_callback fn) {
    for (mark_callback& slot : callbacks)
        if (slot == fn) slot = nullptr;
}

root::root(cell* c) : cell_(c) { roots_list.push_back(c); }
root::~root() {
    for (auto it = roots_list.end(); it != roots_list.begin();) {
        --it;
        if (*it == cell_) {
            roots_list.erase(it);
            return;
        }
    }
}

} // namespace zel::gc
