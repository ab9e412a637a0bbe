// The hand-over to the console. The start entry's frame is the outermost one the language sees:
// an error that reaches it was caught by nothing, and is reported here.
#include "console/hand_over.hpp"

#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "runtime/console_output.hpp"
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

// The report goes where the program's output goes; when standard output has failed (a closed
// pipe, a full device), to standard error. Answers false in that case.
bool print_uncaught_error() {
    cell* base = stack::top;
    cell* error = stack::push_value(error::thrown());
    bool shown = true;
    if (is(error, type_id::error)) {
        cell buffer{type_id::string, 0, memory::new_byte_series(256), 0};
        cell* out = stack::push_value(&buffer);
        error::form_report(error, out, nullptr, 1 << 20);
        shown = !conout::stdout_failed();
        if (shown) {
            try {
                print_hooks::call_value_hooks(out, 1);
            } catch (const unwind& u) {
                if (u.code != throw_code::error) throw;
                shown = false;
            }
        }
        if (!shown) print_hooks::stderr_printer(out, 1);
    }
    stack::top = base;
    return shown;
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
        // An error that ends the program because its output failed is a failure like any error
        // of a script (1), not a fault of the console (254).
        return print_uncaught_error() ? 254 : 1;
    }
}

} // namespace zel::console_start
