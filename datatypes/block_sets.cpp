// The set operations on blocks: unique, union, intersect, exclude and difference over records of
// /skip cells. Lookups go through hash indexes (the result's own, and the other set's: its own
// when it is a hash!, else a temporary one), so each operation runs in expected linear time. The
// result keeps the order in which records were first met.
#include <algorithm>

#include "datatypes/block.hpp"
#include "datatypes/block_handlers.hpp"
#include "datatypes/series.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"

namespace zel::block {

namespace {

u32 length_of(const cell* b) {
    return used_units(buffer_of(b->w2));
}

struct set_builder {
    cell* result; // on the data stack
    cell* keys;   // the first cell of each record of the result (on the data stack)
    u32 index;    // over the keys
    u32 size;     // cells per record
    bool case_;   // /case: strict equality

    u32 mode() const { return case_ ? 2u : 0u; }

    // Whether the value is the first cell of a record of `set`, whose records start at `head`.
    bool contains(const cell* set, u32 set_index, u32 head, const cell* value) const {
        cell v = *value;
        if (is_any_block_type(type_of(&v))) {
            cell step;
            init_integer(&step, static_cast<i32>(size));
            cell probe = *set;
            probe.w1 = head;
            search::request r;
            r.only = true;
            r.case_ = case_;
            r.skip = &step;
            return search::run(&probe, &v, r).position >= 0;
        }
        return hash_index::find_cell(set_index, &v, static_cast<i32>(head), static_cast<i32>(size),
                                     mode()) != nullptr;
    }

    // Whether the result already has a record whose first cell equals the value. The first
    // cells are kept apart: records taken from the tail of a set may be short, so the result's
    // own record starts need not fall on multiples of the record size.
    bool in_result(const cell* value) const {
        cell v = *value;
        if (!is_any_block_type(type_of(&v)))
            return hash_index::find_cell(index, &v, 0, 1, mode()) != nullptr;
        i32 op = case_ ? actions::compare_op::strict_equal : actions::compare_op::find;
        for (u32 p = 0; p < length_of(keys); p++) {
            cell c = head_cell(buffer_of(keys->w2))[p];
            if (actions::compare(&c, &v, op)) return true;
        }
        return false;
    }

    void add(const cell* set, u32 at) {
        cell first = head_cell(buffer_of(set->w2))[at];
        if (in_result(&first)) return;
        hash_index::insert_cell(index, append_value_copy(keys, &first));
        u32 end = std::min<u32>(at + size, length_of(set));
        for (u32 i = at; i < end; i++) {
            cell c = head_cell(buffer_of(set->w2))[i];
            append_value_copy(result, &c);
        }
    }

    // One pass over `set`. With `other`, a record is kept when its first cell is (keep_found) or
    // is not found among the other set's record starts.
    void pass(const cell* set, const cell* other, bool keep_found) {
        u32 other_index = 0, other_head = 0;
        if (other) {
            other_head = series::clamped_head(other);
            if (is(other, type_id::hash) && other->w3) {
                other_index = other->w3;
            } else {
                cell* temporary = stack::push_value(other);
                other_index = hash_index::make_index(length_of(temporary), temporary,
                                                     hash_index::kind::hash, 0);
                // An index is kept alive only by a cell that names it.
                *temporary = cell{type_id::hash, 0, temporary->w2, other_index};
            }
        }
        for (u32 i = series::clamped_head(set); i < length_of(set); i += size) {
            if (other) {
                cell first = head_cell(buffer_of(set->w2))[i];
                if (contains(other, other_index, other_head, &first) != keep_found) continue;
            }
            add(set, i);
        }
        if (other_index && other_index != other->w3) hash_index::release(other_index);
    }
};

} // namespace

void set_operation(cell* first, cell* second, bool case_, cell* skip, u32 code) {
    u32 size = 1;
    if (skip) {
        if (!is(skip, type_id::integer) || int_of(skip) < 1) series::raise_refine_arg("skip", skip);
        size = static_cast<u32>(int_of(skip));
    }
    cell* top = stack::top;
    cell* a = stack::push_value(first);
    cell* b = stack::push_value(second);
    a->w1 = series::clamped_head(a);
    b->w1 = series::clamped_head(b);
    u64 room = u64(length_of(a) - a->w1) + (code == set_op::union_ ? length_of(b) - b->w1 : 0);
    cell* result = push_new(static_cast<i32>(std::min<u64>(std::max<u64>(room, 1), 0x0FFFFFFF)));
    cell* keys = push_new(static_cast<i32>(std::min<u64>(std::max<u64>(room, 1), 0x0FFFFFFF)));
    u32 index = hash_index::make_index(static_cast<u32>(room), keys, hash_index::kind::hash, 0);
    cell keys_index{type_id::hash, 0, keys->w2, index}; // keeps the index alive
    stack::push_value(&keys_index);
    bool hashed = code == set_op::unique ? is(a, type_id::hash)
                                         : is(a, type_id::hash) || is(b, type_id::hash);
    set_builder builder{result, keys, index, size, case_};
    switch (code) {
    case set_op::unique:
        builder.pass(a, nullptr, false);
        break;
    case set_op::union_:
        builder.pass(a, nullptr, false);
        builder.pass(b, nullptr, false);
        break;
    case set_op::intersect:
        builder.pass(a, b, true);
        break;
    case set_op::exclude:
        builder.pass(a, b, false);
        break;
    case set_op::difference:
        builder.pass(a, b, false);
        builder.pass(b, a, false);
        break;
    default:
        error::raise(err::E("internal", "not-done"));
    }
    cell out = *result;
    if (hashed) {
        u32 own = hash_index::make_index(length_of(result), result, hash_index::kind::hash, 0);
        out = cell{type_id::hash, 0, out.w2, own};
    } else {
        out = cell{type_of(a), 0, out.w2, 0};
    }
    hash_index::release(index);
    stack::top = top;
    *first = out;
}

void set_operation_on_frame(bool case_, cell* skip, u32 code) {
    set_operation(stack::arg(0), stack::arg(1), case_, skip, code);
}

} // namespace zel::block
