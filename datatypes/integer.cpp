// integer!.
#include "datatypes/integer.hpp"

#include <cmath>

#include "datatypes/number_cores.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/random.hpp"
#include "evaluator/stack.hpp"
#include "lexer/convert.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"

namespace zel::integer {

namespace cop = actions::compare_op;

namespace {
[[noreturn]] void overflow() { error::raise(err::E("math", "overflow")); }
[[noreturn]] void zero_divide() { error::raise(err::E("math", "zero-divide")); }

[[noreturn]] void bad_to(u32 target, cell* value) {
    cell t;
    init_datatype(&t, target);
    error::raise(err::E("script", "bad-to-arg"), &t, value);
}

// An issue's text read as up to eight hexadecimal digits; eight may give a negative value
// (#FFFFFFFF is -1). Anything else, an empty text or a character beyond ASCII included, is
// invalid data rather than a digit of some other value.
i32 from_issue(cell* issue) {
    std::string_view text = symbol::text_view(issue->w2);
    if (text.empty() || text.size() > 8) error::raise(err::E("script", "invalid-data"), issue);
    u32 n = 0;
    for (char c : text) {
        u32 digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<u32>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<u32>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<u32>(c - 'a' + 10);
        else
            error::raise(err::E("script", "invalid-data"), issue);
        n = n << 4 | digit;
    }
    return static_cast<i32>(n);
}
} // namespace

i32 arith_op(i32 a, i32 b, i32 operation, cell* result) {
    i64 r = 0;
    switch (operation) {
    case cores::op::add: r = i64(a) + b; break;
    case cores::op::subtract: r = i64(a) - b; break;
    case cores::op::multiply: r = i64(a) * b; break;
    case cores::op::and_: r = a & b; break;
    case cores::op::or_: r = a | b; break;
    case cores::op::xor_: r = a ^ b; break;
    case cores::op::remainder:
        if (b == 0) zero_divide();
        if (a == INT32_MIN && b == -1) overflow();
        r = a % b;
        break;
    case cores::op::divide:
        if (b == 0) zero_divide();
        if (a == INT32_MIN && b == -1) overflow();
        if (result && a % b != 0) {
            init_float(result, static_cast<double>(a) / static_cast<double>(b));
            return 0;
        }
        r = a / b;
        break;
    default: runtime::fatal_error_exit(101, __builtin_return_address(0));
    }
    if (r > INT32_MAX || r < INT32_MIN) {
        // Only add, subtract and multiply can get here: the exact result as a float!.
        if (result) init_float(result, static_cast<double>(r));
        return 0;
    }
    if (result) result->w2 = static_cast<u32>(static_cast<i32>(r));
    return static_cast<i32>(r);
}

i32 absolute_checked(i32 n) {
    if (n == INT32_MIN) overflow();
    return n < 0 ? -n : n;
}

bool float_out_of_range(double d) { return std::isnan(d) || d > 2147483647.0 || d < -2147483648.0; }
bool float_out_of_range(const cell* f) { return float_out_of_range(float_of(f)); }

std::string_view to_decimal_text(i32 n) {
    static char text[12];
    char* p = text + sizeof text;
    u32 u = n < 0 ? 0u - static_cast<u32>(n) : static_cast<u32>(n);
    do *--p = static_cast<char>('0' + u % 10);
    while (u /= 10);
    if (n < 0) *--p = '-';
    return std::string_view(p, text + sizeof text - p);
}

cell* init_cell(cell* c, i32 n) { return init_integer(c, n); }
void append_to_block(cell* block, i32 n) { init_integer(memory::append_cell_slot(block), n); }
cell* push_new(i32 n) { return init_integer(stack::reserve_slot(), n); }
void set_result(i32 n) { init_integer(stack::result(), n); }

void math(i32 operation) {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    u32 rt = type_of(right);
    switch (rt) {
    case type_id::integer:
    case type_id::char_: arith_op(int_of(left), int_of(right), operation, left); return;
    case type_id::money:
        if (cores::money_math) return cores::money_math(operation);
        break;
    case type_id::float_:
    case type_id::percent:
    case type_id::time:
        if (cores::float_math) return cores::float_math(operation);
        break;
    case type_id::tuple:
    case type_id::pair:
    case type_id::point2d:
    case type_id::point3d: {
        if (rt == type_id::tuple && (operation == cores::op::subtract || operation == cores::op::divide))
            cores::raise_not_related(operation == cores::op::subtract ? "subtract" : "divide",
                                     type_id::integer);
        if (rt != type_id::tuple && operation == cores::op::divide)
            cores::raise_not_related("divide", type_id::integer);
        cores::math_fn core = rt == type_id::tuple   ? cores::tuple_math
                              : rt == type_id::pair  ? cores::pair_math
                              : rt == type_id::point2d ? cores::point2d_math
                                                     : cores::point3d_math;
        if (!core) break;
        i32 n = int_of(left);
        *left = *right;
        init_integer(right, n);
        if (operation == cores::op::subtract) {
            // n - composite: negate the composite, then add.
            auto negate = act::handler<act::slot::negate>(rt);
            if (negate) negate(left);
            operation = cores::op::add;
        }
        return core(operation);
    }
    case type_id::vector:
        if (cores::vector_math) {
            cell result;
            cores::vector_math(operation, right, left, &result);
            *left = result;
            return;
        }
        break;
    case type_id::date:
        if (operation != cores::op::add) cores::raise_not_related("subtract", type_id::integer);
        if (cores::date_math) {
            i32 n = int_of(left);
            *left = *right;
            init_integer(right, n);
            return cores::date_math(operation);
        }
        break;
    default: break;
    }
    cores::raise_invalid_type(rt);
}

namespace {
template <i32 Op> void math_entry() { math(Op); }

void power() {
    cell* base = stack::arg(0);
    cell* exponent = stack::arg(1);
    u32 et = type_of(exponent);
    if (et != type_id::integer && et != type_id::float_) actions::raise_not_allowed(exponent, 1);
    if (et == type_id::integer && int_of(exponent) >= 0) {
        i64 result = 1;
        i64 b = int_of(base);
        u32 e = static_cast<u32>(int_of(exponent));
        bool fits = true;
        while (e) {
            if (e & 1) {
                result *= b;
                if (result > INT32_MAX || result < INT32_MIN) {
                    fits = false;
                    break;
                }
            }
            e >>= 1;
            if (e) {
                b *= b;
                if (b > INT32_MAX || b < INT32_MIN) {
                    fits = false;
                    break;
                }
            }
        }
        if (fits) {
            init_integer(base, static_cast<i32>(result));
            return;
        }
    }
    init_float(base, static_cast<double>(int_of(base)));
    auto float_power = act::handler<act::slot::power>(type_id::float_);
    if (!float_power) cores::raise_invalid_type(type_id::float_);
    float_power();
}

void round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
           bool ceiling, bool half_ceiling) {
    if (scale && type_of(scale) == type_id::money) cores::raise_not_related("round", type_id::money);
    i32 n = int_of(value);
    if (n == INT32_MIN) return;
    if (scale && type_of(scale) != type_id::integer) {
        init_float(value, static_cast<double>(n));
        auto float_round = act::handler<act::slot::round>(type_id::float_);
        if (!float_round) cores::raise_invalid_type(type_of(scale));
        float_round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
        return;
    }
    i64 h = 1;
    if (scale) {
        i32 s = int_of(scale);
        if (s == INT32_MIN) overflow();
        h = s < 0 ? -i64(s) : s;
    }
    if (h == 0) return;
    i64 v = n < 0 ? -i64(n) : n;
    i64 q = v / h, r = v % h;
    if (r == 0) return;
    i64 lower = v - r, upper = v + (h - r);
    bool negative = n < 0;
    // Each rule picks one multiple; only the multiple picked must fit.
    i64 result;
    if (down) result = negative ? -lower : lower;
    else if (floor) result = negative ? -upper : lower;
    else if (ceiling) result = negative ? -lower : upper;
    else if (r < h - r) result = negative ? -lower : lower;
    else if (r > h - r) result = negative ? -upper : upper;
    else if (even) result = (q & 1) ? (negative ? -upper : upper) : (negative ? -lower : lower);
    else if (half_down) result = negative ? -lower : lower;
    else if (half_ceiling) result = negative ? -lower : upper;
    else result = negative ? -upper : upper;
    if (result > INT32_MAX || result < INT32_MIN) overflow();
    value->w2 = static_cast<u32>(static_cast<i32>(result));
}

cell* to(cell* proto, cell* spec, u32 type) {
    cell* result = proto;
    switch (type_of(spec)) {
    case type_id::integer: return init_integer(result, int_of(spec));
    case type_id::char_: return init_integer(result, static_cast<i32>(spec->w2));
    case type_id::float_:
    case type_id::percent: {
        double d = float_of(spec);
        if (float_out_of_range(d)) {
            cell t;
            init_datatype(&t, type_id::integer);
            error::raise(err::E("script", "type-limit"), &t);
        }
        return init_integer(result, static_cast<i32>(d));
    }
    case type_id::time: {
        double d = float_of(spec) + 0.5;
        if (float_out_of_range(d)) {
            cell t;
            init_datatype(&t, type_id::integer);
            error::raise(err::E("script", "type-limit"), &t);
        }
        return init_integer(result, static_cast<i32>(d));
    }
    case type_id::string:
    case type_id::file:
    case type_id::url:
    case type_id::tag:
    case type_id::email:
    case type_id::ref: {
        series_buffer* b = buffer_of(spec->w2);
        u32 unit = unit_of(b);
        u32 len = used_units(b);
        u32 head = spec->w1 < len ? spec->w1 : len;
        bool failed;
        i32 n = convert::string_to_integer(head_ptr(b) + head * unit, len - head, unit, failed);
        if (failed) bad_to(type_id::integer, spec);
        return init_integer(result, n);
    }
    case type_id::date:
        if (cores::date_unix_seconds) return init_integer(result, cores::date_unix_seconds(spec));
        break;
    case type_id::money:
        if (cores::money_as_integer) return init_integer(result, cores::money_as_integer(spec));
        break;
    case type_id::issue: return init_integer(result, from_issue(spec));
    case type_id::binary: {
        series_buffer* b = buffer_of(spec->w2);
        u32 len = used_bytes(b);
        u32 head = spec->w1 < len ? spec->w1 : len;
        u32 n = len - head < 4 ? len - head : 4;
        u32 v = 0;
        for (u32 i = 0; i < n; i++) v = (v << 8) | head_ptr(b)[head + i];
        return init_integer(result, static_cast<i32>(v));
    }
    default: break;
    }
    bad_to(type_id::integer, spec);
}

cell* make(cell* proto, cell* spec, u32 type) {
    if (type_of(spec) == type_id::logic) return init_integer(proto, spec->w1 ? 1 : 0);
    return to(proto, spec, type);
}

void random(cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->w2);
        init_unset(value);
        return;
    }
    value->w2 = static_cast<u32>(random::int_range(secure, int_of(value)));
}

void absolute(cell* value) { value->w2 = static_cast<u32>(absolute_checked(int_of(value))); }
void absolute_entry() { absolute(stack::arg(0)); }
void negate(cell* value) {
    if (int_of(value) == INT32_MIN) overflow();
    value->w2 = static_cast<u32>(-int_of(value));
}
void complement(cell* value) { value->w2 = ~value->w2; }
void even(cell* value) { init_logic(value, !(value->w2 & 1)); }
void odd(cell* value) { init_logic(value, value->w2 & 1); }
} // namespace

i32 compare(cell* a, cell* b, i32 op) {
    u32 bt = type_of(b);
    if ((op == cop::strict_equal || op == cop::find) && bt != type_of(a)) return 1;
    switch (bt) {
    case type_id::integer:
    case type_id::char_: {
        i32 x = int_of(a), y = int_of(b);
        return (x > y) - (x < y);
    }
    case type_id::money:
        if (cores::money_of_integer && cores::money_compare) {
            cell m;
            cores::money_of_integer(&m, int_of(a));
            return cores::money_compare(&m, b, op);
        }
        return -2;
    case type_id::float_:
    case type_id::percent:
    case type_id::time: {
        auto float_compare = act::handler<act::slot::compare>(type_id::float_);
        if (!float_compare) return -2;
        cell f;
        init_float(&f, static_cast<double>(int_of(a)));
        return float_compare(&f, b, op);
    }
    default: return -2;
    }
}

i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    return out::text(buffer, to_decimal_text(int_of(value)), limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}

void register_type() {
    datatype::register_row(action_row{.type = type_id::integer,
                                      .parent = 0,
                                      .name = "integer!",
                                      .make = make,
                                      .random = random,
                                      .to = to,
                                      .form = form,
                                      .mold = mold,
                                      .compare = compare,
                                      .absolute = absolute_entry,
                                      .add = math_entry<cores::op::add>,
                                      .divide = math_entry<cores::op::divide>,
                                      .multiply = math_entry<cores::op::multiply>,
                                      .negate = negate,
                                      .power = power,
                                      .remainder = math_entry<cores::op::remainder>,
                                      .round = round,
                                      .subtract = math_entry<cores::op::subtract>,
                                      .even_q = even,
                                      .odd_q = odd,
                                      .and_t = math_entry<cores::op::and_>,
                                      .complement = complement,
                                      .or_t = math_entry<cores::op::or_>,
                                      .xor_t = math_entry<cores::op::xor_>});
}

} // namespace zel::integer
