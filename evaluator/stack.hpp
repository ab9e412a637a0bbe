// The data stack and the frame stack. Arguments, intermediate values and results live on the
// data stack as cells; a call frame on the frame stack records each call in progress. The result
// slot is the cell at the arguments position: natives and actions find their first argument
// there and leave their result there. Invariant: bottom <= arguments <= top < end.
#pragma once
#include "runtime/cell.hpp"

namespace zel {

// A call frame: five 32-bit words.
struct call_frame {
    u32 header;          // bits 8-23 symbol id, 24-27 kind, 28 return target, 31 interpreted
    u32 saved_arguments; // arena offset of the caller's arguments position
    u32 word_context;    // node of the called word's context, 0 when none
    u32 function_context; // node of the called function's context (function frames only)
    u32 saved_values;    // the values pointer that function context held before the call
};
static_assert(sizeof(call_frame) == 20);

namespace frame_kind {
constexpr u32 function = 1, native = 2, try_ = 4, try_all = 5, catch_ = 6, block = 7, loop = 8;
}

namespace frame_header {
constexpr u32 function = 0x01000000;
constexpr u32 interpreted_function = 0x81000000;
constexpr u32 native = 0x02000000;
constexpr u32 interpreted_native = 0x82000000;
constexpr u32 compiled_body = 0x12000000;
constexpr u32 try_ = 0x04000000;
constexpr u32 try_all = 0x05000000;
constexpr u32 catch_ = 0x06000000;
constexpr u32 block = 0x87000000;
constexpr u32 loop = 0x08000000;
constexpr u32 return_target = 0x10000000;
constexpr u32 interpreted = 0x80000000;
} // namespace frame_header

inline u32 frame_kind_of(const call_frame* f) { return (f->header >> 24) & 0xF; }
inline u32 frame_symbol(const call_frame* f) { return (f->header >> 8) & 0xFFFF; }

namespace stack {

constexpr u32 data_cells = 20000;
constexpr u32 frame_cells = 15000; // room for 12,000 frames
constexpr u32 max_frames = frame_cells * sizeof(cell) / sizeof(call_frame);

extern cell* bottom;
extern cell* end;
extern cell* top;
extern cell* arguments;
extern call_frame* frame_bottom;
extern call_frame* frame_top;
extern call_frame* frame_end;
extern u32 body_symbol; // "<body>"
extern u32 anon_symbol; // "<anon>"

// Makes both stacks over two blocks appended to the root block.
void start_up();

[[noreturn]] void overflow();

inline cell* reserve_slot() {
    cell* slot = top++;
    if (top >= end) overflow();
    return slot;
}
inline cell* push_value(const cell* value) {
    *top = *value;
    return reserve_slot();
}
inline void drop_values(u32 n) { top = (top - bottom) > static_cast<long>(n) ? top - n : bottom; }
inline cell* top_value() { return top > bottom ? top - 1 : bottom; }
inline cell* result() { return arguments; }
inline void set_result(const cell* value) { *arguments = *value; }
inline void set_single_result(const cell* value) {
    top = arguments + 1;
    *arguments = *value;
}
inline void clear_to_arguments() { top = arguments; }
inline void keep_result_only() { top = arguments + 1; }
inline cell* arg(u32 i) { return arguments + i; }

// Frames. `word` is the called word (its symbol and context are recorded), or null.
inline void open_frame(const cell* word, u32 header) {
    if (frame_top >= frame_end) overflow();
    call_frame* f = frame_top++;
    u32 symbol = word ? (word->w2 & 0xFFFF) : 0;
    f->header = header | (symbol << 8);
    f->saved_arguments = arena::offset_of(arguments);
    f->word_context = word ? word->w1 : 0;
    f->function_context = 0;
    f->saved_values = 0;
    arguments = top;
}
void open_function_frame(const cell* word, u32 function_context);
inline void open_native_frame(const cell* word) { open_frame(word, frame_header::native); }
inline void open_block_frame(const cell* word) { open_frame(word, frame_header::block); }
inline void open_loop_frame(const cell* word) { open_frame(word, frame_header::loop); }
inline void open_try_frame(const cell* word) { open_frame(word, frame_header::try_); }
inline void open_try_all_frame(const cell* word) { open_frame(word, frame_header::try_all); }
inline void open_catch_frame(const cell* word) { open_frame(word, frame_header::catch_); }

// Pops the innermost frame; the callee's result stays where its values began.
inline void close_frame() {
    call_frame* f = --frame_top;
    cell* callee = arguments;
    arguments = arena::at<cell>(f->saved_arguments);
    top = callee + 1;
}
void close_frame_pass_result();
void close_frame_drop();
void close_function_frame();
void close_function_frame_pass_result();
void close_function_frame_drop();
void pop_one_frame();

inline call_frame* current_frame() { return frame_top > frame_bottom ? frame_top - 1 : nullptr; }
inline u32 frame_depth() { return static_cast<u32>(frame_top - frame_bottom); }

// Restores both stacks to a remembered height (the unwinding guards use it).
struct mark {
    cell* top;
    cell* arguments;
    call_frame* frame_top;
};
inline mark save() { return {top, arguments, frame_top}; }
void restore(const mark& m);

} // namespace stack
} // namespace zel
