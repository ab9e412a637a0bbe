// Generic actions: handler lookup, typed stubs and the comparison protocol.
#include "evaluator/actions.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/error.hpp"
#include "evaluator/interp_services.hpp"
#include "runtime/errors.hpp"
#include "runtime/process.hpp"

namespace zel::actions {

void raise_not_allowed(const cell* value, u32 argument) {
    cell name = stack::innermost_call_word();
    cell type;
    init_datatype(&type, type_of(value));
    cell word = error::spec_argument_word(argument);
    if (is_any_word_type(type_of(&word))) word.header = type_id::word;
    error::raise(err::E("script", "expect-arg"), &name, &type, &word);
}

void raise_no_handler(const cell* value, u32) {
    raise_not_allowed(value, 0);
}

i32 form_typed(cell* value, cell* buffer, cell* part, i32 limit) {
    return handler_of_value<act::slot::form>(value)(value, buffer, part, limit);
}

i32 mold_typed(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
               i32 indent) {
    return handler_of_value<act::slot::mold>(value)(value, buffer, only, all, flat, part, limit,
                                                    indent);
}

i32 compare_three_way(cell* a, cell* b, i32 op) {
    u32 ta = type_of(a);
    switch (ta) {
    case type_id::logic:
        if (type_of(b) != type_id::logic) break;
        return a->w1 == b->w1 ? 0 : (a->w1 < b->w1 ? -1 : 1);
    case type_id::native:
    case type_id::action:
    case type_id::op:
        if (type_of(b) != ta) break;
        return a->w3 == b->w3 ? 0 : (a->w3 < b->w3 ? -1 : 1);
    case type_id::function:
    case type_id::routine:
        if (type_of(b) != ta) break;
        return a->w2 == b->w2 ? 0 : (a->w2 < b->w2 ? -1 : 1);
    default: break;
    }
    auto h = act::handler<act::slot::compare>(ta);
    if (!h) return -2;
    return h(a, b, op);
}

bool compare(cell* a, cell* b, i32 op) {
    auto h = act::handler<act::slot::compare>(type_of(a));
    i32 r = h ? h(a, b, op) : -2;
    if (r == -2) {
        switch (op) {
        case compare_op::equal:
        case compare_op::strict_equal:
        case compare_op::same:
        case compare_op::equal_10:
        case compare_op::equal_11:
        case compare_op::find: return false;
        case compare_op::not_equal: return true;
        default: error::raise(err::E("script", "invalid-compare"), a, b);
        }
    }
    switch (op) {
    case compare_op::equal:
    case compare_op::strict_equal:
    case compare_op::same:
    case compare_op::equal_10:
    case compare_op::equal_11:
    case compare_op::find: return r == 0;
    case compare_op::not_equal: return r != 0;
    case compare_op::lesser: return r < 0;
    case compare_op::lesser_or_equal: return r < 1;
    case compare_op::greater: return r >= 1;
    case compare_op::greater_or_equal: return r >= 0;
    default: runtime::fatal_error_exit(101, __builtin_return_address(0));
    }
}

} // namespace zel::actions
