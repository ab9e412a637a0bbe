// float!.
#include "datatypes/float.hpp"

#include <bit>
#include <cmath>
#include <cstring>

#include "datatypes/integer.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/random.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/float_text.hpp"
#include "runtime/memory.hpp"

namespace zel::float_ {

namespace cop = actions::compare_op;
constexpr double epsilon = 2.220446049250313e-16;

bool pretty = true;

cell* init_cell(cell* c, double d) { return init_float(c, d); }
void set_result(double d) { init_float(stack::result(), d); }
cell* push_new(double d) { return init_float(stack::reserve_slot(), d); }
void append_to_block(cell* block, double d) { init_float(memory::append_cell_slot(block), d); }

bool is_nan(double d) { return std::isnan(d); }
bool is_special(double d) { return !std::isfinite(d); }

namespace {
i64 ordered64(double d) {
    i64 bits = std::bit_cast<i64>(d);
    return bits < 0 ? INT64_MIN - bits : bits;
}
i32 ordered32(float f) {
    i32 bits = std::bit_cast<i32>(f);
    return bits < 0 ? INT32_MIN - bits : bits;
}
} // namespace

bool near_equal(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < epsilon) return true;
    i64 x = ordered64(a), y = ordered64(b);
    u64 diff = x > y ? u64(x) - u64(y) : u64(y) - u64(x);
    return diff <= 10;
}

bool near_equal32(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::isfinite(a) && std::isfinite(b)) {
        if (a == 0 && b == 0) return true;
        i64 diff = i64(ordered32(a)) - ordered32(b);
        return diff <= 10 && diff >= -10;
    }
    if (std::signbit(a) != std::signbit(b)) return false;
    u32 x = std::bit_cast<u32>(std::fabs(a)), y = std::bit_cast<u32>(std::fabs(b));
    return (x > y ? x - y : y - x) < 0x100000u;
}

namespace {
// "1e+020" -> "1e20", "1.5e-007" -> "1.5e-7".
void shorten_exponent(std::string& s) {
    size_t e = s.find('e');
    if (e == std::string::npos) return;
    std::string mantissa = s.substr(0, e);
    std::string exp = s.substr(e + 1);
    bool negative = false;
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
        negative = exp[0] == '-';
        exp.erase(0, 1);
    }
    size_t nz = exp.find_first_not_of('0');
    exp = nz == std::string::npos ? "0" : exp.substr(nz);
    s = mantissa + "e" + (negative ? "-" : "") + exp;
}

std::string general(double v, int precision) {
    return std::string(float_text::format_general(v, precision).view());
}
} // namespace

std::string text(double value, int code) {
    if (std::isnan(value)) return "1.#NaN";
    if (std::isinf(value)) return value > 0 ? "1.#INF" : "-1.#INF";
    if (pretty && std::fabs(value) < epsilon) {
        if (code == format::percent32 || code == format::percent) return "0%";
        if (code == format::coordinate) return "0";
        return "0.0";
    }
    std::string s;
    switch (code) {
    case format::vector32:
    case format::percent32:
    case format::coordinate: s = general(value, 7); break;
    case format::percent: s = general(value, 13); break;
    case format::time: s = std::string(float_text::format_float(value, 6, false).view()); break;
    default: s = general(value, 16); break;
    }
    if (pretty) {
        size_t e = s.find('e');
        std::string mantissa = s.substr(0, e);
        bool long_text = (mantissa.size() > 16 && (mantissa[0] != '0' || mantissa.size() > 17));
        if (long_text && mantissa.size() >= 2) {
            std::string last = mantissa.substr(mantissa.size() - 2);
            if (last == "01" || last == "99") {
                int precision = (code == format::vector32 || code == format::coordinate ||
                                 code == format::time)
                                    ? 5
                                    : 14;
                s = general(value, precision);
            }
        }
    }
    shorten_exponent(s);
    if (code == format::percent32 || code == format::percent) {
        s += "%";
    } else if (s.find('.') == std::string::npos && code != format::time &&
               code != format::coordinate) {
        size_t e = s.find('e');
        if (e == std::string::npos) s += ".0";
        else s.insert(e, ".0");
    }
    return s;
}

i32 form_to(cell* buffer, double value, int code, i32 limit) {
    return out::text(buffer, text(value, code), limit);
}

namespace {
double as_double(const cell* c) {
    switch (type_of(c)) {
    case type_id::integer:
    case type_id::char_: return static_cast<double>(int_of(c));
    default: return float_of(c);
    }
}
} // namespace

void math(i32 operation) {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    u32 lt = type_of(left), rt = type_of(right);
    if (lt == type_id::float_ && (rt == type_id::float_ || rt == type_id::integer) &&
        operation != cores::op::remainder) {
        // A float and a number: the common sum of a running total, without the dispatch below.
        double x = float_of(left), y = as_double(right), r;
        switch (operation) {
        case cores::op::add: r = x + y; break;
        case cores::op::subtract: r = x - y; break;
        case cores::op::multiply: r = x * y; break;
        case cores::op::divide: r = x / y; break;
        default: cores::raise_invalid_type(rt);
        }
        init_float(left, r);
        return;
    }
    switch (rt) {
    case type_id::tuple:
        if (cores::tuple_math) return cores::tuple_math(operation);
        break;
    case type_id::money:
        if (cores::money_math) return cores::money_math(operation);
        break;
    case type_id::vector:
        if (cores::vector_math) {
            cell result;
            cores::vector_math(operation, right, left, &result);
            *left = result;
            return;
        }
        break;
    case type_id::pair:
    case type_id::point2d:
    case type_id::point3d: {
        if (lt == type_id::time) break;
        if (operation == cores::op::subtract || operation == cores::op::divide)
            cores::raise_not_related(operation == cores::op::subtract ? "subtract" : "divide", rt);
        cores::math_fn core = rt == type_id::pair      ? cores::pair_math
                              : rt == type_id::point2d ? cores::point2d_math
                                                       : cores::point3d_math;
        if (!core) break;
        cell number = *left;
        *left = *right;
        *right = number;
        return core(operation);
    }
    case type_id::char_:
        if (lt == type_id::percent || lt == type_id::time) break;
        [[fallthrough]];
    case type_id::integer:
    case type_id::float_:
    case type_id::percent:
    case type_id::time: {
        double x = as_double(left), y = as_double(right);
        double r = 0;
        switch (operation) {
        case cores::op::add: r = x + y; break;
        case cores::op::subtract: r = x - y; break;
        case cores::op::multiply: r = x * y; break;
        case cores::op::divide: r = x / y; break;
        case cores::op::remainder:
            if (std::isnan(y)) r = y;
            else if (std::isinf(y)) r = std::isfinite(x) ? x : std::nan("");
            else r = std::fmod(x, y);
            break;
        default: cores::raise_invalid_type(rt);
        }
        u32 result_type = type_id::float_;
        if ((lt == type_id::time) != (rt == type_id::time)) result_type = type_id::time;
        else if (lt == type_id::percent) result_type = type_id::percent;
        init_float(left, r);
        cell_ops::write_type(left, result_type);
        return;
    }
    default: break;
    }
    cores::raise_invalid_type(rt);
}

i32 compare(cell* a, cell* b, i32 op) {
    u32 bt = type_of(b);
    if ((op == cop::strict_equal || op == cop::same || op == cop::find) && bt != type_of(a))
        return 1;
    double x = float_of(a), y;
    switch (bt) {
    case type_id::integer: y = static_cast<double>(int_of(b)); break;
    case type_id::float_:
    case type_id::percent:
    case type_id::time: y = float_of(b); break;
    case type_id::money: {
        if (!cores::money_of_float || !cores::money_compare) return -2;
        // Out of the money range the money decides its side (money! compares it so).
        double m = std::fabs(x);
        if ((m > 0 && m < 1e-05) || m >= 1e17) return -cores::money_compare(b, a, op);
        cell money;
        cores::money_of_float(&money, x);
        return cores::money_compare(&money, b, op);
    }
    default: return -2;
    }
    switch (op) {
    case cop::equal:
    case cop::not_equal: return near_equal(x, y) ? 0 : 1;
    case cop::strict_equal: return x == y ? 0 : 1;
    case cop::same: return std::memcmp(&a->w2, &b->w2, 8) == 0 ? 0 : 1;
    default: break;
    }
    if (std::isnan(x) || std::isnan(y)) {
        if (op == cop::lesser || op == cop::lesser_or_equal) return 1;
        if (op == cop::greater || op == cop::greater_or_equal) return -1;
        return 0;
    }
    return (x > y) - (x < y);
}

double fold_degrees(double x, int function) {
    x = std::fmod(x, 360.0);
    if (x > 180 || x < -180) x += x > 0 ? -360 : 360;
    if (x > 90 || x < -90) {
        if (function == 0) x += x > 0 ? -180 : 180;
        else if (function == 2) x = x >= 0 ? 180 - x : -180 - x;
    }
    return x * 3.141592653589793 / 180;
}

namespace {
[[noreturn]] void bad_to(u32 target, cell* value) {
    cell t;
    init_datatype(&t, target);
    error::raise(err::E("script", "bad-to-arg"), &t, value);
}

cell* to(cell* proto, cell* spec, u32 type) {
    u32 target = type == type_id::percent ? type_id::percent : type_id::float_;
    double d = 0;
    switch (type_of(spec)) {
    case type_id::integer:
    case type_id::char_: d = static_cast<double>(int_of(spec)); break;
    case type_id::float_:
    case type_id::percent:
    case type_id::time: d = float_of(spec); break;
    case type_id::money:
        if (!cores::money_as_double) bad_to(target, spec);
        d = cores::money_as_double(spec);
        break;
    case type_id::binary: {
        series_buffer* b = buffer_of(spec->w2);
        u32 len = used_bytes(b);
        u32 head = spec->w1 < len ? spec->w1 : len;
        u32 n = len - head < 8 ? len - head : 8;
        u64 bits = 0;
        for (u32 i = 0; i < n; i++) bits = (bits << 8) | head_ptr(b)[head + i];
        d = std::bit_cast<double>(bits);
        break;
    }
    case type_id::block:
    case type_id::paren:
    case type_id::hash: {
        series_buffer* b = buffer_of(spec->w2);
        u32 len = used_units(b);
        u32 head = spec->w1 < len ? spec->w1 : len;
        if (len - head != 2) bad_to(target, spec);
        cell* m = head_cell(b) + head;
        cell* e = m + 1;
        for (cell* c : {m, e})
            if (type_of(c) != type_id::integer && type_of(c) != type_id::float_) {
                cell t;
                init_datatype(&t, type_id::float_);
                error::raise(err::E("script", "bad-to-arg"), &t, c);
            }
        double exponent = type_of(e) == type_id::integer ? int_of(e) : std::trunc(float_of(e));
        d = as_double(m) * std::pow(10.0, static_cast<double>(static_cast<i32>(exponent)));
        break;
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
        if (len - head == 0 || len - head >= 313) bad_to(target, spec);
        std::string text;
        for (u32 i = head; i < len; i++) {
            u32 cp = 0;
            std::memcpy(&cp, head_ptr(b) + i * unit, unit);
            if (cp == '\'') continue;
            if (cp == ',') cp = '.';
            if (cp > 0x7F) bad_to(target, spec);
            text += static_cast<char>(cp);
        }
        bool percent_sign = target == type_id::percent && !text.empty() && text.back() == '%';
        if (percent_sign) text.pop_back();
        std::size_t left = 0;
        d = float_text::text_to_float(text.data(), text.data() + text.size(), 0, left);
        if (left != 0 || text.empty()) bad_to(target, spec);
        if (percent_sign) d /= 100.0;
        break;
    }
    default: bad_to(target, spec);
    }
    init_float(proto, d);
    cell_ops::write_type(proto, target);
    return proto;
}

void random(cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->w2 ^ value->w3);
        init_unset(value);
        return;
    }
    double u;
    if (secure) {
        double r1 = random::secure_int(), r2 = random::secure_int();
        u = (r1 / 2147483647.0 + r2) / 2147483648.0;
    } else {
        u = random::next_uint32() / 2147483647.0;
    }
    set_float_payload(value, float_of(value) * u);
}

i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    return form_to(buffer, float_of(value), format::float_, limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell*, i32 limit, i32) {
    return out::text(buffer, float_text::format_float(float_of(value), 0, true).view(), limit);
}

template <i32 Op> void math_entry() { math(Op); }

void absolute_entry() {
    cell* v = stack::arg(0);
    set_float_payload(v, std::fabs(float_of(v)));
}
void negate(cell* v) { set_float_payload(v, 0.0 - float_of(v)); }

void power() {
    cell* base = stack::arg(0);
    cell* exponent = stack::arg(1);
    u32 et = type_of(exponent);
    if (et != type_id::integer && et != type_id::float_) actions::raise_not_allowed(exponent, 1);
    double e = et == type_id::integer ? int_of(exponent) : float_of(exponent);
    init_float(base, std::pow(as_double(base), e));
}

i32 truncated32(double d) {
    if (std::isnan(d) || d >= 2147483648.0 || d <= -2147483649.0) return INT32_MIN;
    return static_cast<i32>(d);
}
void even(cell* v) { init_logic(v, !(truncated32(float_of(v)) & 1)); }
void odd(cell* v) { init_logic(v, truncated32(float_of(v)) & 1); }

void round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor_,
           bool ceiling, bool half_ceiling) {
    if (scale && type_of(scale) == type_id::money) cores::raise_not_related("round", type_id::money);
    bool is_percent = type_of(value) == type_id::percent;
    double x = float_of(value);
    double s = is_percent ? 0.01 : 1.0;
    if (scale) {
        s = std::fabs(as_double(scale));
        // A number scale counts percentage points; a percent! scale is a fraction already.
        if (is_percent && type_of(scale) != type_id::percent) s /= 100.0;
    }
    u32 result_type = type_of(value);
    if (scale) result_type = type_of(scale) == type_id::integer ? type_id::integer : type_of(scale);
    // NaN has no multiple to round to: it stays NaN, as an infinity stays itself.
    if (std::isnan(x) || std::ldexp(std::fabs(x), -53) > s) {
        if (result_type == type_id::integer) goto to_integer;
        return;
    }
    {
        int kept_exponent = 0;
        double v;
        if (s >= 1.0) {
            v = x / s;
        } else {
            int e;
            double m = std::frexp(s, &e);
            if (e < -1021) {
                s = m;
                x = std::ldexp(x, -e);
                kept_exponent = e;
            }
            v = x * (1 / s);
        }
        double a = std::fabs(v);
        double h = std::floor(a) + 0.5;
        double r;
        if (down) r = std::copysign(std::floor(a), v);
        else if (floor_) r = std::floor(v);
        else if (ceiling) r = std::ceil(v);
        else if (a > h) r = std::copysign(std::ceil(a), v);
        else if (a < h) r = std::copysign(std::floor(a), v);
        else if (even) r = std::copysign(std::fmod(a, 2) >= 1 ? std::ceil(a) : std::floor(a), v);
        else if (half_down) r = std::copysign(std::floor(a), v);
        else if (half_ceiling) r = std::ceil(v);
        else r = std::copysign(std::ceil(a), v);
        if (s >= 1.0) {
            r = r * s;
            if (!std::isfinite(r)) error::raise(err::E("math", "overflow"));
        } else {
            r = r / (1 / s);
            if (kept_exponent) r = std::ldexp(r, kept_exponent);
        }
        set_float_payload(value, r);
    }
    if (result_type != type_id::integer) {
        cell_ops::write_type(value, result_type);
        return;
    }
to_integer:
    double r = float_of(value);
    if (integer::float_out_of_range(r)) error::raise(err::E("math", "overflow"));
    init_integer(value, static_cast<i32>(r));
}
} // namespace

void register_type() {
    cores::float_math = math;
    datatype::register_row(action_row{.type = type_id::float_,
                                      .parent = 0,
                                      .name = "float!",
                                      .make = to,
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
                                      .odd_q = odd});
}

} // namespace zel::float_
