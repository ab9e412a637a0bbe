// Argument descriptors.
#include "evaluator/descriptor.hpp"

#include <cstring>

#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::descriptor {

namespace {
cell all_but_unset() {
    cell ts{type_id::typeset, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    reinterpret_cast<u8*>(&ts.w1)[type_id::unset >> 3] &= ~static_cast<u8>(0x80u >> (type_id::unset & 7));
    return ts;
}
} // namespace

cell typeset_of_block(const cell* types, bool* unresolved) {
    cell ts{type_id::typeset, 0, 0, 0};
    series_buffer* b = buffer_of(types->w2);
    u32 n = used_units(b);
    for (u32 i = types->w1; i < n; i++) {
        cell entry = head_cell(buffer_of(types->w2))[i];
        cell value = entry;
        if (type_of(&entry) == type_id::word && entry.w3 != context::unbound && entry.w1) {
            cell* base = context::values_base(entry.w1);
            if (base) value = base[entry.w3];
        }
        if (type_of(&value) == type_id::datatype) {
            typeset_set(&ts, value.w1);
        } else if (type_of(&value) == type_id::typeset) {
            ts.w1 |= value.w1;
            ts.w2 |= value.w2;
            ts.w3 |= value.w3;
        } else if (type_of(&entry) == type_id::word) {
            // A type name that has no value yet: accept every type rather than refuse calls.
            if (unresolved) *unresolved = true;
            return cell{type_id::typeset, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
        }
    }
    return ts;
}

namespace {
// Builds the descriptor; `unresolved` tells whether a type name of the argument list had no value.
cell build(const cell* callable, bool* unresolved) {
    u32 t = type_of(callable);
    bool is_function = t == type_id::function || t == type_id::routine ||
                       ((callable->header >> 16) & 0xFF) == type_id::function ||
                       ((callable->header >> 16) & 0xFF) == type_id::routine;
    cell spec{type_id::block, 0, callable->w2, 0};
    u32 n = used_units(buffer_of(spec.w2));
    cell desc{type_id::block, 0, memory::new_cell_series(n * 2 + 2), 0};
    cell* holder = stack::push_value(&desc);
    u32 slot = 0, ordinal = 0, locals = 0;
    bool in_locals = false;
    for (u32 i = 0; i < n; i++) {
        cell entry = head_cell(buffer_of(spec.w2))[i];
        u32 et = type_of(&entry);
        cell next{};
        bool has_next = i + 1 < n;
        if (has_next) next = head_cell(buffer_of(spec.w2))[i + 1];
        if (in_locals) {
            if (et == type_id::word) locals++;
            else if (et == type_id::set_word) in_locals = false;
            if (in_locals) continue;
        }
        u32 kind_bits;
        switch (et) {
        case type_id::word: kind_bits = kind::normal; break;
        case type_id::get_word: kind_bits = kind::get; break;
        case type_id::lit_word: kind_bits = kind::literal; break;
        case type_id::set_word:
            if (symbol::canonical_id(entry.w2) != symbol::canonical_id(sym::return_)) continue;
            kind_bits = kind::return_;
            break;
        case type_id::refinement: {
            if (symbol::canonical_id(entry.w2) == symbol::canonical_id(sym::local)) {
                in_locals = true;
                locals = 1;
                continue;
            }
            cell r = entry;
            r.w1 = slot++;
            r.w3 = ++ordinal;
            *memory::append_cell_slot(holder) = r;
            continue;
        }
        default: continue;
        }
        cell ts = (has_next && type_of(&next) == type_id::block)
                      ? typeset_of_block(&next, unresolved)
                      : all_but_unset();
        ts.header = type_id::typeset | (kind_bits << kind_shift);
        *memory::append_cell_slot(holder) = ts;
        *memory::append_cell_slot(holder) = entry;
        if (kind_bits != kind::return_) slot++;
    }
    cell count;
    init_integer(&count, static_cast<i32>(is_function ? locals : ordinal));
    *memory::append_cell_slot(holder) = count;
    desc = *holder;
    stack::drop_values(1);
    return desc;
}
} // namespace

u32 of(const cell* callable) {
    cell* cached = head_cell(buffer_of(callable->w3)) + function::side::descriptor;
    if (type_of(cached) == type_id::block && cached->w1 == 0) return cached->w2;
    bool unresolved = false;
    cell desc = build(callable, &unresolved);
    cached = head_cell(buffer_of(callable->w3)) + function::side::descriptor;
    if (type_of(cached) != type_id::block) {
        // A descriptor made while a type name had no value (a native called during start-up,
        // before the library defines its typesets) accepts every type there: it is marked
        // provisional (index 1) and completed by a later call once the names have values.
        desc.w1 = unresolved ? 1 : 0;
        *cached = desc;
        return desc.w2;
    }
    // Completing a provisional descriptor: written over the kept one in place, since a call
    // still gathering its arguments may be reading it.
    series_buffer* kept = buffer_of(cached->w2);
    series_buffer* fresh = buffer_of(desc.w2);
    if (!unresolved && used_units(kept) == used_units(fresh)) {
        std::memcpy(head_cell(kept), head_cell(fresh), used_units(fresh) * sizeof(cell));
        cached->w1 = 0;
    }
    return cached->w2;
}

} // namespace zel::descriptor
