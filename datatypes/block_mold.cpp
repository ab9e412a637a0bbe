// form and mold of blocks. Each cell is read through the node on every step and copied out before
// it is written, since writing may allocate. The block's node stays on the cycle stack while its
// cells are written, so a block that holds itself shows its mark instead of recursing.
#include <string>

#include "datatypes/block.hpp"
#include "datatypes/block_handlers.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "runtime/cycle_stack.hpp"

namespace zel::block {

namespace {
// The cell at index i of the buffer, copied; false past the tail.
bool cell_at(const cell* b, u32 i, cell* out) {
    series_buffer* s = buffer_of(b->w2);
    if (i >= used_units(s)) return false;
    *out = head_cell(s)[i];
    return true;
}

// Whether the output string ends with a tab, line feed or carriage return.
bool ends_with_break(cell* buffer) {
    series_buffer* s = buffer_of(buffer->w2);
    u32 n = used_units(s);
    if (n == 0) return false;
    u32 unit = unit_of(s);
    u32 c = string::read_unit(head_ptr(s) + (n - 1) * unit, unit);
    return c == '\t' || c == '\n' || c == '\r';
}

i32 indentation(cell* buffer, i32 indent, i32 limit) {
    if (indent <= 0) return limit;
    return out::text(buffer, std::string(4 * static_cast<std::size_t>(indent), ' '), limit);
}
} // namespace

i32 mold_cells(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
               i32 indent) {
    bool opened = false;
    {
        cycle_stack::guard g(value->w2);
        u32 first = series::clamped_head(value);
        cell c;
        for (u32 i = first; cell_at(value, i, &c); i++) {
            if (part && limit < 1) return limit;
            bool is_first = i == first;
            if (!flat && cell_ops::has_newline(&c)) {
                if (is_first && !only) {
                    indent++;
                    opened = true;
                }
                if (!(is_first && only)) {
                    limit = out::text(buffer, "\n", limit);
                    limit = indentation(buffer, indent, limit);
                }
            } else if (!is_first) {
                limit = out::text(buffer, " ", limit);
            }
            limit = actions::mold_typed(&c, buffer, false, all, flat, part, limit, indent);
        }
    }
    if (opened) {
        limit = out::text(buffer, "\n", limit);
        limit = indentation(buffer, indent - 1, limit);
    }
    return limit;
}

namespace handlers {

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    if (cycle_stack::contains(value->w2))
        return out::text(buffer, cycle_stack::cycle_mark(value, false), limit);
    cycle_stack::guard g(value->w2);
    u32 first = series::clamped_head(value);
    cell c;
    for (u32 i = first; cell_at(value, i, &c); i++) {
        if (part && limit < 1) break;
        if (i != first && !ends_with_break(buffer)) limit = out::text(buffer, " ", limit);
        limit = actions::form_typed(&c, buffer, part, limit);
    }
    return limit;
}

i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent) {
    if (cycle_stack::contains(value->w2))
        return out::text(buffer, cycle_stack::cycle_mark(value, true), limit);
    bool paren = type_of(value) == type_id::paren;
    if (!only) limit = out::text(buffer, paren ? "(" : "[", limit);
    limit = mold_cells(value, buffer, only, all, flat, part, limit, indent);
    if (!only) limit = out::text(buffer, paren ? ")" : "]", limit);
    return limit;
}

} // namespace handlers
} // namespace zel::block
