// Writing a changed scalar back along a path.
#include "datatypes/scalar_path.hpp"

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"

namespace zel::scalar_path {

void store_back(const cell* changed, const path_step& step) {
    if (!step.previous) return;
    bool from_word = step.position == 0 || !step.owner || type_of(step.owner) == type_id::none;
    if (from_word) {
        if (!is_any_word_type(type_of(step.previous))) return;
        cell word = *step.previous;
        context::set_word_value(&word, changed);
        return;
    }
    auto handler = act::handler<act::slot::eval_path>(type_of(step.owner));
    if (!handler) return;
    path_step up;
    up.path = step.path;
    up.position = step.position - 1;
    up.case_ = step.case_;
    up.last = true;
    up.owner_check = true;
    cell element = *step.previous;
    cell value = *changed;
    handler(step.owner, &element, &value, up);
}

bool is_word_for(const cell* element, u32 symbol) {
    return type_of(element) == type_id::word &&
           symbol::canonical_id(element->w2) == symbol::canonical_id(symbol);
}

} // namespace zel::scalar_path
