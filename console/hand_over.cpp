// The hand-over to the console. The start entry's frame is the outermost one the language sees:
// an error that reaches it was caught by nothing, and is reported here; an interrupt that reaches
// it ends the program once the history is saved, as `quit` saves it.
#include "console/hand_over.hpp"

#include <cstdio>
#include <unistd.h>

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "runtime/console_output.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/process.hpp"

namespace zel::console_start {

namespace {

const cell* global_value(std::string_view name) {
    cell w = context::global_word(symbol::intern_text(name));
    return context::word_value_address(&w);
}

const cell* field_of(const cell* object, std::string_view name) {
    if (!object || !is(object, type_id::object)) return nullptr;
    i32 i = object::find_field(object, symbol::intern_text(name));
    return i < 0 ? nullptr : object::first_value_address(object) + i;
}

const cell* start_entry() {
    const cell* fn = field_of(global_value("cli-console-ctx"), "launch");
    return fn && is(fn, type_id::function) ? fn : nullptr;
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

// What `quit` does before the program ends: when the console is there, `_save-cfg`. Whatever
// goes wrong there (a second interrupt too) only ends the saving.
void save_as_quit_does() {
    const cell* console = field_of(global_value("system"), "console");
    const cell* save = global_value("_save-cfg");
    if (!console || !is_truthy(console) || !save || !is(save, type_id::function)) return;
    stack::mark mark = stack::save();
    try {
        cell fn = *save;
        stack::push_value(&fn);
        cell name = context::global_word(symbol::intern_text("_save-cfg"));
        interp::call_with_arguments(stack::top - 1, 0, &name);
    } catch (const unwind&) {
    }
    interp::pending = 0;
    stack::restore(mark);
}

} // namespace

int hand_over() {
    const cell* launch = start_entry();
    if (!launch) return 0;
    stack::mark mark = stack::save();
    u32 cycles = cycle_stack::depth();
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
        if (u.code == throw_code::interrupt) {
            stack::restore(mark);
            if (cycle_stack::depth() > cycles)
                cycle_stack::drop_nodes(cycle_stack::depth() - cycles);
            interp::pending = 0;
            runtime::interrupt_requested = 0;
            // The terminal showed the interrupt where the output stood: the shell's prompt
            // comes on a row of its own.
            if (isatty(STDOUT_FILENO)) std::fputs("\n", stdout);
            save_as_quit_does();
            return runtime::interrupted_exit_code;
        }
        if (u.code != throw_code::error) throw;
        // An error that ends the program because its output failed is a failure like any error
        // of a script (1), not a fault of the console (254).
        return print_uncaught_error() ? 254 : 1;
    }
}

} // namespace zel::console_start
