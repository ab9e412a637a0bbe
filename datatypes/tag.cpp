// tag!: form, mold and the action row.
#include "datatypes/tag.hpp"

#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/url.hpp"

namespace zel::tag {

namespace {
i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    limit = out::text(buffer, "<", limit);
    limit = url::append_text(buffer, value, part, limit);
    return out::text(buffer, ">", limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::tag,
                                      .parent = type_id::string,
                                      .name = "tag!",
                                      .make = act::inherit,
                                      .reflect = act::inherit,
                                      .to = act::inherit,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = act::inherit,
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
                                      .put = act::inherit,
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

} // namespace zel::tag
