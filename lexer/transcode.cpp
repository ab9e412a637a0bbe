// `transcode`: the refinements mapped onto the lexer's modes, and the result shaped for /next,
// /one, /into, /prescan and /scan.
#include "lexer/transcode.hpp"

#include "datatypes/basic.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::transcode {

callback_maker callback_for_value = nullptr;

namespace {

u32 units_of(const cell* series) {
    series_buffer* b = buffer_of(series->w2);
    return used_units(b);
}

// The length /part allows from the source's index: a count, or a position in a series of the
// source's type.
i32 part_length(const cell* source, const cell* part) {
    u32 available = units_of(source) - source->w1;
    if (is(part, type_id::integer)) {
        i32 n = int_of(part);
        return n < 0 ? 0 : static_cast<u32>(n) > available ? static_cast<i32>(available) : n;
    }
    if (type_of(part) != type_of(source)) {
        if (is(part, type_id::binary) || is(part, type_id::string))
            error::raise(err::E("script", "not-same-type"));
        error::raise(err::E("script", "invalid-arg"), part);
    }
    i32 index = static_cast<i32>(part->w1);
    i32 n = index - static_cast<i32>(source->w1);
    return n < 0 ? 0 : static_cast<u32>(n) > available ? static_cast<i32>(available) : n;
}

} // namespace

void native(const i32* refinements) {
    std::unique_ptr<lexer::callback> made;
    if (refinements[refinement::trace] >= 0) {
        const cell* fn = stack::arg(static_cast<u32>(refinements[refinement::trace]));
        if (!callback_for_value) error::raise(err::E("internal", "not-done"));
        made = callback_for_value(fn);
    }
    stack::mark m = stack::save();
    try {
        run(refinements, made.get());
    } catch (const lexer::scan_abandoned&) {
        stack::restore(m);
        *stack::arg(0) = unset::value;
        stack::keep_result_only();
    }
}

void run(const i32* refinements, lexer::callback* cb) {
    auto present = [&](u32 r) { return refinements[r] >= 0; };
    cell* slot = stack::arg(0);
    u32 type = type_of(slot);
    if (type != type_id::binary && type != type_id::string)
        error::raise(err::E("script", "invalid-arg"), slot);
    // The index is clamped to the tail; a binary's byte-order mark is stepped over.
    u32 units = units_of(slot);
    if (static_cast<i32>(slot->w1) < 0) slot->w1 = 0;
    if (slot->w1 > units) slot->w1 = units;
    if (type == type_id::binary && units - slot->w1 > 2) {
        const u8* p = head_ptr(buffer_of(slot->w2)) + slot->w1;
        if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) slot->w1 += 3;
    }
    i32 length = -1;
    if (present(refinement::part))
        length = part_length(slot, stack::arg(static_cast<u32>(refinements[refinement::part])));
    cell* into = nullptr;
    if (present(refinement::into)) {
        into = stack::arg(static_cast<u32>(refinements[refinement::into]));
        if (!is(into, type_id::block)) error::raise(err::E("script", "invalid-arg"), into);
    }
    bool next = present(refinement::next), one = present(refinement::one);
    bool prescan = present(refinement::prescan), scan = present(refinement::scan);
    u32 available = units_of(slot) - slot->w1;
    bool empty = length == 0 || available == 0;

    // The source and the scan's result wait on the data stack.
    cell* source = stack::push_value(slot);
    cell* out = stack::push_value(&unset::value);
    lexer::scan_options o;
    o.one_value = next || one || scan;
    o.load = !prescan;
    o.build = !scan;
    o.cb = cb;
    o.output = into;
    u32 consumed = 0;
    i32 found = type == type_id::binary
                    ? lexer::transcode_binary(out, source, length, o, &consumed)
                    : lexer::transcode_string(out, source, length, o, &consumed);
    if (prescan || scan) {
        if (empty || found == 0)
            init_none(out);
        else
            init_datatype(out, found < 0 ? u32(type_id::error) : static_cast<u32>(found));
    }
    if (next && !(one && !scan)) {
        cell pair{type_id::block, 0, memory::new_cell_series(2), 0};
        cell* held = stack::push_value(&pair);
        *memory::append_cell_slot(held) = *out;
        cell rest = *source;
        rest.w1 += consumed;
        *memory::append_cell_slot(held) = rest;
        *out = *held;
    }
    stack::set_result(out);
    stack::top = stack::arguments + 1;
}

} // namespace zel::transcode
