// tuple!.
#include "datatypes/tuple.hpp"

#include <cstring>

#include "datatypes/integer.hpp"
#include "datatypes/random_values.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"

namespace zel::tuple {

cell* init_cell(cell* slot, const u8* bytes, u32 n) {
    if (n > max_length) n = max_length;
    u32 header = (slot->header & cell_flag::newline) | n << 19 | type_id::tuple;
    *slot = {header, 0, 0, 0};
    std::memcpy(&slot->w1, bytes, n);
    return slot;
}

cell* push_new(u32 n, u32 word1, u32 word2, u32 word3) {
    if (n > max_length) n = max_length;
    u8 bytes[max_length] = {};
    const u32 words[3] = {word1, word2, word3};
    std::memcpy(bytes, words, n);
    cell* c = stack::reserve_slot();
    c->header = 0;
    return init_cell(c, bytes, n);
}

void append_to_block(cell* block, const u8* bytes, u32 n) {
    cell* c = memory::append_cell_slot(block);
    c->header = 0;
    init_cell(c, bytes, n);
}

namespace {
i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    u32 n = length_of(value);
    if (n > max_length) n = max_length;
    const u8* bytes = bytes_of(value);
    for (u32 i = 0; i < n; i++) {
        if (i) limit = out::text(buffer, ".", limit);
        limit = out::text(buffer, integer::to_decimal_text(bytes[i]), limit);
    }
    return limit;
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::tuple,
                                      .parent = 0,
                                      .name = "tuple!",
                                      .random = random_values::tuple,
                                      .form = form,
                                      .mold = mold});
}

} // namespace zel::tuple
