// time!.
#include "datatypes/time.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "datatypes/float.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zel::time {

i32 hours_of(double seconds) {
    double h = std::trunc(seconds / 3600);
    if (!(h < 2147483648.0 && h >= -2147483648.0)) return h < 0 ? INT32_MIN : INT32_MAX;
    return static_cast<i32>(h);
}

i32 minutes_of(double seconds) {
    return static_cast<i32>(std::floor(std::fmod(std::fabs(seconds), 3600) / 60));
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
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::time,
                                      .parent = type_id::float_,
                                      .name = "time!",
                                      .random = act::inherit,
                                      .form = form,
                                      .mold = mold,
                                      .compare = act::inherit,
                                      .absolute = act::inherit,
                                      .negate = act::inherit,
                                      .remainder = act::inherit});
}

} // namespace zel::time
