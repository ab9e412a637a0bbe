// The evaluation trace: while `do/trace` runs, a tracer function is told of every step of the
// evaluation through events. Every send site tests `trace::on` first, so that no event code runs
// when nothing is traced; the tracer itself runs untraced.
#pragma once
#include "evaluator/slow_path.hpp"
#include "runtime/cell.hpp"

namespace zel::trace {

namespace event {
constexpr u32 init = 0x1, end = 0x2, prolog = 0x4, epilog = 0x8, enter = 0x10, exit = 0x20,
              open = 0x40, return_ = 0x80, fetch = 0x100, push = 0x200, set = 0x400, call = 0x800,
              error = 0x1000, throw_ = 0x2000, catch_ = 0x4000, expr = 0x8000;
}
constexpr u32 default_mask = 0x1FFFF;

inline bool& on = interp::slow.trace; // events are sent
extern bool active;    // a traced evaluation is under way (a tracer is installed)
extern bool in_tracer; // the tracer is running
extern u32 mask;
// Counts the switches of `trace <logic>`: a function body that switched tracing for itself puts
// the flag back only when no such switch came meanwhile.
extern u32 switches;
// The paren being evaluated while tracing (0 for none): its events carry it as a paren.
extern u32 paren_node;

// The events a tracer asks for: the words of a block at the head of its body, else every event.
u32 mask_from_tracer(const cell* tracer);

// Sends one event to the tracer. `code` is the node of the code block (0 for none) and
// `position` an index in it (-1 for none); value and reference may be null. An exit that the
// tracer starts stays pending for the evaluation it interrupted.
void send(u32 event, u32 code, i32 position, const cell* value, const cell* reference);

// `do/trace`: installs the tracer and sends `init`, unless a trace is already active (then
// nothing happens and false is answered).
bool start(const cell* tracer);
// Sends `end` and removes the tracer; a pending exit is kept across it.
void stop();
// The same while an unwinding passes: the error in flight is kept and the tracer's own errors
// are ignored.
void stop_unwinding(u32 code);

} // namespace zel::trace
