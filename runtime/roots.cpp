// The root block.
#include "runtime/roots.hpp"

#include "runtime/memory.hpp"
#include "runtime/process.hpp"

namespace zel::roots {

namespace {
cell root{};
}

void set_up() {
    root = cell{type_id::block, 0, memory::new_malloc_series(root_cells, sizeof(cell), 0), 0};
}

cell* root_block() { return &root; }

cell* append(const cell* value) {
    series_buffer* b = buffer_of(root.w2);
    // A root buffer that grew would move and leave every address handed out dangling; it is
    // sized for the whole run, so running out of it is a fault of the runtime.
    if (tail_ptr(b) + sizeof(cell) > data_end(b)) runtime::fatal_error_exit(94, nullptr);
    cell* slot = tail_cell(b);
    *slot = *value;
    b->tail += sizeof(cell);
    return slot;
}

} // namespace zel::roots
