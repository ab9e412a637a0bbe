// string! sort. Without a function comparator the records are sorted in place: the comparison
// allocates nothing, so the buffer stays put while the sort holds its address. A function
// comparator runs language code, which may collect, move or change the string: that sort orders
// indexes into a copy of the range and writes the copy back only when it finished.
#include <algorithm>
#include <vector>

#include "datatypes/sort_comparator.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_common.hpp"
#include "runtime/memory.hpp"
#include "runtime/sort.hpp"
#include "runtime/unicode.hpp"

namespace zel {

using namespace string_type::detail;
using namespace text_units;

namespace {

// The order of two code points; every unit width folds letter case the same way.
inline i32 order_of(u32 a, u32 b, bool fold) {
    if (fold) {
        a = case_::to_upper(a);
        b = case_::to_upper(b);
    }
    return a < b ? -1 : a > b ? 1 : 0;
}

struct unit_sort {
    u32 unit;
    bool fold, reverse, all;
    u32 skip;   // units per record
    u32 offset; // the unit compared, counted from 0 (without /all)
};
const unit_sort* unit_request = nullptr;

i32 compare_units(const u8* a, const u8* b, u32, u32) {
    const unit_sort& s = *unit_request;
    i32 r = 0;
    if (s.all) {
        for (u32 k = 0; k < s.skip && r == 0; k++)
            r = order_of(read(a + k * s.unit, s.unit), read(b + k * s.unit, s.unit), s.fold);
    } else {
        u32 at = s.offset * s.unit;
        r = order_of(read(a + at, s.unit), read(b + at, s.unit), s.fold);
    }
    return s.reverse ? -r : r;
}

struct function_sort {
    std::u32string records; // the range as it was when the sort began
    u32 skip;
    bool all, reverse;
    cell* function;
};
function_sort* function_request = nullptr;

// How a comparator's answer about (b, a) orders a and b: 1 or more puts a after b.
i32 answer_order(const cell* answer) {
    switch (type_of(answer)) {
    case type_id::logic:
        return answer->w1 ? 1 : -1;
    case type_id::integer:
        return int_of(answer) > 0 ? -1 : int_of(answer) < 0 ? 1 : 0;
    case type_id::float_: {
        double d = float_of(answer);
        return d > 0 ? -1 : d < 0 ? 1 : 0; // NaN compares as equal
    }
    case type_id::none:
        return -1;
    default:
        return 1;
    }
}

void init_record(cell* out, const function_sort& f, u32 record) {
    if (!f.all) {
        init_char(out, f.records[std::size_t(record) * f.skip]);
        return;
    }
    cell* text = push_new_string(f.skip);
    append_codepoints(text, f.records.substr(std::size_t(record) * f.skip, f.skip));
    *out = *text;
}

i32 compare_by_function(u32 a, u32 b, u32, u32) {
    function_sort& f = *function_request;
    stack_scope scope;
    cell* first = init_none(stack::reserve_slot());
    cell* second = init_none(stack::reserve_slot());
    // Called with b then a, or a then b under /reverse.
    init_record(first, f, f.reverse ? a : b);
    init_record(second, f, f.reverse ? b : a);
    cell answer = sort_comparator::call(f.function, first, second);
    return answer_order(&answer);
}

// Sorts the range through the function comparator; the string is written only at the end.
void sort_by_function(cell* series, u32 start, u32 count, u32 skip, bool all, bool reverse,
                      bool stable, cell* function) {
    function_sort request{codepoints_at(series->w2, start, count), skip, all, reverse, function};
    u32 records = count / skip;
    std::vector<u32> order(records);
    function_sort* outer = function_request;
    function_request = &request;
    struct restore {
        function_sort* outer;
        ~restore() { function_request = outer; }
    } restore{outer};
    if (stable)
        record_sort::merge_stable_order(order.data(), static_cast<i32>(records), 0, 0,
                                        compare_by_function);
    else
        record_sort::quick_unstable_order(order.data(), static_cast<i32>(records), 0, 0,
                                          compare_by_function);
    std::u32string sorted;
    sorted.reserve(count);
    for (u32 r : order) sorted += request.records.substr(std::size_t(r) * skip, skip);
    // The comparator may have changed the string: only what still lies in it is written.
    series_buffer* b = buffer_of(series->w2);
    u32 length = used_units(b);
    if (start >= length) return;
    sorted.resize(std::min<std::size_t>(sorted.size(), length - start));
    b = text_buffer::widen_to(b, unit_for_write(widest_of(sorted)));
    u32 u = unit_of(b);
    u8* p = head_ptr(b) + std::size_t(start) * u;
    for (std::size_t i = 0; i < sorted.size(); i++) write(p + i * u, u, sorted[i]);
}

} // namespace

namespace string_type {

cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable) {
    if (is(series, type_id::vector)) raise_not_done(); // element order comes with vector!
    text_view v = view(series);
    i64 start = v.head;
    i64 count = v.from_head();
    if (part) {
        i64 d = part_count(series, part, v.head);
        if (d < 0) {
            if (start + d < 0) {
                series->w1 = 0;
                return series;
            }
            start += d;
            count = -d;
            series->w1 = static_cast<u32>(start);
        } else {
            count = std::min(count, d);
        }
    }
    if (all && !skip) error::raise(err::E("script", "bad-refines"));
    bool by_function = false;
    if (compare) {
        if (is(compare, type_id::integer)) {
            if (!skip || all) error::raise(err::E("script", "bad-refines"));
        } else if (is(compare, type_id::function)) {
            by_function = true;
        } else {
            raise_invalid_refine(compare);
        }
    }
    if (count == 0) return series;
    u32 size = 1;
    if (skip) {
        if (!is(skip, type_id::integer) || int_of(skip) < 1 || int_of(skip) > count ||
            count % int_of(skip) != 0)
            raise_invalid_refine(skip);
        size = static_cast<u32>(int_of(skip));
    }
    u32 offset = 0;
    if (compare && !by_function) {
        if (int_of(compare) < 1 || static_cast<u32>(int_of(compare)) > size)
            raise_out_of_range(compare);
        offset = static_cast<u32>(int_of(compare)) - 1;
    }

    notify_owner(series, "sort", static_cast<u32>(start), static_cast<i32>(count));
    // The owner may have shortened the text: the range is cut to whole records within it.
    u32 length = view(series).length;
    if (start >= length) return series;
    count = std::min<i64>(count, length - start) / size * size;
    u32 records = static_cast<u32>(count / size);
    if (records > 1) {
        if (by_function) {
            try {
                sort_by_function(series, static_cast<u32>(start), static_cast<u32>(count), size,
                                 all, reverse, stable, compare);
            } catch (const sort_comparator::abandoned&) {
                return series; // the exit stays pending; the string is as it was
            }
        } else {
            series_buffer* b = buffer_of(series->w2);
            u32 u = checked_unit(b);
            unit_sort request{u, !case_, reverse, all, size, offset};
            unit_request = &request;
            u8* base = head_ptr(b) + std::size_t(start) * u;
            // Stable whenever asked, /case or not.
            if (stable)
                record_sort::merge_stable(base, static_cast<i32>(records), size * u, 0, 0,
                                          compare_units);
            else
                record_sort::quick_unstable(base, static_cast<i32>(records), size * u, 0, 0,
                                            compare_units);
        }
    }
    notify_owner(series, "sorted", static_cast<u32>(start), static_cast<i32>(count));
    return series;
}

} // namespace string_type
} // namespace zel
