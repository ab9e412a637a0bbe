// point2D! and point3D!.
#include "datatypes/point.hpp"

#include <bit>
#include <cmath>

#include "datatypes/float.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/scalar_common.hpp"
#include "evaluator/actions.hpp"
#include "runtime/errors.hpp"
#include "datatypes/random_values.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zel {

namespace {
cell* init_point(cell* slot, u32 type, float x, float y, float z) {
    slot->header = (slot->header & ~0xFFu) | type;
    slot->w1 = std::bit_cast<u32>(x);
    slot->w2 = std::bit_cast<u32>(y);
    slot->w3 = type == type_id::point3d ? std::bit_cast<u32>(z) : 0;
    return slot;
}

cell* fresh(cell* c) {
    c->header = 0;
    return c;
}

// "(" then each coordinate in the coordinate text, separated by ", ", then ")".
i32 form_point(cell* value, cell* buffer, cell*, i32 limit) {
    u32 n = type_of(value) == type_id::point3d ? 3 : 2;
    const u32 words[3] = {value->w1, value->w2, value->w3};
    limit = out::text(buffer, "(", limit);
    for (u32 i = 0; i < n; i++) {
        if (i) limit = out::text(buffer, ", ", limit);
        double coordinate = std::bit_cast<float>(words[i]);
        limit = float_::form_to(buffer, coordinate, float_::format::coordinate, limit);
    }
    return out::text(buffer, ")", limit);
}

i32 mold_point(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form_point(value, buffer, part, limit);
}

u32 axes_of(const cell* c) { return type_of(c) == type_id::point3d ? 3 : 2; }

u32* word_at(cell* c, u32 i) { return i == 0 ? &c->w1 : i == 1 ? &c->w2 : &c->w3; }
float axis(const cell* c, u32 i) {
    return std::bit_cast<float>(i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3);
}
void set_axis(cell* c, u32 i, double v) { *word_at(c, i) = std::bit_cast<u32>(static_cast<float>(v)); }

// The coordinates of a point operand, or of a pair seen as a point2D!.
bool coordinates(const cell* c, u32 type, double* out) {
    u32 t = type_of(c);
    if (t == type) {
        for (u32 i = 0; i < axes_of(c); i++) out[i] = axis(c, i);
        return true;
    }
    if (t == type_id::pair && type == type_id::point2d) {
        out[0] = static_cast<i32>(c->w2);
        out[1] = static_cast<i32>(c->w3);
        return true;
    }
    return false;
}

void math(i32 operation) {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    u32 type = type_of(left), n = axes_of(left);
    double r[3] = {0, 0, 0};
    u32 rt = type_of(right);
    if (rt == type_id::integer) {
        r[0] = r[1] = r[2] = int_of(right);
    } else if (rt == type_id::float_ || rt == type_id::percent) {
        double f = static_cast<float>(float_of(right));
        if (operation == cores::op::multiply || operation == cores::op::divide) {
            for (u32 i = 0; i < n; i++)
                set_axis(left, i, operation == cores::op::multiply ? axis(left, i) * f : axis(left, i) / f);
            return;
        }
        r[0] = r[1] = r[2] = f;
    } else if (!coordinates(right, type, r)) {
        cores::raise_invalid_type(rt);
    }
    double l[3];
    for (u32 i = 0; i < n; i++) l[i] = axis(left, i);
    for (u32 i = 0; i < n; i++) {
        double x = l[i], y = r[i], v;
        switch (operation) {
        case cores::op::add: v = x + y; break;
        case cores::op::subtract: v = x - y; break;
        case cores::op::multiply: v = x * y; break;
        case cores::op::divide: v = x / y; break;
        case cores::op::remainder:
            if (std::isnan(y)) v = y;
            else if (std::isinf(y)) v = std::isfinite(x) ? x : std::nan("");
            else v = std::fmod(x, y);
            break;
        default: cores::raise_invalid_type(rt);
        }
        set_axis(left, i, v);
    }
}
template <i32 Op> void math_entry() { math(Op); }

cell* make(cell* proto, cell* spec, u32 type) {
    u32 t = type_of(spec);
    bool three = type == type_id::point3d;
    cell r{};
    switch (t) {
    case type_id::integer:
    case type_id::float_:
    case type_id::percent: {
        float v = static_cast<float>(t == type_id::integer ? int_of(spec) : float_of(spec));
        init_point(&r, type, v, v, v);
        break;
    }
    case type_id::block:
    case type_id::paren:
    case type_id::hash: {
        u32 need = three ? 3 : 2;
        series_buffer* b = buffer_of(spec->w2);
        if (spec->w1 + need > used_units(b)) scalar::raise_malconstruct(spec);
        float v[3] = {0, 0, 0};
        for (u32 i = 0; i < need; i++) {
            const cell* c = head_cell(b) + spec->w1 + i;
            if (is(c, type_id::integer)) v[i] = static_cast<float>(int_of(c));
            else if (is(c, type_id::float_)) v[i] = static_cast<float>(float_of(c));
            else scalar::raise_malconstruct(spec);
        }
        init_point(&r, type, v[0], v[1], v[2]);
        break;
    }
    case type_id::pair:
        init_point(&r, type, static_cast<float>(static_cast<i32>(spec->w2)),
                   static_cast<float>(static_cast<i32>(spec->w3)), 0);
        break;
    case type_id::point2d: init_point(&r, type, axis(spec, 0), axis(spec, 1), 0); break;
    case type_id::point3d:
        if (!three) scalar::raise_bad_to(type, spec);
        r = *spec;
        break;
    case type_id::string:
        if (!scalar::scan_as(spec, type, &r)) scalar::raise_bad_to(type, spec);
        break;
    default: scalar::raise_bad_to(type, spec);
    }
    *proto = r;
    return proto;
}

i32 compare(cell* a, cell* b, i32 op) {
    u32 type = type_of(a), n = axes_of(a);
    double r[3];
    if (!coordinates(b, type, r)) return -2;
    double l[3];
    for (u32 i = 0; i < n; i++) l[i] = axis(a, i);
    namespace cop = actions::compare_op;
    switch (op) {
    case cop::equal:
    case cop::not_equal:
        for (u32 i = 0; i < n; i++)
            if (!float_::near_equal32(static_cast<float>(l[i]), static_cast<float>(r[i]))) return 1;
        return 0;
    case cop::strict_equal:
        for (u32 i = 0; i < n; i++)
            if (l[i] != r[i]) return 1;
        return 0;
    case cop::same:
        if (type_of(b) != type) return 1;
        return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3 ? 0 : 1;
    default: break;
    }
    double d = 0;
    for (u32 i = 0; i < n; i++) {
        d = l[i] - r[i];
        if (!float_::near_equal32(static_cast<float>(d), 0.0f)) break;
    }
    return d < 0.0 ? -1 : d > 0.0 ? 1 : 0;
}

void absolute() {
    cell* v = stack::arg(0);
    for (u32 i = 0; i < axes_of(v); i++) *word_at(v, i) &= 0x7FFFFFFFu;
}

void negate(cell* v) {
    for (u32 i = 0; i < axes_of(v); i++) set_axis(v, i, 0.0 - axis(v, i));
}

void round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
           bool ceiling, bool half_ceiling) {
    if (scale && is(scale, type_id::money)) cores::raise_not_related("round", type_id::money);
    auto float_round = act::handler<act::slot::round>(type_id::float_);
    u32 n = axes_of(value);
    double scales[3];
    bool per_axis = scale && (coordinates(scale, type_of(value), scales) ||
                              (n == 3 && coordinates(scale, type_id::point2d, scales)));
    if (per_axis && n == 3 && !is(scale, type_id::point3d)) scales[2] = 1.0;
    for (u32 i = 0; i < n; i++) {
        cell c, s;
        init_float(&c, axis(value, i));
        cell* sp = scale;
        if (per_axis) sp = init_float(&s, scales[i]);
        float_round(&c, sp, even, down, half_down, floor, ceiling, half_ceiling);
        set_axis(value, i, is(&c, type_id::integer) ? int_of(&c) : float_of(&c));
    }
}

cell* pick(cell* value, i32, cell* index) {
    static cell picked;
    u32 a = scalar::axis_of(index, axes_of(value));
    if (!a) {
        if (is(index, type_id::word)) {
            cell w = *index, v = *value;
            error::raise(err::E("script", "cannot-use"), &w, &v);
        }
        error::raise(err::E("script", "out-of-range"), index);
    }
    return init_float(&picked, axis(value, a - 1));
}

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    static cell reached;
    cell none_path{type_id::none, 0, 0, 0};
    u32 a = scalar::axis_of(element, axes_of(parent));
    if (!a) error::raise(err::E("script", "invalid-path"), step.path ? step.path : &none_path, element);
    if (!value) return init_float(&reached, axis(parent, a - 1));
    if (is(value, type_id::integer)) set_axis(parent, a - 1, int_of(value));
    else if (is(value, type_id::float_)) set_axis(parent, a - 1, float_of(value));
    else cores::raise_invalid_type(type_of(value));
    scalar::store_back(parent, step);
    reached = *value;
    return &reached;
}

void reverse(cell* value, cell*, cell*) {
    u32 last = axes_of(value) - 1;
    u32 first = *word_at(value, 0);
    *word_at(value, 0) = *word_at(value, last);
    *word_at(value, last) = first;
}

action_row point_row(u32 type, const char* name) {
    return action_row{.type = type,
                      .parent = 0,
                      .name = name,
                      .make = make,
                      .random = random_values::point,
                      .to = make,
                      .form = form_point,
                      .mold = mold_point,
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
                      .pick = pick,
                      .reverse = reverse};
}
} // namespace

namespace point2d {
cell* init_cell(cell* slot, float x, float y) {
    return init_point(slot, type_id::point2d, x, y, 0);
}
cell* push_new(float x, float y) {
    return init_cell(fresh(stack::reserve_slot()), x, y);
}
void append_to_block(cell* block, float x, float y) {
    init_cell(fresh(memory::append_cell_slot(block)), x, y);
}
void register_type() {
    cores::point2d_math = math;
    datatype::register_row(point_row(type_id::point2d, "point2D!"));
}
} // namespace point2d

namespace point3d {
cell* init_cell(cell* slot, float x, float y, float z) {
    return init_point(slot, type_id::point3d, x, y, z);
}
cell* push_new(float x, float y, float z) {
    return init_cell(fresh(stack::reserve_slot()), x, y, z);
}
void append_to_block(cell* block, float x, float y, float z) {
    init_cell(fresh(memory::append_cell_slot(block)), x, y, z);
}
void register_type() {
    cores::point3d_math = math;
    datatype::register_row(point_row(type_id::point3d, "point3D!"));
}
} // namespace point3d

} // namespace zel
