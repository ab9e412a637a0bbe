// Math natives: sign and zero tests, max and min, shift, to-hex, trigonometry in degrees, the
// logarithms, exp and square-root. Every float-to-integer step checks its range first: a float
// outside the integer! range has no defined truncation.
#include <cmath>

#include "datatypes/float.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/natives_common.hpp"

namespace zel::natives {

namespace {
using stack::arg;

constexpr double epsilon = 2.220446049250313e-16;
constexpr double pi = 3.141592653589793;
constexpr double e = 2.718281828459045;
constexpr double ln2 = 0.6931471805599453;

// Trigonometric function codes of the degree folding.
constexpr int fold_tangent = 0, fold_cosine = 1, fold_sine = 2;

void logic_result(bool truth) {
    init_logic(arg(0), truth);
    keep_result();
}
void integer_result(i32 n) {
    init_integer(arg(0), n);
    keep_result();
}
void float_result(double d) {
    init_float(arg(0), d);
    keep_result();
}

// Whether truncating toward zero lands inside the integer! range.
bool truncates_to_i32(double d) {
    return d > -2147483649.0 && d < 2147483648.0;
}

// A float!, integer! or percent! argument as a double (percent! keeps its fraction).
double number_of(const cell* c) {
    return type_of(c) == type_id::integer ? static_cast<double>(int_of(c)) : float_of(c);
}

bool float_based(u32 t) {
    return t == type_id::float_ || t == type_id::percent || t == type_id::time;
}

i32 money_sign(const cell* m) {
    const u8* digits = reinterpret_cast<const u8*>(&m->w1) + 1;
    for (u32 i = 0; i < money::digit_bytes; i++)
        if (digits[i]) return m->header & money::sign_bit ? -1 : 1;
    return 0;
}

[[noreturn]] void raise_expect_arg(const char* native, const cell* value, const char* argument) {
    cell name = plain_word(symbol::intern_text(native));
    cell type;
    init_datatype(&type, type_of(value));
    cell word = plain_word(symbol::intern_text(argument));
    error::raise(err::E("script", "expect-arg"), &name, &type, &word);
}

// The sign of a number! money! time! argument: -1, 0 or 1 (0 for NaN).
i32 sign_of(const char* native) {
    const cell* v = arg(0);
    u32 t = type_of(v);
    if (t == type_id::integer) return (int_of(v) > 0) - (int_of(v) < 0);
    if (float_based(t)) {
        double d = float_of(v);
        return (d > 0.0) - (d < 0.0);
    }
    if (t == type_id::money) return money_sign(v);
    raise_expect_arg(native, v, "number");
}

void negative_q(const i32*) {
    logic_result(sign_of("negative?") < 0);
}
void positive_q(const i32*) {
    logic_result(sign_of("positive?") > 0);
}
void sign_q(const i32*) {
    integer_result(sign_of("sign?"));
}

void zero_q(const i32*) {
    const cell* v = arg(0);
    bool zero = false;
    switch (type_of(v)) {
    case type_id::char_:
    case type_id::integer:
        zero = v->w2 == 0;
        break;
    case type_id::float_:
    case type_id::percent:
    case type_id::time:
        zero = float_of(v) == 0.0;
        break;
    case type_id::pair:
        zero = v->w2 == 0 && v->w3 == 0;
        break;
    case type_id::tuple: {
        const u8* bytes = tuple::bytes_of(v);
        zero = true;
        for (u32 i = 0; i < tuple::length_of(v); i++) zero = zero && bytes[i] == 0;
        break;
    }
    case type_id::money:
        zero = money_sign(v) == 0;
        break;
    case type_id::point2d:
    case type_id::point3d: {
        float c[3];
        std::memcpy(c, &v->w1, sizeof c);
        zero = c[0] == 0.0f && c[1] == 0.0f && (type_of(v) == type_id::point2d || c[2] == 0.0f);
        break;
    }
    default:
        break;
    }
    logic_result(zero);
}

// An integer! has no float payload: its unused words must not be read as one.
void nan_q(const i32*) {
    const cell* v = arg(0);
    logic_result(type_of(v) != type_id::integer && std::isnan(float_of(v)));
}

// ---- max and min ---------------------------------------------------------------------------

bool is_number(u32 t) {
    return t == type_id::integer || t == type_id::float_ || t == type_id::percent;
}

bool is_nan_float(const cell* c) {
    u32 t = type_of(c);
    return (t == type_id::float_ || t == type_id::percent) && std::isnan(float_of(c));
}

// The generic choice: max takes value2 only when value1 < value2, min takes it unless value1 <
// value2, so for equal values max keeps value1 and min gives value2.
template <typename T> T choose(T a, T b, bool max) {
    bool less = a < b;
    return max ? (less ? b : a) : (less ? a : b);
}

// Component-wise on 32-bit floats; a NaN in the second value wins its component.
bool point_step(cell* a, const cell* b, bool max) {
    u32 axes = type_of(a) == type_id::point3d ? 3 : 2;
    float x[3], y[3];
    std::memcpy(x, &a->w1, sizeof x);
    switch (type_of(b)) {
    case type_id::integer:
    case type_id::float_:
    case type_id::percent:
        y[0] = y[1] = y[2] = static_cast<float>(number_of(b));
        break;
    case type_id::pair:
        if (axes != 2) return false;
        y[0] = static_cast<float>(int_of(b));
        y[1] = static_cast<float>(static_cast<i32>(b->w3));
        break;
    default:
        if (type_of(b) != type_of(a)) return false;
        std::memcpy(y, &b->w1, sizeof y);
        break;
    }
    for (u32 i = 0; i < axes; i++) x[i] = std::isnan(y[i]) ? y[i] : choose(x[i], y[i], max);
    cell r{};
    if (axes == 2)
        point2d::init_cell(&r, x[0], x[1]);
    else
        point3d::init_cell(&r, x[0], x[1], x[2]);
    *a = r;
    return true;
}

// The pair's float companion: a pair that meets a float or a point2D! becomes a point2D!.
bool pair_to_point_step(cell* a, const cell* b, bool max) {
    cell point{};
    point2d::init_cell(&point, static_cast<float>(int_of(a)),
                       static_cast<float>(static_cast<i32>(a->w3)));
    *a = point;
    return point_step(a, b, max);
}

bool pair_step(cell* a, const cell* b, bool max) {
    i32 y1, y2;
    switch (type_of(b)) {
    case type_id::integer:
        y1 = y2 = int_of(b);
        break;
    case type_id::float_: {
        double d = float_of(b);
        if (!truncates_to_i32(d)) return pair_to_point_step(a, b, max);
        y1 = y2 = static_cast<i32>(d);
        break;
    }
    case type_id::pair:
        y1 = int_of(b);
        y2 = static_cast<i32>(b->w3);
        break;
    case type_id::point2d:
        return pair_to_point_step(a, b, max);
    default:
        return false;
    }
    cell r{};
    pair::init_cell(&r, choose(int_of(a), y1, max), choose(static_cast<i32>(a->w3), y2, max));
    *a = r;
    return true;
}

// A number meets every byte clamped to 0..255 (NaN counts as 0).
bool tuple_step(cell* a, const cell* b, bool max) {
    u32 n = tuple::length_of(a);
    u8 x[tuple::max_length], y[tuple::max_length];
    std::memcpy(x, tuple::bytes_of(a), n);
    switch (type_of(b)) {
    case type_id::integer:
    case type_id::float_: {
        double d = number_of(b);
        u8 clamped = d > 0.0 ? (d < 255.0 ? static_cast<u8>(d) : 255) : 0;
        std::memset(y, clamped, n);
        break;
    }
    case type_id::tuple:
        if (tuple::length_of(b) != n) return false;
        std::memcpy(y, tuple::bytes_of(b), n);
        break;
    default:
        return false;
    }
    for (u32 i = 0; i < n; i++) x[i] = choose(x[i], y[i], max);
    cell r{};
    tuple::init_cell(&r, x, n);
    *a = r;
    return true;
}

void max_min(bool max) {
    cell* a = arg(0);
    cell* b = arg(1);
    u32 ta = type_of(a), tb = type_of(b);
    if (is_nan_float(a) && is_number(tb)) return keep_result();
    if (is_nan_float(b) && is_number(ta)) {
        *a = *b;
        return keep_result();
    }
    // The compound value goes first, so that the result takes its type.
    bool compound_b = tb == type_id::pair || tb == type_id::point2d || tb == type_id::point3d ||
                      tb == type_id::tuple;
    if ((ta == type_id::integer || ta == type_id::float_) && compound_b) std::swap(*a, *b);
    bool done = false;
    switch (type_of(a)) {
    case type_id::pair:
        done = pair_step(a, b, max);
        break;
    case type_id::point2d:
    case type_id::point3d:
        done = point_step(a, b, max);
        break;
    case type_id::tuple:
        done = tuple_step(a, b, max);
        break;
    default:
        break;
    }
    if (!done) {
        bool less = actions::compare(a, b, actions::compare_op::lesser);
        if (max ? less : !less) *a = *b;
    }
    keep_result();
}

void max_(const i32*) {
    max_min(true);
}
void min_(const i32*) {
    max_min(false);
}

// ---- bits and hexadecimal ------------------------------------------------------------------

void shift(const i32* refinements) {
    i32 data = int_of(arg(0));
    i32 bits = int_of(arg(1));
    if (bits < 0) bits = 0;
    u32 u = static_cast<u32>(data);
    i32 result;
    if (refinements[0] >= 0)
        result = bits >= 32 ? 0 : static_cast<i32>(u << bits);
    else if (refinements[1] >= 0)
        result = bits >= 32 ? 0 : static_cast<i32>(u >> bits);
    else
        result = bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
    integer_result(result);
}

void to_hex(const i32* refinements) {
    string::hex_text digits = string::int_hex_text(int_of(arg(0)), false);
    std::string_view text = digits.view();
    if (refinements[0] >= 0) {
        const cell* length = arg(static_cast<u32>(refinements[0]));
        i32 n = int_of(length);
        if (n <= 0) error::raise(err::E("script", "invalid-arg"), length);
        if (static_cast<u32>(n) < text.size()) text = text.substr(text.size() - n);
    }
    cell issue = word::issue_from_literal(text);
    *arg(0) = issue;
    keep_result();
}

// ---- trigonometry --------------------------------------------------------------------------

bool radians(const i32* refinements) {
    return refinements[0] >= 0;
}

// Tiny results of sine and cosine are the rounding noise of pi: they become exactly zero.
double snapped(double d) {
    return std::fabs(d) < epsilon ? 0.0 : d;
}

void sine(const i32* refinements) {
    double x = number_of(arg(0));
    if (!radians(refinements)) x = float_::fold_degrees(x, fold_sine);
    float_result(snapped(std::sin(x)));
}

void cosine(const i32* refinements) {
    double x = number_of(arg(0));
    if (!radians(refinements)) x = float_::fold_degrees(x, fold_cosine);
    float_result(snapped(std::cos(x)));
}

void tangent(const i32* refinements) {
    double x = number_of(arg(0));
    if (!radians(refinements)) x = float_::fold_degrees(x, fold_tangent);
    double r;
    if (x == pi / 2)
        r = HUGE_VAL;
    else if (x == pi / -2)
        r = -HUGE_VAL;
    else
        r = std::tan(x);
    float_result(r);
}

double in_degrees(double radians_value, const i32* refinements) {
    return radians(refinements) ? radians_value : radians_value * 180.0 / pi;
}

void arcsine(const i32* refinements) {
    float_result(in_degrees(std::asin(number_of(arg(0))), refinements));
}
void arccosine(const i32* refinements) {
    float_result(in_degrees(std::acos(number_of(arg(0))), refinements));
}
void arctangent(const i32* refinements) {
    float_result(in_degrees(std::atan(number_of(arg(0))), refinements));
}
void arctangent2(const i32* refinements) {
    double y = number_of(arg(0)), x = number_of(arg(1));
    float_result(in_degrees(std::atan2(y, x), refinements));
}

// ---- logarithms and powers: domain errors give NaN or infinity, never a language error ----

void log_2(const i32*) {
    float_result(std::log(number_of(arg(0))) / ln2);
}
void log_10(const i32*) {
    float_result(std::log10(number_of(arg(0))));
}
void log_e(const i32*) {
    float_result(std::log(number_of(arg(0))));
}
// pow(e, x) rather than exp(x): the two differ in the last bit for some x.
void exp_(const i32*) {
    float_result(std::pow(e, number_of(arg(0))));
}
void square_root(const i32*) {
    float_result(std::sqrt(number_of(arg(0))));
}

const families::entry table[] = {
    {"negative?", negative_q},
    {"positive?", positive_q},
    {"sign?", sign_q},
    {"zero?", zero_q},
    {"NaN?", nan_q},
    {"max", max_},
    {"min", min_},
    {"shift", shift},
    {"to-hex", to_hex},
    {"sine", sine},
    {"cosine", cosine},
    {"tangent", tangent},
    {"arcsine", arcsine},
    {"arccosine", arccosine},
    {"arctangent", arctangent},
    {"arctangent2", arctangent2},
    {"log-2", log_2},
    {"log-10", log_10},
    {"log-e", log_e},
    {"exp", exp_},
    {"square-root", square_root},
};
} // namespace

std::span<const families::entry> families::math() {
    return table;
}

} // namespace zel::natives
