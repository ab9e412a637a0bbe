// email!: mold and the action row.
#include "datatypes/email.hpp"

#include "datatypes/registry.hpp"
#include "datatypes/scalar_common.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_common.hpp"
#include "datatypes/url.hpp"

namespace zel::email {

namespace {
using namespace string_type::detail;

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return url::append_text(buffer, value, part, limit);
}

// `user` and `host` read or replace the text before and after the first "@"; a position reads
// or writes one character as for string!.
cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    static cell answer;
    if (is(element, type_id::integer)) return string_type::eval_path(parent, element, value, step);
    bool user = is(element, type_id::word) && scalar::word_is(element, "user");
    bool host = is(element, type_id::word) && scalar::word_is(element, "host");
    if (!user && !host) {
        cell none_path{type_id::none, 0, 0, 0};
        error::raise(err::E("script", "invalid-path"), step.path ? step.path : &none_path, element);
    }
    stack_scope scope;
    cell* address = stack::push_value(parent);
    std::u32string text = codepoints_of(address);
    std::size_t at = text.find(U'@');
    if (at == std::u32string::npos) {
        // Without an "@" the host is empty; setting it adds the "@" so that the address keeps
        // both parts instead of running the host into the user name.
        if (host && value) {
            append_codepoints(address, U"@");
            text += U'@';
            at = text.size() - 1;
        } else {
            at = text.size();
        }
    }
    u32 from = user ? 0 : static_cast<u32>(std::min(at + 1, text.size()));
    u32 count = user ? static_cast<u32>(at) : static_cast<u32>(text.size() - from);
    if (!value) {
        cell* result = stack::reserve_slot();
        init_series(result, type_id::string, count, 1);
        append_codepoints(result, text.substr(from, count));
        answer = *result;
        return &answer;
    }
    address->w1 += from;
    cell* replacement = stack::push_value(value);
    string_type::change(address, replacement, static_cast<i32>(count), false, 1);
    answer = *value;
    return &answer;
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::email,
                                      .parent = type_id::string,
                                      .name = "email!",
                                      .make = act::inherit,
                                      .reflect = act::inherit,
                                      .to = act::inherit,
                                      .form = act::inherit,
                                      .mold = mold,
                                      .eval_path = eval_path,
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

} // namespace zel::email
