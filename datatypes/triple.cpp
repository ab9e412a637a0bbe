// triple!.
#include "datatypes/triple.hpp"

#include "datatypes/integer.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"

namespace zel::triple {

cell* init_cell(cell* slot, i32 a, i32 b, i32 c) {
    *slot = {type_id::triple, static_cast<u32>(a), static_cast<u32>(b), static_cast<u32>(c)};
    return slot;
}

namespace {
i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    limit = out::text(buffer, "make triple! [", limit);
    const u32 words[3] = {value->w1, value->w2, value->w3};
    for (int i = 0; i < 3; i++) {
        if (i) limit = out::text(buffer, " ", limit);
        limit = out::text(buffer, integer::to_decimal_text(static_cast<i32>(words[i])), limit);
    }
    return out::text(buffer, "]", limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}
} // namespace

void register_type() {
    datatype::register_row(action_row{
        .type = type_id::triple, .parent = 0, .name = "triple!", .form = form, .mold = mold});
}

} // namespace zel::triple
