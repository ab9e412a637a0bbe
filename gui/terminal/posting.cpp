// Events to the engine. The event's fields are copied when it is made, so a script that keeps
// an event reads the same fields after its posting.
#include "gui/terminal/posting.hpp"

#include <string>

#include "datatypes/context.hpp"
#include "datatypes/event.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "gui/terminal/input.hpp"

namespace zel::tui {

namespace {

cell awake_function() {
    cell none{type_id::none, 0, 0, 0};
    cell word = context::global_word(symbol::intern_text("system"));
    cell system = *context::word_value_address(&word);
    if (!is(&system, type_id::object)) return none;
    cell view = *object::field_value(&system, symbol::intern_text("view"));
    if (!is(&view, type_id::object)) return none;
    return *object::field_value(&view, symbol::intern_text("awake"));
}

// The word of a special key, or none.
cell key_word(i32 code) {
    static const char* const names[] = {"up",   "down",   "right",  "left",    "end",
                                        "home", "insert", "delete", "page-up", "page-down"};
    std::string name;
    if (code <= key_code::up && code >= key_code::page_down)
        name = names[key_code::up - code];
    else if (code <= key_code::f1 && code >= key_code::f1 - 11)
        name = "F" + std::to_string(key_code::f1 - code + 1);
    if (name.empty()) return cell{type_id::none, 0, 0, 0};
    return cell{type_id::word, 0, symbol::intern_text(name), context::unbound};
}

} // namespace

bool post_event(u32 type, const cell& face, float x, float y, const cell& key, const cell& picked,
                u32 flags) {
    cell awake = awake_function();
    if (!is(&awake, type_id::function)) return false;
    cell* base = stack::top;
    cell* fn = stack::push_value(&awake);
    event::push_backend(type, face, x, y, key, picked, flags);
    cell name{type_id::word, 0, symbol::intern_text("awake"), context::unbound};
    interp::call_with_arguments(fn, 1, &name);
    cell answer = *base;
    stack::top = base;
    return is(&answer, type_id::word) &&
           symbol::canonical_id(answer.w2) == symbol::canonical_id(symbol::intern_text("done"));
}

bool post_key(const cell& face, i32 code, u32 flags) {
    if (code == 0) return false;
    cell key = flags & event_flag::special ? key_word(code)
                                           : cell{type_id::char_, 0, static_cast<u32>(code), 0};
    cell picked{type_id::integer, 0, static_cast<u32>(code), 0};
    return post_event(event_type::key_down, face, 0, 0, key, picked, flags) ||
           post_event(event_type::key, face, 0, 0, key, picked, flags);
}

} // namespace zel::tui
