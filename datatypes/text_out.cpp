// Output helpers of the form and mold handlers.
#include "datatypes/text_out.hpp"

#include <cstring>

#include "runtime/memory.hpp"

namespace zel::out {

i32 text(cell* buffer, std::string_view s, i32 limit) {
    if (!s.empty()) {
        series_buffer* b = buffer_of(buffer->w2);
        std::memcpy(memory::reserve_tail_bytes(b, static_cast<u32>(s.size())), s.data(), s.size());
    }
    return limit - static_cast<i32>(s.size());
}

i32 codepoint(cell* buffer, u32 cp, i32 limit) {
    char c = static_cast<char>(cp);
    return text(buffer, std::string_view(&c, 1), limit);
}

cell* new_string(cell* target, u32 n) {
    *target = cell{type_id::string, 0, memory::new_byte_series(n ? n : 1), 0};
    return target;
}

} // namespace zel::out
