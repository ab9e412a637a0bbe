// Making routine! values from spec texts and binding them to their words.
#include "library/routine_table.hpp"

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"

namespace zel::routines {

namespace {
u32 routine_count = 0;
}

cell* push_routine(std::string_view spec_text, routine::entry fn) {
    cell spec;
    if (!load_text::spec_from_text(spec_text, &spec)) error::raise(err::E("internal", "not-done"));
    cell* held = stack::push_value(&spec);
    cell* made =
        routine::build_value(held, nullptr, routine::add_entry(fn), ++routine_count, false);
    *held = *made;
    stack::top = held + 1;
    return held;
}

void bind_globals(std::span<const definition> table) {
    for (const definition& d : table) {
        cell* base = stack::top;
        cell* value = push_routine(d.interface, d.fn);
        cell word = context::global_word(symbol::intern_text(d.name));
        context::set_word_value(&word, value);
        stack::top = base;
    }
}

void answer(const cell& value) {
    cell v = value;
    stack::set_single_result(&v);
}
void answer_logic(bool value) {
    cell v;
    answer(*init_logic(&v, value));
}
void answer_integer(i32 value) {
    cell v;
    answer(*init_integer(&v, value));
}
void answer_none() {
    cell v;
    answer(*init_none(&v));
}
void answer_unset() {
    cell v;
    answer(*init_unset(&v));
}

cell running_word() {
    const call_frame* f = stack::current_frame();
    return cell{type_id::word, 0, f ? frame_symbol(f) : 0, context::unbound};
}

void raise_expect_arg(const cell* value, std::string_view argument) {
    cell fn = running_word();
    cell type;
    init_datatype(&type, type_of(value));
    cell name{type_id::word, 0, symbol::intern_text(argument), context::unbound};
    error::raise(err::E("script", "expect-arg"), &fn, &type, &name);
}

} // namespace zel::routines
