// find and select on blocks. The value is copied out first and every candidate cell is copied out
// of the buffer before it is compared, since a compare handler may allocate.
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/block_handlers.hpp"
#include "datatypes/series.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"

namespace zel::block {

namespace cop = actions::compare_op;

namespace search {

namespace {
u32 length_of(const cell* b) {
    return used_units(buffer_of(b->w2));
}

struct matcher {
    cell value;
    std::vector<cell> sequence; // the cells looked for in order, when a block is a sequence
    bool is_sequence = false;
    bool by_type = false;
    i32 op = cop::find;

    bool cell_matches(const cell& c, const cell& wanted) const {
        cell x = c, y = wanted;
        if (by_type) {
            u32 t = type_of(&x);
            if (is(&y, type_id::datatype)) return y.w1 == t;
            return typeset_has(&y, t);
        }
        return actions::compare(&x, &y, op);
    }

    // Whether the cells from position p match; `end` is the last position the match may use.
    bool matches_at(const cell* series, i64 p, i64 end) const {
        if (!is_sequence) {
            cell c = head_cell(buffer_of(series->w2))[p];
            return cell_matches(c, value);
        }
        i64 k = static_cast<i64>(sequence.size());
        if (p + k - 1 > end) return false;
        for (i64 j = 0; j < k; j++) {
            // Re-read through the node: the previous compare may have moved the buffer.
            if (p + j >= length_of(series)) return false;
            cell c = head_cell(buffer_of(series->w2))[p + j];
            if (!cell_matches(c, sequence[j])) return false;
        }
        return true;
    }
};
} // namespace

result run(const cell* series_cell, const cell* value_cell, const request& r) {
    cell series = *series_cell;
    result out;
    u32 length = length_of(&series);
    i64 h = static_cast<i32>(series.w1);
    if (h < 0) h = 0;
    if (length == 0 || (h >= length && !r.reverse)) return out;
    if (h > length) h = length;
    i64 step = 1;
    if (r.skip) {
        if (!is(r.skip, type_id::integer)) series::raise_refine_arg("skip", r.skip);
        step = int_of(r.skip);
        if (step < 1) error::raise(err::E("script", "out-of-range"), r.skip);
    }
    out.step = static_cast<u32>(step);
    bool limited = r.part != nullptr;
    i64 limit = length - 1;
    if (r.part) {
        if (is(r.part, type_id::integer)) {
            if (int_of(r.part) < 1) return out;
            limit = h + int_of(r.part) - 1;
        } else if (type_of(r.part) == type_of(&series) && r.part->w2 == series.w2) {
            limit = static_cast<i32>(r.part->w1);
        } else {
            series::raise_refine_arg("part", r.part);
        }
        if (limit >= length) limit = length - 1;
    }
    gc::evacuation_hold hold; // the matcher keeps the sequence on the heap
    matcher m;
    m.value = *value_cell;
    m.op = r.same ? cop::same : (r.case_ ? cop::strict_equal : cop::find);
    u32 vt = type_of(&m.value);
    if (!r.only) {
        m.by_type = vt == type_id::datatype || vt == type_id::typeset;
        if (is_any_block_type(vt)) {
            m.is_sequence = true;
            m.sequence = cells_of(&m.value);
            // An empty sequence matches nowhere, and nothing past its tail is read.
            if (m.sequence.empty()) return out;
        }
    }
    i64 k = m.is_sequence ? static_cast<i64>(m.sequence.size()) : 1;
    out.span = static_cast<u32>(k);

    // A hash! answers single values through its index.
    bool use_index = type_of(&series) == type_id::hash && series.w3 && !r.match &&
                     ((!m.by_type && !m.is_sequence && (r.same || !is_object_type(vt))) ||
                      (r.same && r.only && is_any_block_type(vt)));
    if (use_index) {
        cell* found =
            hash_index::find_cell(series.w3, &m.value, static_cast<i32>(h), static_cast<i32>(step),
                                  static_cast<u32>(m.op), r.last, r.reverse && !r.last);
        if (!found) return out;
        i64 p = found - head_cell(buffer_of(series.w2));
        if (limited && p > limit) return out;
        out.position = p;
        out.span = 1;
        out.step = 1;
        out.backward = r.last || r.reverse;
        return out;
    }

    if (!r.last && !r.reverse) {
        i64 end = limit;
        for (i64 p = h; p <= end && p < length_of(&series); p += step) {
            if (m.matches_at(&series, p, end)) {
                out.position = p;
                return out;
            }
            if (r.match) break;
        }
        return out;
    }
    out.backward = true;
    i64 start;
    if (limited)
        start = limit;
    else if (r.last)
        start = length - k;
    else
        start = h - k;
    for (i64 p = start; p >= 0; p -= step) {
        // Backward matches must end before the tail as it is now.
        i64 end = i64(length_of(&series)) - 1;
        if (p <= end && m.matches_at(&series, p, end)) {
            out.position = p;
            return out;
        }
        if (r.match) break;
    }
    return out;
}

} // namespace search

namespace handlers {

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool, cell*,
           cell* skip, bool last, bool reverse, bool tail, bool match) {
    search::request r{only, case_, same, last, reverse, match, part, skip};
    search::result found = search::run(series, value, r);
    if (found.position < 0) return init_none(series);
    i64 p = found.position;
    if (tail) {
        if (is_any_block_type(type_of(value)) && !only)
            p += found.span;
        else
            p += found.backward ? 1 : found.step;
    }
    i64 length = used_units(buffer_of(series->w2));
    series->w1 = static_cast<u32>(p > length ? length : p);
    return series;
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool, cell*,
             cell* skip, bool last, bool reverse) {
    search::request r{only, case_, same, last, reverse, false, part, skip};
    search::result found = search::run(series, value, r);
    if (found.position < 0) return init_none(series);
    i64 at = found.position + found.span;
    series_buffer* b = buffer_of(series->w2);
    if (at >= used_units(b)) return init_none(series);
    *series = head_cell(b)[at];
    return series;
}

} // namespace handlers
} // namespace zel::block
