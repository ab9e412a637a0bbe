// Copies of block-kind series.
#include "datatypes/block_copy.hpp"

#include <cstring>

#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/memory.hpp"

namespace zel::block_copy {

namespace {
cell copy(const cell* block, bool deep) {
    series_buffer* b = buffer_of(block->w2);
    u32 len = used_units(b);
    u32 head = block->w1 < len ? block->w1 : len;
    u32 n = len - head;
    u32 node = memory::new_cell_series(n ? n : 1);
    series_buffer* fresh = buffer_of(node);
    std::memcpy(head_ptr(fresh), head_ptr(buffer_of(block->w2)) + head * sizeof(cell),
                n * sizeof(cell));
    fresh->tail = fresh->head + n * sizeof(cell);
    cell result{block->header, 0, node, 0};
    if (!deep) return result;
    cell* holder = stack::push_value(&result);
    cycle_stack::guard guard(block->w2);
    for (u32 i = 0; i < n; i++) {
        cell item = head_cell(buffer_of(node))[i];
        u32 t = type_of(&item);
        if ((t == type_id::block || t == type_id::paren || is_any_path_type(t)) && item.w2 &&
            !cycle_stack::contains(item.w2)) {
            cell nested = copy(&item, true);
            head_cell(buffer_of(node))[i] = nested;
        }
    }
    result = *holder;
    stack::drop_values(1);
    return result;
}
} // namespace

cell shallow(const cell* block) { return copy(block, false); }
cell deep(const cell* block) { return copy(block, true); }

} // namespace zel::block_copy
