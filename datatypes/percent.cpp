// percent!.
#include "datatypes/percent.hpp"

#include <cstdlib>
#include <string>

#include "datatypes/float.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "runtime/memory.hpp"

namespace zel::percent {

cell* init_cell(cell* slot, double fraction) {
    *slot = {type_id::percent, 0, 0, 0};
    set_float_payload(slot, fraction);
    return slot;
}

cell* init_cell_halves(cell* slot, u32 low, u32 high) {
    *slot = {type_id::percent, 0, low, high};
    return slot;
}

void append_to_block(cell* block, double fraction) {
    init_cell(memory::append_cell_slot(block), fraction);
}

void append_to_block_halves(cell* block, u32 low, u32 high) {
    init_cell_halves(memory::append_cell_slot(block), low, high);
}

namespace {
// "1.5e-7%" as "0.00000015%": the literal syntax takes no exponent before the "%", so an
// exponent form would not read back. Absurdly long expansions keep the exponent.
std::string positional(const std::string& text) {
    std::size_t e = text.find('e');
    if (e == std::string::npos || text.find('#') != std::string::npos) return text;
    std::string mantissa = text.substr(0, e);
    int exponent = std::atoi(text.c_str() + e + 1);
    if (exponent > 300 || exponent < -300) return text;
    std::string sign;
    if (!mantissa.empty() && mantissa[0] == '-') {
        sign = "-";
        mantissa.erase(0, 1);
    }
    std::size_t dot = mantissa.find('.');
    int point = static_cast<int>(dot == std::string::npos ? mantissa.size() : dot) + exponent;
    if (dot != std::string::npos) mantissa.erase(dot, 1);
    int n = static_cast<int>(mantissa.size());
    if (point <= 0)
        return sign + "0." + std::string(static_cast<std::size_t>(-point), '0') + mantissa;
    if (point >= n) return sign + mantissa + std::string(static_cast<std::size_t>(point - n), '0');
    return sign + mantissa.substr(0, static_cast<std::size_t>(point)) + "." +
           mantissa.substr(static_cast<std::size_t>(point));
}

i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    std::string text = float_::text(float_of(value) * 100.0, float_::format::percent);
    if (text.size() > 1 && text.back() == '%' && text.find('e') != std::string::npos) {
        text.pop_back();
        text = positional(text) + "%";
    }
    return out::text(buffer, text, limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}
} // namespace

void register_type() {
    action_row row = action_row::inheriting(type_id::percent, type_id::float_, "percent!");
    row.form = form;
    row.mold = mold;
    datatype::register_row(row);
}

} // namespace zel::percent
