// Memory statistics. The frames are read into plain tables first and the blocks built after, so
// that the blocks' own allocations cannot change the lists while they are walked.
#include "runtime/memory_stats.hpp"

#include <vector>

#include "datatypes/block.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace zel::memory {

namespace {
struct usage {
    u64 free, used, total;
};

struct snapshot {
    std::vector<usage> node_frames;
    std::vector<usage> series_frames;
    std::vector<u64> big_sizes;
    u64 in_use = 0;    // mode 1
    u64 all_bytes = 0; // frames, blocks and the tracked allocator
    u64 tracked = 0;
};

snapshot take_snapshot() {
    snapshot s;
    for (u32 f = mem.first_node_frame; f; f = arena::at<node_frame>(f)->next) {
        node_frame* nf = arena::at<node_frame>(f);
        s.node_frames.push_back({nf->node_count - nf->used, nf->used, nf->node_count});
        s.in_use += 4 * u64(nf->used);
        s.all_bytes += sizeof(node_frame) + 4 * u64(nf->node_count);
    }
    for (u32 f = mem.first_series_frame; f; f = arena::at<series_frame>(f)->next) {
        series_frame* sf = arena::at<series_frame>(f);
        u32 data = f + sizeof(series_frame);
        s.series_frames.push_back({sf->end - sf->free, sf->free - data, sf->end - data});
        s.in_use += sf->free - data;
        s.all_bytes += sf->size; // the size counts the frame's header
    }
    for (u32 b = mem.big_list; b; b = arena::at<big_series>(b)->next) {
        u32 size = arena::at<big_series>(b)->size;
        s.big_sizes.push_back(size);
        s.in_use += size;
        s.all_bytes += size + sizeof(big_series);
    }
    s.tracked = tracked_bytes() + 16 * tracked_count();
    s.all_bytes += s.tracked;
    return s;
}

// Appends a copy of the cell to the block with the new-line mark.
void append_on_new_line(cell* block, cell value) {
    value.header |= cell_flag::newline;
    block::append_value_copy(block, &value);
}

void append_usage_blocks(cell* parent, const std::vector<usage>& rows) {
    cell* group = block::push_new(static_cast<i32>(rows.size()));
    for (const usage& u : rows) {
        cell* row = block::push_new(3);
        for (u64 n : {u.free, u.used, u.total}) {
            cell c = number_cell(n);
            block::append_value_copy(row, &c);
        }
        append_on_new_line(group, *row);
        stack::top = row;
    }
    block::append_value_copy(parent, group);
    stack::top = group;
}

// Automatic collection stays off while the statistics are built.
struct collector_hold {
    bool was = gc::active;
    collector_hold() { gc::active = false; }
    ~collector_hold() { gc::active = was; }
};
} // namespace

cell number_cell(u64 n) {
    cell c;
    if (n > 2147483647u)
        init_float(&c, static_cast<double>(n));
    else
        init_integer(&c, static_cast<i32>(n));
    return c;
}

cell usage_stats(cell* parent, u32 mode) {
    collector_hold hold;
    snapshot s = take_snapshot();
    if (mode <= 1) return number_cell(s.in_use);
    cell* base = stack::top;
    append_usage_blocks(parent, s.node_frames);
    append_usage_blocks(parent, s.series_frames);
    cell* bigs = block::push_new(static_cast<i32>(s.big_sizes.size()));
    for (u64 size : s.big_sizes) append_on_new_line(bigs, number_cell(size));
    block::append_value_copy(parent, bigs);
    for (u64 n : {s.all_bytes, s.tracked}) {
        cell c = number_cell(n);
        block::append_value_copy(parent, &c);
    }
    stack::top = base;
    return *parent;
}

} // namespace zel::memory
