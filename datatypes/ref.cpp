// ref!: mold and the action row.
#include "datatypes/ref.hpp"

#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/url.hpp"

namespace zel::ref {

namespace {
i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    limit = out::text(buffer, "@", limit);
    return url::append_text(buffer, value, part, limit);
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::ref,
                                      .parent = type_id::string,
                                      .name = "ref!",
                                      .make = act::inherit,
                                      .reflect = act::inherit,
                                      .to = act::inherit,
                                      .form = act::inherit,
                                      .mold = mold,
                                      .compare = act::inherit,
                                      .append = act::inherit,
                                      .at = act::inherit,
                                      .back = act::inherit,
                                      .change = act::inherit,
                                      .clear = act::inherit,
                                      .copy = act::inherit,
                                      .find = act::inherit,
                                      .head = act::inherit,
                                      .head_q = act::inherit,
                                      .index_q = act::inherit,
                                      .insert = act::inherit,
                                      .length_q = act::inherit,
                                      .move = act::inherit,
                                      .next = act::inherit,
                                      .pick = act::inherit,
                                      .poke = act::inherit,
                                      .remove = act::inherit,
                                      .reverse = act::inherit,
                                      .select = act::inherit,
                                      .skip = act::inherit,
                                      .swap = act::inherit,
                                      .tail = act::inherit,
                                      .tail_q = act::inherit,
                                      .take = act::inherit,
                                      .modify = act::inherit});
}

} // namespace zel::ref
