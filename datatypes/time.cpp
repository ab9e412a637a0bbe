// time!.
#include "datatypes/time.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/scalar_common.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/stack.hpp"
#include "lexer/scan_hook.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::time {

i32 hours_of(double seconds) {
    return scalar::truncate_checked(seconds / 3600);
}

i32 minutes_of(double seconds) {
    return scalar::truncate_checked(std::floor(std::fmod(std::fabs(seconds), 3600) / 60));
}

void field_value(cell* out, double seconds, i32 field) {
    switch (field) {
    case 1: init_integer(out, hours_of(seconds)); break;
    case 2: init_integer(out, minutes_of(seconds)); break;
    // + 0.0: the seconds of a whole negative time read as 0.0, not -0.0.
    default: init_float(out, std::fmod(seconds, 60) + 0.0); break;
    }
}

i32 field_index(const cell* word, const cell* value) {
    if (scalar::is_word_for(word, sym::hour)) return 1;
    if (scalar::is_word_for(word, sym::minute)) return 2;
    if (scalar::is_word_for(word, sym::second)) return 3;
    if (value && type_of(value) == type_id::time)
        error::raise(err::E("script", "cannot-use"), word, value);
    return -1;
}

double set_field(double seconds, i32 field, const cell* value) {
    u32 vt = type_of(value);
    bool accepted = vt == type_id::integer || (field == 3 && vt == type_id::float_);
    if (!accepted) error::raise(err::E("script", "invalid-arg"), value);
    double v = vt == type_id::integer ? int_of(value) : float_of(value);
    bool negative = seconds < 0;
    double t = negative ? -seconds : seconds;
    if (negative && field != 2) v = std::fabs(v);
    switch (field) {
    case 1: t -= (std::floor(t / 3600) - v) * 3600; break;
    case 2: t -= (std::floor(std::fmod(t, 3600) / 60) - v) * 60; break;
    default: t -= std::fmod(t, 60) - v; break;
    }
    return negative ? -t : t;
}

cell* init_cell(cell* slot, double seconds) {
    u32 newline = slot->header & cell_flag::newline;
    init_float(slot, seconds);
    slot->header = newline | type_id::time;
    return slot;
}

cell* push_new(double seconds) {
    cell* c = stack::reserve_slot();
    c->header = 0;
    return init_cell(c, seconds);
}

void append_to_block(cell* block, double seconds) {
    cell* c = memory::append_cell_slot(block);
    c->header = 0;
    init_cell(c, seconds);
}

namespace {
// The seconds field of a non-negative time as the text writes it.
std::string seconds_text(double t) {
    double s = std::fmod(t, 60);
    if (s < 0.000001) return "00";
    std::string text = float_::text(s, float_::format::time);
    if (text.size() == 1 || text[1] == '.') return '0' + text;
    return text;
}

bool rounds_to_minute(const std::string& seconds) {
    return std::strtod(seconds.c_str(), nullptr) >= 60.0;
}
} // namespace

double shown_seconds(double seconds) {
    if (!std::isfinite(seconds)) return seconds;
    double t = std::fabs(seconds);
    if (!rounds_to_minute(seconds_text(t))) return seconds;
    double up = t - std::fmod(t, 60) + 60;
    return seconds < 0 ? -up : up;
}

i32 append_text(double seconds, cell* buffer, i32 limit) {
    if (!std::isfinite(seconds))
        return float_::form_to(buffer, seconds, float_::format::time, limit);
    double t = shown_seconds(seconds);
    if (t < 0) {
        limit = out::text(buffer, "-", limit);
        t = -t;
    }
    char hours[400];
    std::snprintf(hours, sizeof hours, "%.0f", std::floor(t / 3600));
    limit = out::text(buffer, hours, limit);
    int minutes = static_cast<int>(std::floor(std::fmod(t, 3600) / 60));
    char text[8];
    std::snprintf(text, sizeof text, ":%02d:", minutes);
    limit = out::text(buffer, text, limit);
    return out::text(buffer, seconds_text(t), limit);
}

namespace {
i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    return append_text(float_of(value), buffer, limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}

[[noreturn]] void bad_to(const cell* value) {
    cell t;
    init_datatype(&t, type_id::time);
    error::raise(err::E("script", "bad-to-arg"), &t, value);
}

// [hours minutes seconds]: integers, the seconds may be a float; only the hours may be negative,
// and then the whole time is.
double from_block(const cell* spec) {
    series_buffer* b = buffer_of(spec->w2);
    u32 len = used_units(b);
    u32 head = spec->w1 < len ? spec->w1 : len;
    if (len - head > 3) bad_to(spec);
    const cell* values = head_cell(b) + head;
    const double scale[3] = {3600, 60, 1};
    double total = 0;
    bool negative = false;
    for (u32 i = 0; i < len - head; i++) {
        const cell* v = values + i;
        double x;
        if (type_of(v) == type_id::integer) x = int_of(v);
        else if (i == 2 && type_of(v) == type_id::float_) x = float_of(v);
        else bad_to(spec);
        if (x < 0) {
            if (i != 0) bad_to(spec);
            negative = true;
            x = -x;
        }
        total += x * scale[i];
    }
    return negative ? -total : total;
}

cell* make(cell* proto, cell* spec, u32) {
    u32 st = type_of(spec);
    double t;
    if (st == type_id::time) {
        t = float_of(spec);
    } else if (st == type_id::integer) {
        t = int_of(spec);
    } else if (st == type_id::float_ || st == type_id::percent) {
        t = float_of(spec);
    } else if (st == type_id::block || st == type_id::paren || st == type_id::hash) {
        t = from_block(spec);
    } else if (is_any_string_type(st)) {
        cell scanned;
        if (!scan_hook::value_from_string(spec, &scanned) || type_of(&scanned) != type_id::time)
            bad_to(spec);
        t = float_of(&scanned);
    } else {
        bad_to(spec);
    }
    proto->header = 0;
    return init_cell(proto, t);
}

cell path_value;

i32 path_field(const cell* element, const path_step& step) {
    i32 n = -1;
    if (type_of(element) == type_id::integer) {
        i32 i = int_of(element);
        if (i >= 1 && i <= 3) n = i;
    } else if (type_of(element) == type_id::word) {
        n = field_index(element, nullptr);
    }
    if (n < 0) {
        cell path;
        if (step.path) path = *step.path;
        else init_none(&path);
        error::raise(err::E("script", "invalid-path"), &path, element);
    }
    return n;
}

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    i32 n = path_field(element, step);
    if (!value) {
        field_value(&path_value, float_of(parent), n);
        return &path_value;
    }
    path_value = *value;
    double t = set_field(float_of(parent), n, &path_value);
    init_cell(parent, t);
    scalar::store_back(parent, step);
    return &path_value;
}

cell* pick(cell* value, i32, cell* index) {
    i32 n = -1;
    if (type_of(index) == type_id::integer) {
        i32 i = int_of(index);
        if (i >= 1 && i <= 3) n = i;
    } else if (type_of(index) == type_id::word) {
        n = field_index(index, value);
    }
    if (n < 0) error::raise(err::E("script", "out-of-range"), index);
    field_value(&path_value, float_of(value), n);
    return &path_value;
}

// The float! arithmetic, whose number results become time! again.
void float_math_as_time(i32 operation) {
    cores::float_math(operation);
    cell* result = stack::arg(0);
    u32 rt = type_of(result);
    if (rt == type_id::float_ || rt == type_id::percent || rt == type_id::time)
        cell_ops::write_type(result, type_id::time);
}

void add() {
    if (type_of(stack::arg(1)) == type_id::date && cores::date_math) {
        std::swap(*stack::arg(0), *stack::arg(1));
        return cores::date_math(cores::op::add);
    }
    float_math_as_time(cores::op::add);
}

void subtract() {
    if (type_of(stack::arg(1)) == type_id::date)
        cores::raise_not_related("subtract", type_id::time);
    float_math_as_time(cores::op::subtract);
}

void multiply() {
    if (type_of(stack::arg(1)) == type_id::time)
        cores::raise_not_related("multiply", type_id::time);
    float_math_as_time(cores::op::multiply);
}

void divide() {
    bool by_time = type_of(stack::arg(1)) == type_id::time;
    float_math_as_time(cores::op::divide);
    if (by_time) cell_ops::write_type(stack::arg(0), type_id::float_);
}

void remainder() {
    float_math_as_time(cores::op::remainder);
}

void round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor_,
           bool ceiling, bool half_ceiling) {
    // An integer scale would make the float round answer an integer! (and overflow on long
    // times); the seconds stay a float and the result a time!.
    cell float_scale;
    if (scale && type_of(scale) == type_id::integer) {
        init_float(&float_scale, int_of(scale));
        scale = &float_scale;
    }
    cell_ops::write_type(value, type_id::float_);
    act::handler<act::slot::round>(type_id::float_)(value, scale, even, down, half_down, floor_,
                                                    ceiling, half_ceiling);
    if (type_of(value) == type_id::integer) init_float(value, int_of(value));
    cell_ops::write_type(value, type_id::time);
}

// The whole seconds of the seconds field, nudged away from zero so that 2.9999999 counts as 3.
i32 whole_seconds(const cell* value) {
    double t = float_of(value);
    double s = std::fmod(t >= 0 ? t + 0.000001 : t - 0.000001, 60);
    return scalar::truncate_checked(s);
}
void even(cell* value) {
    init_logic(value, !(whole_seconds(value) & 1));
}
void odd(cell* value) {
    init_logic(value, whole_seconds(value) & 1);
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::time,
                                      .parent = type_id::float_,
                                      .name = "time!",
                                      .make = make,
                                      .random = act::inherit,
                                      .to = make,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = eval_path,
                                      .compare = act::inherit,
                                      .absolute = act::inherit,
                                      .add = add,
                                      .divide = divide,
                                      .multiply = multiply,
                                      .negate = act::inherit,
                                      .remainder = remainder,
                                      .round = round,
                                      .subtract = subtract,
                                      .even_q = even,
                                      .odd_q = odd,
                                      .pick = pick});
}

} // namespace zel::time
