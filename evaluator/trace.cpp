// The evaluation trace: the tracer's installation, its event filter and the sending of events.
#include "evaluator/trace.hpp"

#include "datatypes/function.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/roots.hpp"

namespace zel::trace {

bool active = false;
bool in_tracer = false;
u32 mask = default_mask;
u32 switches = 0;
u32 paren_node = 0;

namespace {
cell* callback = nullptr; // a rooted cell: the tracer, or none
void (*previous_on_raise)(cell*) = nullptr;

struct event_name {
    u32 bit;
    const u32* symbol;
};
const event_name names[] = {
    {event::init, &sym::init},     {event::end, &sym::end},         {event::prolog, &sym::prolog},
    {event::epilog, &sym::epilog}, {event::enter, &sym::enter},     {event::exit, &sym::exit_},
    {event::open, &sym::open},     {event::return_, &sym::return_}, {event::fetch, &sym::fetch},
    {event::push, &sym::push},     {event::set, &sym::set},         {event::call, &sym::call},
    {event::error, &sym::error},   {event::throw_, &sym::throw_},   {event::catch_, &sym::catch_},
    {event::expr, &sym::expr},
};

cell* callback_cell() {
    if (!callback) {
        cell none{type_id::none, 0, 0, 0};
        callback = roots::append(&none);
    }
    return callback;
}

u32 event_symbol(u32 bit) {
    for (const event_name& e : names)
        if (e.bit == bit) return *e.symbol;
    return 0;
}

// The reference travels only with these events.
constexpr u32 with_reference =
    event::set | event::epilog | event::prolog | event::return_ | event::call;

// An error raised while tracing is an event too; the tracer must not disturb the error in flight.
void on_raise(cell* error_value) {
    if (previous_on_raise) previous_on_raise(error_value);
    if (!on || !(mask & event::error)) return;
    cell* saved = stack::push_value(error_value);
    u32 pending = interp::pending;
    interp::pending = 0;
    try {
        send(event::error, 0, -1, saved, nullptr);
    } catch (const unwind& u) {
        if (u.code != throw_code::error) throw;
    }
    interp::pending = pending;
    *error::thrown() = *saved;
    stack::drop_values(1);
}

struct tracer_running {
    tracer_running() {
        on = false;
        in_tracer = true;
    }
    ~tracer_running() {
        on = true;
        in_tracer = false;
    }
};
} // namespace

u32 mask_from_tracer(const cell* tracer) {
    if (type_of(tracer) != type_id::function) return default_mask;
    cell body = *function::side_cell(tracer, function::side::body);
    if (type_of(&body) != type_id::block || body.w1 >= used_units(buffer_of(body.w2)))
        return default_mask;
    cell filter = head_cell(buffer_of(body.w2))[body.w1];
    if (type_of(&filter) != type_id::block) return default_mask;
    u32 bits = 0;
    for (u32 i = filter.w1; i < used_units(buffer_of(filter.w2)); i++) {
        cell w = head_cell(buffer_of(filter.w2))[i];
        if (type_of(&w) != type_id::word) continue;
        u32 canonical = symbol::canonical_id(w.w2);
        for (const event_name& e : names)
            if (symbol::canonical_id(*e.symbol) == canonical) bits |= e.bit;
    }
    return bits;
}

void send(u32 ev, u32 code, i32 position, const cell* value, const cell* reference) {
    if (!(mask & ev) || in_tracer) return;
    // The embedded library runs as compiled code does: its steps are not events.
    if (code && (buffer_of(code)->flags & buffer_flag::library_code)) return;
    cell tracer = *callback_cell();
    if (type_of(&tracer) != type_id::function) return;
    cell v = value ? *value : cell{type_id::none, 0, 0, 0};
    cell r = (reference && (ev & with_reference)) ? *reference : cell{type_id::none, 0, 0, 0};
    i32 arguments_at = static_cast<i32>(stack::arguments - stack::bottom);
    i32 top_at = static_cast<i32>(stack::top - stack::bottom);
    stack::mark mark = stack::save();
    // The value under way stays where it is.
    stack::reserve_slot();
    cell* base = stack::push_value(&tracer);
    *stack::reserve_slot() = cell{type_id::word, 0, event_symbol(ev), 0xFFFFFFFF};
    cell* code_cell = stack::reserve_slot();
    cell* offset = stack::reserve_slot();
    init_integer(offset, -1);
    if (code) {
        *code_cell = cell{code == paren_node ? type_id::paren : type_id::block, 0, code, 0};
        if (position >= 0 && static_cast<u32>(position) <= used_units(buffer_of(code)))
            init_integer(offset, position);
    } else {
        init_none(code_cell);
    }
    stack::push_value(&v);
    stack::push_value(&r);
    *stack::reserve_slot() =
        cell{type_id::pair, 0, static_cast<u32>(arguments_at), static_cast<u32>(top_at)};
    {
        tracer_running running;
        cell name{type_id::word, 0, sym::interp_callback, 0xFFFFFFFF};
        stack::top = base + 7;
        cell fn = *base;
        interp::call_with_arguments(&fn, 6, &name);
    }
    stack::top = mark.top;
    stack::arguments = mark.arguments;
}

namespace {
void remove_tracer() {
    init_none(callback_cell());
    on = active = false;
    in_tracer = false;
    mask = default_mask;
    error::on_raise = previous_on_raise;
    previous_on_raise = nullptr;
}
} // namespace

bool start(const cell* tracer) {
    if (active) return false;
    *callback_cell() = *tracer;
    mask = mask_from_tracer(tracer);
    on = active = true;
    previous_on_raise = error::on_raise;
    error::on_raise = on_raise;
    try {
        send(event::init, 0, -1, nullptr, nullptr);
    } catch (...) {
        remove_tracer();
        throw;
    }
    return true;
}

void stop() {
    cell* saved = stack::push_value(interp::pending_value());
    stack::push_value(interp::pending_name());
    u32 pending = interp::pending;
    interp::pending = 0;
    on = true;
    try {
        send(event::end, 0, -1, nullptr, nullptr);
    } catch (...) {
        remove_tracer();
        throw;
    }
    remove_tracer();
    interp::pending = pending;
    *interp::pending_value() = saved[0];
    *interp::pending_name() = saved[1];
    stack::drop_values(2);
}

void stop_unwinding(u32 code) {
    if (code == throw_code::error) {
        cell* saved = stack::push_value(error::thrown());
        interp::pending = 0;
        on = true;
        try {
            send(event::end, 0, -1, nullptr, nullptr);
        } catch (const unwind& u) {
            if (u.code != throw_code::error) {
                remove_tracer();
                throw;
            }
        }
        *error::thrown() = *saved;
    }
    remove_tracer();
}

} // namespace zel::trace
