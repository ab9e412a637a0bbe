// The hand-over to the console. The start entry's frame is the outermost one the language sees:
// an error that reaches it was caught by nothing, and is reported here.
#include "console/hand_over.hpp"

#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/print_hooks.hpp"

namespace zel::console_start {

namespace {

const cell* start_entry() {
    cell w = context::global_word(symbol::intern_text("cli-console-ctx"));
    const cell* ctx = context::word_value_address(&w);
    if (!ctx || !is(ctx, type_id::object)) return nullptr;
    i32 i = object::find_field(ctx, symbol::intern_text("launch"));
    if (i < 0) return nullptr;
    const cell* fn = object::first_value_address(ctx) + i;
    return is(fn, type_id::function) ? fn : nullptr;
}

void print_uncaught_error() {
    cell* base = stack::top;
    cell* error = stack::push_value(error::thrown());
    if (is(error, type_id::error)) {
        cell buffer{type_id::string, 0, memory::new_byte_series(256), 0};
        cell* out = stack::push_value(&buffer);
        error::form_report(error, out, nullptr, 1 << 20);
        print_hooks::call_value_hooks(out, 1);
    }
    stack::top = base;
}

} // namespace

int hand_over() {
    const cell* launch = start_entry();
    if (!launch) return 0;
    try {
        cell fn = *launch;
        cell* base = stack::push_value(&fn);
        cell name = context::global_word(symbol::intern_text("launch"));
        interp::call_with_arguments(base, 0, &name);
        interp::pending = 0;
        stack::top = base;
        return 0;
    } catch (const unwind& u) {
        if (u.code == throw_code::quit) return u.status;
        if (u.code != throw_code::error) throw;
        print_uncaught_error();
        return 254;
    }
}

} // namespace zel::console_start
