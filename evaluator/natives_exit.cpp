// Non-local exit natives: break, continue, return, exit and throw start an exit; catch and try
// receive them. An exit is validated before it starts: its receiver must be on the frame stack
// below the native's own frame, and a try/all frame stops the search; without a receiver the
// exit is the error of the `throw` category. Errors travel as C++ exceptions, which only try
// (and the outer guards) catch.
#include "datatypes/basic.hpp"
#include "datatypes/error.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/interp_services.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/natives_common.hpp"
#include "evaluator/trace.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/memory.hpp"

namespace zel::natives {

namespace {
using stack::arg;

// How a catch frame answers a named throw.
enum class match { no, yes, bad_names };

// The names a catch frame takes: its /name argument, or unset! for a catch that takes every
// throw. The catch native keeps it in its second argument cell, just below the frame.
const cell* catch_names(const call_frame* f) {
    return arena::at<cell>(f->saved_arguments) + 1;
}

match catch_takes(const cell* names, const cell* thrown_name) {
    u32 nt = type_of(names);
    if (nt != type_id::word && nt != type_id::block) return match::yes;
    if (type_of(thrown_name) != type_id::word) return match::no;
    u32 wanted = symbol::canonical_id(thrown_name->w2);
    if (nt == type_id::word)
        return symbol::canonical_id(names->w2) == wanted ? match::yes : match::no;
    u32 n = used_units(buffer_of(names->w2));
    for (u32 i = names->w1; i < n; i++)
        if (type_of(head_cell(buffer_of(names->w2)) + i) != type_id::word) return match::bad_names;
    for (u32 i = names->w1; i < n; i++)
        if (symbol::canonical_id(head_cell(buffer_of(names->w2))[i].w2) == wanted)
            return match::yes;
    return match::no;
}

// Walks the frames below the native's own one; answers true when `is_receiver` accepts one
// before a try/all frame or the bottom.
template <class F> bool receiver_exists(F is_receiver) {
    if (stack::frame_top - stack::frame_bottom < 2) return false;
    for (call_frame* f = stack::frame_top - 2;; f--) {
        u32 kind = frame_kind_of(f);
        if (kind == frame_kind::try_all) return false;
        if (is_receiver(f, kind)) return true;
        if (f == stack::frame_bottom) return false;
    }
}

void start_exit(u32 code, const cell* value) {
    *interp::pending_value() = *value;
    init_unset(interp::pending_name());
    interp::pending = code;
    stack::top = stack::arguments;
    init_unset(stack::reserve_slot());
}

bool loop_receiver() {
    return receiver_exists([](call_frame*, u32 kind) { return kind == frame_kind::loop; });
}

bool function_receiver() {
    return receiver_exists(
        [](call_frame* f, u32) { return (f->header & frame_header::return_target) != 0; });
}

void break_(const i32* refs) {
    if (!loop_receiver()) error::raise(err::E("throw", "break"));
    start_exit(throw_code::break_, refs[0] >= 0 ? arg(static_cast<u32>(refs[0])) : &unset::value);
}

void continue_(const i32*) {
    if (!loop_receiver()) error::raise(err::E("throw", "continue"));
    start_exit(throw_code::continue_, &unset::value);
}

void exit_(const i32*) {
    if (!function_receiver()) error::raise(err::E("throw", "return"));
    start_exit(throw_code::exit_, &unset::value);
}

void return_(const i32*) {
    if (!function_receiver()) error::raise(err::E("throw", "return"));
    cell value = *arg(0);
    start_exit(throw_code::return_, &value);
}

void throw_(const i32* refs) {
    cell value = *arg(0);
    cell name = refs[0] >= 0 ? *arg(static_cast<u32>(refs[0])) : unset::value;
    if (trace::on) trace::send(trace::event::throw_, 0, -1, &value, nullptr);
    bool caught = receiver_exists([&](call_frame* f, u32 kind) {
        return kind == frame_kind::catch_ && catch_takes(catch_names(f), &name) != match::no;
    });
    if (!caught) {
        // The error names the function the throw ran in, not the throw itself.
        stack::throw_origin = stack::frame_depth() - 1;
        error::raise(err::E("throw", "throw"), &value);
    }
    start_exit(throw_code::throw_, &value);
    *interp::pending_name() = name;
}

void catch_(const i32* refs) {
    cell block = *arg(0);
    cell names = refs[0] >= 0 ? *arg(static_cast<u32>(refs[0])) : unset::value;
    stack::top = stack::arguments + 1;
    *stack::reserve_slot() = names;
    cell body = plain_word(sym::body);
    stack::open_catch_frame(&body);
    interp::evaluate_block(&block, true);
    stack::close_frame_pass_result();
    if (interp::pending == throw_code::throw_) {
        match m = catch_takes(arg(1), interp::pending_name());
        if (m == match::bad_names) {
            interp::pending = 0;
            cell name = plain_word(sym::catch_), names = *arg(1);
            error::raise(err::E("script", "invalid-refine-arg"), &name, &names);
        }
        if (m == match::yes) {
            interp::pending = 0;
            *arg(0) = *interp::pending_value();
            if (trace::on) trace::send(trace::event::catch_, 0, -1, arg(0), nullptr);
        }
    }
    keep_result();
}

void try_(const i32* refs) {
    cell block = *arg(0);
    stack::mark mark = stack::save();
    u32 node = interp::code_node, index = interp::code_index;
    u32 depth = cycle_stack::depth();
    try {
        cell body = plain_word(sym::body);
        if (refs[0] >= 0)
            stack::open_try_all_frame(&body);
        else
            stack::open_try_frame(&body);
        interp::evaluate_block(&block, true);
        stack::close_frame_pass_result();
    } catch (const unwind& u) {
        if (u.code != throw_code::error) throw;
        // The calls are listed while their frames are still there.
        if (refs[1] >= 0 && is(error::thrown(), type_id::error))
            error::record_call_stack(error::thrown());
        stack::restore(mark);
        interp::code_node = node;
        interp::code_index = index;
        if (cycle_stack::depth() > depth) cycle_stack::drop_nodes(cycle_stack::depth() - depth);
        interp::pending = 0;
        *arg(0) = *error::thrown();
    }
    keep_result();
}

const families::entry table[] = {
    {"break", break_}, {"continue", continue_}, {"exit", exit_}, {"return", return_},
    {"throw", throw_}, {"catch", catch_},       {"try", try_},
};
} // namespace

std::span<const families::entry> families::exits() {
    return table;
}

} // namespace zel::natives
