// sort on blocks. The records are copied out of the series and sorted as an order of record
// indexes; the series is written only once the order is complete. So a comparator that throws
// (or leaves with break or throw) leaves the series as it was, one that answers inconsistently
// still yields a permutation, and a comparator function that changes the series (or a collection
// that moves its buffer) cannot make the sort read or write outside it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/block_handlers.hpp"
#include "datatypes/series.hpp"
#include "datatypes/sort_comparator.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/owner.hpp"
#include "runtime/sort.hpp"

namespace zel::block {

namespace {

struct sort_context {
    const cell* records = nullptr; // cell comparator: the private copy
    u32 copy_node = 0;             // function comparator: the private copy block
    u32 size = 1;                  // cells per record
    u32 offset = 0;                // the cell of a record that decides (/compare k)
    bool all = false;
    bool reverse = false;
    i32 op = actions::compare_op::sort;
    cell function{};
    cell* scratch_a = nullptr; // /all with a function: the two records as blocks
    cell* scratch_b = nullptr;
};
sort_context* current = nullptr;

// Makes a context current for its lifetime; nested sorts (from a comparator) restore the outer.
class context_scope {
  public:
    explicit context_scope(sort_context* c) : saved_(current) { current = c; }
    ~context_scope() { current = saved_; }
    context_scope(const context_scope&) = delete;
    context_scope& operator=(const context_scope&) = delete;

  private:
    sort_context* saved_;
};

// Drops what the sort pushed on the data stack, on every way out.
class stack_scope {
  public:
    stack_scope() : top_(stack::top) {}
    ~stack_scope() { stack::top = top_; }
    stack_scope(const stack_scope&) = delete;
    stack_scope& operator=(const stack_scope&) = delete;

  private:
    cell* top_;
};

i32 compare_cells(const cell* a, const cell* b, i32 op) {
    cell x = *a, y = *b;
    i32 r = actions::compare_three_way(&x, &y, op);
    if (r == -2) return static_cast<i32>(type_of(&x)) - static_cast<i32>(type_of(&y));
    return r;
}

i32 by_cells(u32 a, u32 b, u32, u32) {
    const sort_context& c = *current;
    if (c.reverse) std::swap(a, b);
    const cell* ra = c.records + u64(a) * c.size;
    const cell* rb = c.records + u64(b) * c.size;
    if (!c.all) return compare_cells(ra + c.offset, rb + c.offset, c.op);
    for (u32 j = 0; j < c.size; j++) {
        i32 r = compare_cells(ra + j, rb + j, c.op);
        if (r != 0) return r;
    }
    return 0;
}

// Fills a scratch block with one record of the private copy.
void fill_record(cell* scratch, u32 record) {
    const sort_context& c = *current;
    series_buffer* s = make_room(scratch, 0, false);
    s->tail = s->head;
    s = make_room(scratch, c.size, false);
    std::memcpy(head_cell(s), head_cell(buffer_of(c.copy_node)) + u64(record) * c.size,
                c.size * sizeof(cell));
    s->tail = s->head + c.size * static_cast<u32>(sizeof(cell));
    scratch->w1 = 0;
}

i32 answer_of(const cell* r) {
    switch (type_of(r)) {
    case type_id::logic:
        return r->w1 ? 1 : -1;
    case type_id::integer:
        return int_of(r);
    case type_id::float_: {
        double d = float_of(r);
        return d > 0.0 ? 1 : (d < 0.0 ? -1 : 0); // NaN answers 0
    }
    case type_id::none:
        return -1;
    default:
        return 1;
    }
}

// Whether record a goes after record b, as the comparator function says: it is asked about
// (b, a), or (a, b) under /reverse, and answers true when its first argument belongs first.
i32 by_function(u32 a, u32 b, u32, u32) {
    sort_context& c = *current;
    u32 first = c.reverse ? a : b, second = c.reverse ? b : a;
    cell x, y;
    if (c.all) {
        fill_record(c.scratch_a, first);
        fill_record(c.scratch_b, second);
        x = *c.scratch_a;
        y = *c.scratch_b;
    } else {
        // Read through the node on every call: the function may have moved the buffer.
        const cell* records = head_cell(buffer_of(c.copy_node));
        x = records[u64(first) * c.size];
        y = records[u64(second) * c.size];
    }
    cell result = sort_comparator::call(&c.function, &x, &y);
    return answer_of(&result);
}

} // namespace

namespace handlers {

cell* sort(cell* s, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable) {
    u32 length = used_units(buffer_of(s->w2));
    u32 h = series::clamped_head(s);
    i64 start = h;
    i64 n = i64(length) - h;
    if (n <= 0) return s;
    if (part) {
        i64 p;
        if (is(part, type_id::integer))
            p = int_of(part);
        else if (type_of(part) == type_of(s) && part->w2 == s->w2)
            p = i64(static_cast<i32>(part->w1)) - h;
        else
            series::raise_refine_arg("part", part);
        if (p < 0) {
            start = h + p;
            n = -p;
            if (start < 0) {
                s->w1 = 0;
                return s;
            }
        } else if (p < n) {
            n = p;
        }
    }
    i64 size = 1;
    if (skip) {
        if (!is(skip, type_id::integer)) series::raise_refine_arg("skip", skip);
        size = int_of(skip);
        if (size < 1 || size > n || n % size != 0) series::raise_refine_arg("skip", skip);
    } else if (all) {
        error::raise(err::E("script", "bad-refines"));
    }
    sort_context c;
    c.size = static_cast<u32>(size);
    c.all = all;
    c.reverse = reverse;
    c.op = case_ ? actions::compare_op::case_sort : actions::compare_op::sort;
    bool by_fn = false;
    if (compare) {
        if (is(compare, type_id::integer)) {
            if (all || !skip) error::raise(err::E("script", "bad-refines"));
            i64 k = int_of(compare);
            if (k < 1 || k > size) error::raise(err::E("script", "out-of-range"), compare);
            c.offset = static_cast<u32>(k - 1);
        } else if (is(compare, type_id::function)) {
            by_fn = true;
            c.function = *compare;
        } else {
            series::raise_refine_arg("compare", compare);
        }
    }
    if (n == 0) return s;
    bool told = owner::notify_change(s, owner::event::sort, nullptr, static_cast<i32>(start),
                                     static_cast<i32>(n));
    // The notice may have shortened the series: sort whole records that are still there.
    length = used_units(buffer_of(s->w2));
    if (start + n > length) n = std::max<i64>(i64(length) - start, 0) / size * size;
    u32 records = static_cast<u32>(n / size);
    gc::evacuation_hold hold; // the private copy lies on the heap while comparators run
    std::vector<cell> copy(head_cell(buffer_of(s->w2)) + start,
                           head_cell(buffer_of(s->w2)) + start + n);
    std::vector<u32> order(records);
    {
        stack_scope held;
        context_scope scope(&c);
        auto run = [&](record_sort::index_compare_fn fn) {
            if (stable)
                record_sort::merge_stable_order(order.data(), static_cast<i32>(records), 0, 0, fn);
            else
                record_sort::quick_unstable_order(order.data(), static_cast<i32>(records), 0, 0,
                                                  fn);
        };
        if (!by_fn) {
            c.records = copy.data();
            run(by_cells);
        } else {
            // The function sees values in a private block that nothing else can change.
            cell* block = push_new(static_cast<i32>(n));
            series_buffer* b = buffer_of(block->w2);
            std::memcpy(head_cell(b), copy.data(), copy.size() * sizeof(cell));
            b->tail = b->head + static_cast<u32>(copy.size() * sizeof(cell));
            c.copy_node = block->w2;
            if (all) {
                c.scratch_a = push_new(c.size);
                c.scratch_b = push_new(c.size);
            }
            try {
                run(by_function);
            } catch (const sort_comparator::abandoned&) {
                return s; // the exit stays pending; the series is as it was
            }
        }
    }
    // Written back through the node, as far as the series still reaches.
    length = used_units(buffer_of(s->w2));
    cell* base = head_cell(buffer_of(s->w2));
    for (u32 i = 0; i < records; i++) {
        i64 at = start + i64(i) * size;
        if (at + size > length) break;
        std::memcpy(base + at, copy.data() + u64(order[i]) * size, size * sizeof(cell));
    }
    if (type_of(s) == type_id::hash) series::index_sync::rebuild(s);
    if (told)
        owner::notify_change(s, owner::event::sorted, nullptr, static_cast<i32>(start),
                             static_cast<i32>(n));
    s->w1 = static_cast<u32>(start);
    return s;
}

} // namespace handlers
} // namespace zel::block
