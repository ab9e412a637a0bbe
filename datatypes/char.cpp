// char!.
#include "datatypes/char.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "datatypes/integer.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel::char_ {

namespace cop = actions::compare_op;

namespace {

constexpr u32 max_codepoint = 0x10FFFF;

[[noreturn]] void bad_to(cell* spec) {
    cell t;
    init_datatype(&t, type_id::char_);
    error::raise(err::E("script", "bad-to-arg"), &t, spec);
}

[[noreturn]] void overflow() {
    error::raise(err::E("math", "overflow"));
}

u32 checked(i64 value, cell* spec) {
    if (value < 0 || value > max_codepoint) error::raise(err::E("script", "out-of-range"), spec);
    return static_cast<u32>(value);
}

// The UTF-8 sequence at the head of a binary!. The decoder is told how many bytes there really
// are, so a sequence cut off by the end is an error instead of a read past the tail.
u32 decode_head(cell* spec) {
    series_buffer* b = buffer_of(spec->w2);
    u32 length = used_bytes(b);
    i32 h = static_cast<i32>(spec->w1);
    u32 head = h < 0 ? 0 : std::min(static_cast<u32>(h), length);
    if (head >= length) bad_to(spec);
    u8 bytes[4];
    u32 n = std::min<u32>(length - head, 4);
    std::memcpy(bytes, head_ptr(b) + head, n);
    u32 left = n;
    i32 cp = utf8::decode_sequence_checked(bytes, left);
    if (cp < 0) {
        cell* arg = stack::reserve_slot();
        u32 node = memory::new_byte_series(4);
        series_buffer* out = buffer_of(node);
        std::memcpy(head_ptr(out), bytes, n);
        out->tail += n;
        *arg = cell{type_id::binary, 0, node, 0};
        error::raise(err::E("access", "invalid-utf8"), arg);
    }
    return static_cast<u32>(cp);
}

} // namespace

cell* push_new(u32 code_point) {
    return init_char(stack::reserve_slot(), code_point);
}
void append_to_block(cell* block, u32 code_point) {
    init_char(memory::append_cell_slot(block), code_point);
}

cell* make(cell* proto, cell* spec, u32) {
    u32 cp;
    switch (type_of(spec)) {
    case type_id::char_:
    case type_id::integer:
        cp = checked(int_of(spec), spec);
        break;
    case type_id::float_:
    case type_id::percent: {
        double d = std::trunc(float_of(spec));
        if (std::isnan(d) || d < 0 || d > max_codepoint)
            error::raise(err::E("script", "out-of-range"), spec);
        cp = static_cast<u32>(d);
        break;
    }
    case type_id::string:
    case type_id::file:
    case type_id::url:
    case type_id::tag:
    case type_id::email:
    case type_id::ref: {
        cell s = *spec;
        if (string::units_from_head(&s) == 0) bad_to(spec);
        cp = string::read_unit(string::head_address(&s), unit_of(buffer_of(s.w2)));
        break;
    }
    case type_id::binary:
        cp = decode_head(spec);
        break;
    default:
        bad_to(spec);
    }
    return init_char(proto, cp);
}

i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    string::append_codepoint(buffer_of(buffer->w2), value->w2);
    return limit - 1;
}

i32 mold(cell* value, cell* buffer, bool, bool all, bool, cell*, i32 limit, i32) {
    string::append_c_text(buffer, "#\"");
    string::append_escaped_codepoint(buffer, value->w2, all);
    string::append_c_text(buffer, "\"");
    return limit - 4;
}

i32 compare(cell* value, cell* other, i32 op) {
    u32 ot = type_of(other);
    if ((op == cop::strict_equal || op == cop::find) && ot != type_id::char_) return 1;
    if (ot != type_id::char_ && ot != type_id::integer) return -2;
    i64 a = value->w2;
    i64 b = ot == type_id::char_ ? i64(other->w2) : i64(int_of(other));
    return (a > b) - (a < b);
}

void math_op(i32 operation) {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    i32 b;
    switch (type_of(right)) {
    case type_id::char_:
    case type_id::integer:
        b = int_of(right);
        break;
    case type_id::float_: {
        double d = std::trunc(float_of(right));
        if (integer::float_out_of_range(d)) overflow();
        b = static_cast<i32>(d);
        break;
    }
    case type_id::vector:
        if (!cores::vector_math) cores::raise_invalid_type(type_id::vector);
        {
            cell result;
            cores::vector_math(operation, right, left, &result);
            *left = result;
        }
        return;
    default:
        cores::raise_invalid_type(type_of(right));
    }
    i32 a = static_cast<i32>(left->w2);
    i32 r;
    if (operation == cores::op::divide) {
        r = integer::arith_op(a, b, operation, nullptr);
    } else {
        // The marker turns into a float! when the 32-bit result overflows.
        cell marker;
        init_integer(&marker, 0);
        r = integer::arith_op(a, b, operation, &marker);
        if (is(&marker, type_id::float_)) overflow();
    }
    if (r < 0 || static_cast<u32>(r) > max_codepoint) overflow();
    left->w2 = static_cast<u32>(r);
}

namespace {
template <i32 Op> void math_entry() {
    math_op(Op);
}
} // namespace

void register_type() {
    action_row row{};
    row.type = type_id::char_;
    row.parent = type_id::integer;
    row.name = "char!";
    row.make = make;
    row.random = act::inherit;
    row.to = make;
    row.form = form;
    row.mold = mold;
    row.compare = compare;
    row.absolute = act::inherit;
    row.add = math_entry<cores::op::add>;
    row.divide = math_entry<cores::op::divide>;
    row.multiply = math_entry<cores::op::multiply>;
    row.remainder = math_entry<cores::op::remainder>;
    row.subtract = math_entry<cores::op::subtract>;
    row.even_q = act::inherit;
    row.odd_q = act::inherit;
    row.and_t = math_entry<cores::op::and_>;
    row.or_t = math_entry<cores::op::or_>;
    row.xor_t = math_entry<cores::op::xor_>;
    datatype::register_row(row);
}

} // namespace zel::char_
