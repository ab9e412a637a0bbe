// Call listings of the frame stack (the `where` and `stack` of errors), and the hook that gives
// every error raised its `near`, `where` and recorded stack.
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/word.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp_services.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel {

u32 stack::throw_origin = 0;

namespace {
bool internal_symbol(u32 symbol) { return symbol == sym::body || symbol == sym::anon || symbol == 0; }

// The word a frame was opened for, bound to its context's slot when it has one.
cell frame_word(const call_frame* f) {
    cell w{type_id::word, f->word_context, frame_symbol(f), context::unbound};
    if (f->word_context) {
        i32 slot = context::find_symbol_index(f->word_context, w.w2, true);
        if (slot >= 0) w.w3 = static_cast<u32>(slot);
    }
    return w;
}

// A call of a function made by the embedded library, which behaves as compiled code.
bool library_frame(const call_frame* f) {
    if (frame_kind_of(f) != frame_kind::function || !f->function_context) return false;
    return context::self_cell(f->function_context)->header & function::flag::library;
}

bool listed(const call_frame* f, i32 level) {
    if (internal_symbol(frame_symbol(f)) || library_frame(f)) return false;
    if (level > 1) return true;
    cell w = frame_word(f);
    if (w.w3 == context::unbound) return false;
    cell* base = context::values_base(w.w1);
    return base && type_of(base + w.w3) == type_id::function;
}

void on_raise(cell* error) {
    if (!is(error, type_id::error) || !error->w1) return;
    cell code = interp::current_code();
    cell* near = error::field_of(error, error::field::near);
    if (near && is_none(near) && !is_none(&code)) *near = code;
    cell where = stack::innermost_call_word();
    error::set_where_once(error, &where);
    stack::record_error_stack(error);
}
} // namespace

cell stack::innermost_call_word() {
    u32 top = frame_depth();
    u32 start = (throw_origin && throw_origin <= top) ? throw_origin : top;
    throw_origin = 0;
    for (u32 i = start; i > 0; i--) {
        const call_frame* f = frame_bottom + (i - 1);
        if (!internal_symbol(frame_symbol(f))) return frame_word(f);
    }
    return cell{type_id::none, 0, 0, 0};
}

void stack::record_error_stack(cell* error) {
    cell* s = error::field_of(error, error::field::stack);
    if (s && !is(s, type_id::block)) init_integer(s, static_cast<i32>(frame_depth()));
}

void stack::list_calls(i32 level, cell* block, u32 end_position) {
    if (end_position > frame_depth()) end_position = frame_depth();
    for (u32 i = 0; i < end_position; i++) {
        const call_frame* f = frame_bottom + i;
        if (listed(f, level)) *memory::append_cell_slot(block) = frame_word(f);
    }
}

i32 stack::calls_to_string(i32 level, u32 stack_record, cell* string, i32 limit) {
    if (stack_record > frame_depth()) stack_record = frame_depth();
    for (u32 i = 0; i < stack_record && limit > 0; i++) {
        const call_frame* f = frame_bottom + i;
        if (!listed(f, level)) continue;
        cell w = frame_word(f);
        limit = actions::form_typed(&w, string, nullptr, limit);
        limit = out::text(string, " ", limit);
    }
    return limit;
}

void interp::invoke_function(cell* function, u32 context, const cell*, u32) {
    invoke_function(static_cast<const cell*>(function), context);
}

namespace interp {
void install_error_hooks() {
    error::builder = [](err::id id, const cell* a1, const cell* a2, const cell* a3) {
        return error::build(id, a1, a2, a3);
    };
    error::on_raise = on_raise;
}
} // namespace interp

} // namespace zel
