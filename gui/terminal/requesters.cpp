// The requesters call TUI-helpers' script functions of the same name with the routine's five
// arguments, in order, and answer what the script answers.
#include "gui/terminal/requesters.hpp"

#include <string_view>

#include "datatypes/context.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "library/routine_table.hpp"
#include "runtime/errors.hpp"

namespace zel::requesters {

namespace {

void call_helper(std::string_view name) {
    cell word = context::global_word(symbol::intern_text("TUI-helpers"));
    cell helpers = *context::word_value_address(&word);
    u32 sym = symbol::intern_text(name);
    if (!is(&helpers, type_id::object) || object::find_field(&helpers, sym) < 0)
        return routines::answer_none();
    cell fn = *object::field_value(&helpers, sym);
    cell* base = stack::top;
    stack::push_value(&fn);
    for (u32 i = 0; i < 5; ++i) stack::push_value(stack::arg(i));
    cell label{type_id::word, 0, sym, context::unbound};
    interp::call_with_arguments(base, 5, &label);
    cell answer = *base;
    stack::top = base;
    routines::answer(answer);
}

} // namespace

void request_file() {
    call_helper("request-file");
}

void request_dir() {
    call_helper("request-dir");
}

} // namespace zel::requesters
