// Text and bytes of values for the OS layer.
#include "runtime/platform/formed.hpp"

#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel::platform {

std::string text_of(const cell* value) {
    if (is_any_string_type(type_of(value)))
        return utf8::encode_string(value, -1, utf8::flag::lossless);
    cell* held = stack::push_value(value);
    cell made;
    out::new_string(&made);
    cell* text = stack::push_value(&made);
    actions::form_typed(held, text, nullptr, 0x7FFFFFFF);
    std::string bytes = utf8::encode_string(text, -1, utf8::flag::lossless);
    stack::top = held;
    return bytes;
}

std::string bytes_of(const cell* binary) {
    series_buffer* b = buffer_of(binary->w2);
    u32 used = used_units(b);
    u32 from = binary->w1 < used ? binary->w1 : used;
    return std::string(reinterpret_cast<const char*>(head_ptr(b)) + from, used - from);
}

} // namespace zel::platform
