// pair!.
#include "datatypes/pair.hpp"

#include <bit>
#include <cmath>

#include "datatypes/integer.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/point.hpp"
#include "datatypes/random_values.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/scalar_common.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::pair {

cell* init_cell(cell* slot, i32 x, i32 y) {
    slot->header = (slot->header & ~0xFFu) | type_id::pair;
    slot->w1 = 0;
    slot->w2 = static_cast<u32>(x);
    slot->w3 = static_cast<u32>(y);
    return slot;
}

cell* push_new(i32 x, i32 y) {
    cell* c = stack::reserve_slot();
    c->header = 0;
    return init_cell(c, x, y);
}

void append_to_block(cell* block, i32 x, i32 y) {
    cell* c = memory::append_cell_slot(block);
    c->header = 0;
    init_cell(c, x, y);
}

namespace {
i32 x_of(const cell* p) { return static_cast<i32>(p->w2); }
i32 y_of(const cell* p) { return static_cast<i32>(p->w3); }

cell* as_point(cell* c, double x, double y) {
    *c = {0, 0, 0, 0};
    return point2d::init_cell(c, static_cast<float>(x), static_cast<float>(y));
}

void point_core(i32 operation) {
    if (!cores::point2d_math) cores::raise_invalid_type(type_id::point2d);
    cores::point2d_math(operation);
}
} // namespace

void math(i32 operation) {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    i32 x1 = x_of(left), y1 = y_of(left), x2, y2;
    switch (type_of(right)) {
    case type_id::pair: x2 = x_of(right), y2 = y_of(right); break;
    case type_id::integer: x2 = y2 = int_of(right); break;
    case type_id::point2d:
        as_point(left, x1, y1);
        return point_core(operation);
    case type_id::float_:
    case type_id::percent: {
        double f = float_of(right);
        bool refused = operation == cores::op::divide ? std::isnan(f) : !std::isfinite(f);
        if (refused) error::raise(err::E("script", "invalid-arg"), right);
        if (operation == cores::op::multiply) {
            as_point(left, x1 * f, y1 * f);
            return;
        }
        if (operation == cores::op::divide) {
            as_point(left, x1 / f, y1 / f);
            return;
        }
        x2 = y2 = scalar::truncate_checked(f, right);
        break;
    }
    default: cores::raise_invalid_type(type_of(right));
    }
    cell rx, ry;
    init_integer(&rx, 0);
    init_integer(&ry, 0);
    i32 x = integer::arith_op(x1, x2, operation, &rx);
    i32 y = integer::arith_op(y1, y2, operation, &ry);
    if (is(&rx, type_id::float_) || is(&ry, type_id::float_)) {
        // Overflow or an inexact quotient: the whole operation again on floats.
        as_point(left, x1, y1);
        as_point(right, x2, y2);
        return point_core(operation);
    }
    init_cell(left, x, y);
}

namespace {
template <i32 Op> void math_entry() { math(Op); }

cell* make(cell* proto, cell* spec, u32) {
    switch (type_of(spec)) {
    case type_id::integer: return init_cell(proto, int_of(spec), int_of(spec));
    case type_id::float_:
    case type_id::percent: {
        i32 n = scalar::truncate_checked(float_of(spec), spec);
        return init_cell(proto, n, n);
    }
    case type_id::block:
    case type_id::paren:
    case type_id::hash: {
        series_buffer* b = buffer_of(spec->w2);
        u32 len = used_units(b);
        if (spec->w1 + 2 > len) scalar::raise_malconstruct(spec);
        i32 v[2];
        for (u32 i = 0; i < 2; i++) {
            const cell* c = head_cell(b) + spec->w1 + i;
            if (is(c, type_id::integer)) v[i] = int_of(c);
            else if (is(c, type_id::float_)) v[i] = scalar::truncate_checked(float_of(c), spec);
            else scalar::raise_malconstruct(spec);
        }
        return init_cell(proto, v[0], v[1]);
    }
    case type_id::point2d: {
        i32 x = scalar::truncate_checked(std::bit_cast<float>(spec->w1), spec);
        i32 y = scalar::truncate_checked(std::bit_cast<float>(spec->w2), spec);
        return init_cell(proto, x, y);
    }
    case type_id::string: {
        cell v;
        if (!scalar::scan_as(spec, type_id::pair, &v)) scalar::raise_bad_to(type_id::pair, spec);
        return init_cell(proto, x_of(&v), y_of(&v));
    }
    case type_id::pair: return init_cell(proto, x_of(spec), y_of(spec));
    default: scalar::raise_bad_to(type_id::pair, spec);
    }
}

i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    limit = out::text(buffer, integer::to_decimal_text(x_of(value)), limit);
    limit = out::text(buffer, "x", limit);
    return out::text(buffer, integer::to_decimal_text(y_of(value)), limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}

i32 compare(cell* a, cell* b, i32 op) {
    if (is(b, type_id::point2d)) {
        auto point_compare = act::handler<act::slot::compare>(type_id::point2d);
        if (!point_compare) return -2;
        cell p;
        as_point(&p, x_of(a), y_of(a));
        return point_compare(&p, b, op);
    }
    if (!is(b, type_id::pair)) return -2;
    i32 x = x_of(a), y = x_of(b);
    if (x == y) x = y_of(a), y = y_of(b);
    return (x > y) - (x < y);
}

void absolute() {
    cell* v = stack::arg(0);
    init_cell(v, integer::absolute_checked(x_of(v)), integer::absolute_checked(y_of(v)));
}

void negate(cell* v) {
    init_cell(v, static_cast<i32>(0u - v->w2), static_cast<i32>(0u - v->w3));
}

void round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
           bool ceiling, bool half_ceiling) {
    if (scale && is(scale, type_id::money)) cores::raise_not_related("round", type_id::money);
    auto int_round = act::handler<act::slot::round>(type_id::integer);
    i32 result[2];
    for (u32 i = 0; i < 2; i++) {
        cell c, s;
        init_integer(&c, i ? y_of(value) : x_of(value));
        cell* sp = scale;
        if (scale && is(scale, type_id::pair)) sp = init_integer(&s, i ? y_of(scale) : x_of(scale));
        int_round(&c, sp, even, down, half_down, floor, ceiling, half_ceiling);
        result[i] = is(&c, type_id::integer) ? int_of(&c) : scalar::truncate_checked(float_of(&c));
    }
    init_cell(value, result[0], result[1]);
}

cell* pick(cell* value, i32, cell* index) {
    static cell picked;
    u32 axis = scalar::axis_of(index, 2);
    if (!axis) {
        if (is(index, type_id::word)) {
            cell w = *index, v = *value;
            error::raise(err::E("script", "cannot-use"), &w, &v);
        }
        error::raise(err::E("script", "out-of-range"), index);
    }
    return init_integer(&picked, axis == 1 ? x_of(value) : y_of(value));
}

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    static cell reached;
    cell none_path{type_id::none, 0, 0, 0};
    u32 axis = scalar::axis_of(element, 2);
    if (!axis) error::raise(err::E("script", "invalid-path"), step.path ? step.path : &none_path, element);
    if (!value) return init_integer(&reached, axis == 1 ? x_of(parent) : y_of(parent));
    if (!is(value, type_id::integer)) cores::raise_invalid_type(type_of(value));
    if (axis == 1) parent->w2 = value->w2;
    else parent->w3 = value->w2;
    scalar::store_back(parent, step);
    reached = *value;
    return &reached;
}

void reverse(cell* value, cell*, cell*) { init_cell(value, y_of(value), x_of(value)); }
} // namespace

void register_type() {
    cores::pair_math = math;
    datatype::register_row(action_row{.type = type_id::pair,
                                      .parent = 0,
                                      .name = "pair!",
                                      .make = make,
                                      .random = random_values::pair,
                                      .to = make,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = eval_path,
                                      .compare = compare,
                                      .absolute = absolute,
                                      .add = math_entry<cores::op::add>,
                                      .divide = math_entry<cores::op::divide>,
                                      .multiply = math_entry<cores::op::multiply>,
                                      .negate = negate,
                                      .remainder = math_entry<cores::op::remainder>,
                                      .round = round,
                                      .subtract = math_entry<cores::op::subtract>,
                                      .and_t = math_entry<cores::op::and_>,
                                      .or_t = math_entry<cores::op::or_>,
                                      .xor_t = math_entry<cores::op::xor_>,
                                      .pick = pick,
                                      .reverse = reverse});
}

} // namespace zel::pair
