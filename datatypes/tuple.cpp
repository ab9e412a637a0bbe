// tuple!.
#include "datatypes/tuple.hpp"

#include <cmath>
#include <cstring>
#include <utility>

#include "datatypes/integer.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/scalar_common.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "datatypes/words_rt.hpp"
#include "runtime/errors.hpp"
#include "datatypes/random_values.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zel::tuple {

cell* init_cell(cell* slot, const u8* bytes, u32 n) {
    if (n > max_length) n = max_length;
    u32 header = (slot->header & cell_flag::newline) | n << 19 | type_id::tuple;
    *slot = {header, 0, 0, 0};
    std::memcpy(&slot->w1, bytes, n);
    return slot;
}

cell* push_new(u32 n, u32 word1, u32 word2, u32 word3) {
    if (n > max_length) n = max_length;
    u8 bytes[max_length] = {};
    const u32 words[3] = {word1, word2, word3};
    std::memcpy(bytes, words, n);
    cell* c = stack::reserve_slot();
    c->header = 0;
    return init_cell(c, bytes, n);
}

void append_to_block(cell* block, const u8* bytes, u32 n) {
    cell* c = memory::append_cell_slot(block);
    c->header = 0;
    init_cell(c, bytes, n);
}

namespace {
i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    u32 n = length_of(value);
    if (n > max_length) n = max_length;
    const u8* bytes = bytes_of(value);
    for (u32 i = 0; i < n; i++) {
        if (i) limit = out::text(buffer, ".", limit);
        limit = out::text(buffer, integer::to_decimal_text(bytes[i]), limit);
    }
    return limit;
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}

u8* elements(cell* t) { return reinterpret_cast<u8*>(&t->w1); }
u32 length(const cell* t) {
    u32 n = length_of(t);
    return n > max_length ? max_length : n;
}
// Rewrites the length of an existing tuple (the new-line mark and bits 29-31 cleared).
void set_length(cell* t, u32 n) { t->header = (t->header & 0x1F87FFFFu) | n << 19; }

u8 clamp(i64 v) { return static_cast<u8>(v < 0 ? 0 : v > 255 ? 255 : v); }
u8 clamp(double v) { return static_cast<u8>(!(v > 0) ? 0 : v > 255 ? 255 : static_cast<int>(v)); }
} // namespace

void math(i32 operation) {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    if (!is(left, type_id::tuple)) {
        if (operation == cores::op::subtract || operation == cores::op::divide)
            cores::raise_not_related(operation == cores::op::subtract ? "subtract" : "divide",
                                     type_of(left));
        cell swap = *left;
        *left = *right;
        *right = swap;
    }
    u32 rt = type_of(right);
    u8* e = elements(left);
    u32 n = length(left);
    if (rt == type_id::float_ || rt == type_id::percent) {
        double f = float_of(right);
        for (u32 i = 0; i < n; i++) {
            double x = e[i], r = 0;
            switch (operation) {
            case cores::op::add: r = x + f; break;
            case cores::op::subtract: r = x - f; break;
            case cores::op::multiply: r = x * f; break;
            case cores::op::divide: r = x / f; break;
            case cores::op::remainder: r = std::isfinite(f) ? std::fmod(x, f) : x; break;
            default: cores::raise_invalid_type(rt);
            }
            e[i] = clamp(std::trunc(r)); // clamped as a double: no out-of-range cast
        }
        return;
    }
    if (rt != type_id::tuple && rt != type_id::integer) cores::raise_invalid_type(rt);
    if (rt == type_id::tuple && length(right) > n) {
        u32 grown = length(right);
        for (u32 i = n; i < grown; i++) e[i] = 0;
        n = grown;
        set_length(left, n);
    }
    const u8* r = rt == type_id::tuple ? bytes_of(right) : nullptr;
    u32 rn = r ? length(right) : 0;
    for (u32 i = 0; i < n; i++) {
        i32 y = r ? (i < rn ? r[i] : 0) : int_of(right);
        cell result;
        init_integer(&result, 0);
        i32 v = integer::arith_op(e[i], y, operation,
                                  operation == cores::op::divide ? nullptr : &result);
        if (is(&result, type_id::float_)) e[i] = float_of(&result) > 0 ? 255 : 0;
        else e[i] = clamp(static_cast<i64>(v));
    }
}

namespace {
template <i32 Op> void math_entry() { math(Op); }

i32 hex_digit(u32 c) {
    if (c >= '0' && c <= '9') return static_cast<i32>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<i32>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<i32>(c - 'A' + 10);
    return -1;
}

cell* to(cell* proto, cell* spec, u32) {
    u8 bytes[max_length] = {};
    u32 n = 0;
    switch (type_of(spec)) {
    case type_id::block:
    case type_id::paren:
    case type_id::hash: {
        series_buffer* b = buffer_of(spec->w2);
        u32 count = used_units(b) > spec->w1 ? used_units(b) - spec->w1 : 0;
        if (count > max_length) scalar::raise_bad_to(type_id::tuple, spec);
        for (u32 i = 0; i < count; i++) {
            const cell* c = head_cell(b) + spec->w1 + i;
            double v;
            if (is(c, type_id::integer)) v = int_of(c);
            else if (is(c, type_id::char_)) v = c->w2;
            else if (is(c, type_id::float_)) v = std::trunc(float_of(c));
            else scalar::raise_bad_to(type_id::tuple, spec);
            if (!(v >= 0 && v <= 255)) scalar::raise_bad_to(type_id::tuple, spec);
            bytes[i] = static_cast<u8>(v);
        }
        n = count;
        break;
    }
    case type_id::binary: {
        series_buffer* b = buffer_of(spec->w2);
        u32 count = used_bytes(b) > spec->w1 ? used_bytes(b) - spec->w1 : 0;
        n = count > max_length ? max_length : count;
        for (u32 i = 0; i < n; i++) bytes[i] = head_ptr(b)[spec->w1 + i];
        break;
    }
    case type_id::issue: {
        // Characters beyond ASCII are no hexadecimal digits (not reduced to 7 bits).
        std::string_view text = symbol::text_view(spec->w2);
        u32 len = static_cast<u32>(text.size());
        if (len != 3 && len != 6 && len != 8) error::raise(err::E("script", "invalid-data"), spec);
        i32 d[8];
        for (u32 i = 0; i < len; i++) {
            d[i] = hex_digit(static_cast<u8>(text[i]));
            if (d[i] < 0) error::raise(err::E("script", "invalid-data"), spec);
        }
        if (len == 3) {
            for (u32 i = 0; i < 3; i++) bytes[i] = static_cast<u8>(d[i] * 17);
            n = 3;
        } else {
            n = len / 2;
            for (u32 i = 0; i < n; i++) bytes[i] = static_cast<u8>(d[2 * i] * 16 + d[2 * i + 1]);
        }
        break;
    }
    case type_id::string:
    case type_id::file:
    case type_id::url:
    case type_id::tag:
    case type_id::email:
    case type_id::ref: {
        cell v;
        if (!scalar::scan_as(spec, type_id::tuple, &v)) scalar::raise_bad_to(type_id::tuple, spec);
        *proto = v;
        return proto;
    }
    case type_id::tuple: *proto = *spec; return proto;
    default: scalar::raise_bad_to(type_id::tuple, spec);
    }
    *proto = {0, 0, 0, 0};
    return init_cell(proto, bytes, n < 3 ? 3 : n);
}

i32 compare(cell* a, cell* b, i32) {
    if (!is(b, type_id::tuple)) return -2;
    u32 na = length(a), nb = length(b);
    const u8* x = bytes_of(a);
    const u8* y = bytes_of(b);
    for (u32 i = 0; i < (na > nb ? na : nb); i++) {
        u32 p = i < na ? x[i] : 0, q = i < nb ? y[i] : 0;
        if (p != q) return p < q ? -1 : 1;
    }
    return 0;
}

void complement(cell* v) {
    u8* e = elements(v);
    for (u32 i = 0; i < length(v); i++) e[i] = static_cast<u8>(255 - e[i]);
}

i32 length_q(cell* v) { return static_cast<i32>(length(v)); }

cell* pick(cell* value, i32, cell* index) {
    static cell picked;
    if (!is(index, type_id::integer)) cores::raise_invalid_type(type_of(index));
    i32 i = int_of(index);
    if (i < 1 || i > static_cast<i32>(length(value)))
        error::raise(err::E("script", "out-of-range"), index);
    return init_integer(&picked, bytes_of(value)[i - 1]);
}

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    static cell reached;
    if (!is(element, type_id::integer)) cores::raise_invalid_type(type_of(element));
    if (!value) return pick(parent, 0, element);
    if (!is(value, type_id::integer) && !is(value, type_id::none))
        cores::raise_invalid_type(type_of(value));
    i32 i = int_of(element);
    u32 n = length(parent);
    if (i < 1 || i > static_cast<i32>(n)) error::raise(err::E("script", "out-of-range"), element);
    u8* e = elements(parent);
    if (is(value, type_id::integer)) {
        e[i - 1] = clamp(static_cast<i64>(int_of(value)));
    } else {
        // none cuts the tuple at the index (never below three elements).
        for (u32 k = static_cast<u32>(i) - 1; k < n; k++) e[k] = 0;
        u32 kept = static_cast<u32>(i) - 1;
        set_length(parent, kept < 3 ? 3 : kept);
    }
    scalar::store_back(parent, step);
    reached = *value;
    return &reached;
}

[[noreturn]] void bad_refine(u32 symbol, const cell* v) {
    cell w, value = *v;
    word::init_cell_global(symbol, &w);
    error::raise(err::E("script", "invalid-refine-arg"), &w, &value);
}

void reverse(cell* value, cell* part, cell* skip) {
    u32 n = length(value);
    i32 p = static_cast<i32>(n), s = 1;
    if (part) {
        if (!is(part, type_id::integer)) bad_refine(sym::part, part);
        if (int_of(part) < 0) error::raise(err::E("script", "out-of-range"), part);
        p = int_of(part);
    }
    // Records must lie within the elements reversed, not only within /part.
    i32 range = p < static_cast<i32>(n) ? p : static_cast<i32>(n);
    if (skip) {
        if (!is(skip, type_id::integer)) bad_refine(sym::skip, skip);
        s = int_of(skip);
        if (s == range) return;
        if (s < 1) error::raise(err::E("script", "out-of-range"), skip);
        if (s > range || range % s != 0) bad_refine(sym::skip, skip);
    }
    u8* e = elements(value);
    i32 records = range / s;
    for (i32 a = 0, b = records - 1; a < b; a++, b--)
        for (i32 k = 0; k < s; k++) std::swap(e[a * s + k], e[b * s + k]);
}
} // namespace

void register_type() {
    cores::tuple_math = math;
    datatype::register_row(action_row{.type = type_id::tuple,
                                      .parent = 0,
                                      .name = "tuple!",
                                      .make = to,
                                      .random = random_values::tuple,
                                      .to = to,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = eval_path,
                                      .compare = compare,
                                      .add = math_entry<cores::op::add>,
                                      .divide = math_entry<cores::op::divide>,
                                      .multiply = math_entry<cores::op::multiply>,
                                      .remainder = math_entry<cores::op::remainder>,
                                      .subtract = math_entry<cores::op::subtract>,
                                      .and_t = math_entry<cores::op::and_>,
                                      .complement = complement,
                                      .or_t = math_entry<cores::op::or_>,
                                      .xor_t = math_entry<cores::op::xor_>,
                                      .length_q = length_q,
                                      .pick = pick,
                                      .reverse = reverse});
}

} // namespace zel::tuple
