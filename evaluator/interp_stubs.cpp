// Stand-ins for the interpreter's services until it is built: each raises `internal`/`not-done`.
#include "evaluator/interp_services.hpp"

#include "runtime/errors.hpp"

namespace zel {

namespace {
[[noreturn]] void not_done() {
    error::raise(err::E("internal", "not-done"));
}
} // namespace

void interp::evaluate_block(cell*, bool) {
    not_done();
}
void interp::invoke_function(cell*, u32, const cell*, u32) {
    not_done();
}
cell stack::innermost_call_word() {
    not_done();
}
void stack::record_error_stack(cell*) {
    not_done();
}
void stack::list_calls(i32, cell*, u32) {
    not_done();
}
i32 stack::calls_to_string(i32, u32, cell*, i32) {
    not_done();
}

} // namespace zel
