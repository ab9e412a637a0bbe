// Output helpers of the form and mold handlers.
#include "datatypes/text_out.hpp"

#include "datatypes/string_buffer.hpp"
#include "runtime/memory.hpp"

namespace zel::out {

i32 text(cell* buffer, std::string_view s, i32 limit) {
    if (!s.empty()) string::append_c_text(buffer, s);
    return limit - static_cast<i32>(s.size());
}

i32 codepoint(cell* buffer, u32 cp, i32 limit) {
    string::append_codepoint(buffer_of(buffer->w2), cp);
    return limit - 1;
}

cell* new_string(cell* target, u32 n) {
    string::init_cell_bytes(target, n);
    return target;
}

} // namespace zel::out
