// Data stack and frame stack: set-up, frames and their closing.
#include "evaluator/stack.hpp"

#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/roots.hpp"

namespace zel::stack {

cell* bottom = nullptr;
cell* end = nullptr;
cell* top = nullptr;
cell* arguments = nullptr;
call_frame* frame_bottom = nullptr;
call_frame* frame_top = nullptr;
call_frame* frame_end = nullptr;
u32 body_symbol = 0;
u32 anon_symbol = 0;

void start_up() {
    cell data{type_id::block, 0, memory::new_malloc_series(data_cells, sizeof(cell), 0), 0};
    cell frames{type_id::block, 0, memory::new_malloc_series(frame_cells, sizeof(cell), 0), 0};
    roots::append(&data);
    roots::append(&frames);
    series_buffer* d = buffer_of(data.w2);
    bottom = top = arguments = reinterpret_cast<cell*>(data_start(d));
    end = bottom + data_cells;
    series_buffer* f = buffer_of(frames.w2);
    frame_bottom = frame_top = reinterpret_cast<call_frame*>(data_start(f));
    frame_end = frame_bottom + max_frames;
}

void overflow() {
    top = (top - bottom) > 5 ? top - 5 : bottom;
    cycle_stack::clear();
    error::raise(err::E("internal", "stack-overflow"));
}

void open_function_frame(const cell* word, u32 function_context) {
    open_frame(word, frame_header::function);
    call_frame* f = frame_top - 1;
    f->function_context = function_context;
    // The context's values pointer: word 2 of the context's first cell.
    f->saved_values = function_context ? head_cell(buffer_of(function_context))->w2 : 0;
}

namespace {
void restore_function_context(call_frame* f) {
    if (f->function_context) head_cell(buffer_of(f->function_context))->w2 = f->saved_values;
}

call_frame* pop() {
    call_frame* f = --frame_top;
    cell* callee = arguments;
    arguments = arena::at<cell>(f->saved_arguments);
    top = callee + 1;
    return f;
}
} // namespace

void close_frame_pass_result() {
    cell* callee = arguments;
    pop();
    *arguments = *callee;
    top = callee + 1;
}

// Dropping leaves the stack where the callee's values began: the caller's own values (a buffer
// being molded into, its result slot) lie below that and must survive.
void close_frame_drop() {
    cell* callee = arguments;
    pop();
    top = callee;
}

void close_function_frame() { restore_function_context(pop()); }

void close_function_frame_pass_result() {
    cell* callee = arguments;
    restore_function_context(pop());
    *arguments = *callee;
    top = callee + 1;
}

void close_function_frame_drop() {
    cell* callee = arguments;
    restore_function_context(pop());
    top = callee;
}

void pop_one_frame() {
    call_frame* f = --frame_top;
    if (frame_kind_of(f) == frame_kind::function) restore_function_context(f);
    top = arguments;
    arguments = arena::at<cell>(f->saved_arguments);
    if (frame_top == frame_bottom) arguments = top = bottom;
}

void restore(const mark& m) {
    while (frame_top > m.frame_top) {
        call_frame* f = --frame_top;
        if (frame_kind_of(f) == frame_kind::function) restore_function_context(f);
    }
    top = m.top;
    arguments = m.arguments;
}

} // namespace zel::stack
