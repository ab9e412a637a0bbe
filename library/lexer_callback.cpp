// The lexer's callbacks written in the language (`transcode/trace`, `load/trap`): each event
// becomes a call of the function with event, input, type, line and token, in a frame named
// "<lexer-callback>"; moving `input` moves the scan.
#include "library/lexer_callback.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/interp_services.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "lexer/transcode.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace zel::lexer_callback {

namespace {

constexpr u32 lexer_kind_bit = 1; // the lexer's bit of system/state/callbacks/bits

const cell* field(const cell* object, u32 symbol) {
    if (!is(object, type_id::object)) return nullptr;
    return object::field_value(object, symbol);
}

// Whether a trace steps into lexer callbacks (system/state/callbacks/bits).
bool traced_callbacks() {
    cell w = context::global_word(sym::system);
    const cell* system = context::word_value_address(&w);
    const cell* state = system ? field(system, sym::state) : nullptr;
    const cell* callbacks = state ? field(state, sym::callbacks) : nullptr;
    const cell* bits = callbacks ? field(callbacks, sym::bits) : nullptr;
    return bits && is(bits, type_id::integer) && (int_of(bits) & lexer_kind_bit);
}

u32 mask_of(const cell* fn) {
    if (!is(fn, type_id::function)) return lexer::event::all;
    cell body = *function::side_cell(fn, function::side::body);
    if (!is(&body, type_id::block) || body.w1 >= used_units(buffer_of(body.w2)))
        return lexer::event::all;
    cell filter = head_cell(buffer_of(body.w2))[body.w1];
    if (!is(&filter, type_id::block)) return lexer::event::all;
    u32 mask = 0;
    for (u32 i = filter.w1; i < used_units(buffer_of(filter.w2)); i++) {
        cell w = head_cell(buffer_of(filter.w2))[i];
        if (!is(&w, type_id::word)) continue;
        for (u32 bit = 1; bit <= lexer::event::error; bit <<= 1)
            if (symbol::canonical_id(lexer::event_word(bit).w2) == symbol::canonical_id(w.w2))
                mask |= bit;
    }
    return mask;
}

// The argument and local slots of a function called with `given` positional values: the missing
// positional ones are none, each refinement a false flag, each word after one a none.
void push_remaining_slots(const cell* fn, u32 given) {
    cell spec{type_id::block, 0, fn->w2, 0};
    u32 n = used_units(buffer_of(spec.w2));
    u32 positional = 0;
    bool refined = false;
    for (u32 i = 0; i < n; i++) {
        cell c = head_cell(buffer_of(spec.w2))[i];
        u32 t = type_of(&c);
        if (t == type_id::refinement) {
            refined = true;
            init_logic(stack::reserve_slot(), false);
        } else if (t == type_id::word || t == type_id::lit_word || t == type_id::get_word) {
            if (refined)
                init_none(stack::reserve_slot());
            else if (++positional > given)
                init_none(stack::reserve_slot());
        }
    }
}

class function_callback : public lexer::callback {
  public:
    explicit function_callback(const cell& fn) : fn_(fn), mask_(mask_of(&fn)) {}
    u32 event_mask() const override { return mask_; }

    bool on_event(lexer::event_args& a) override {
        // The function stays alive as the /trace argument of the running `transcode`.
        cell fn = fn_;
        cell* base = stack::top;
        cell args[5];
        args[0] = lexer::event_word(a.event);
        if (a.source) {
            args[1] = *a.source;
            args[1].w1 = a.input;
        } else {
            init_none(&args[1]);
        }
        args[2] = a.type;
        init_integer(&args[3], a.line);
        if (a.event == lexer::event::load)
            args[4] = a.value;
        else
            args[4] = cell{type_id::pair, 0, a.token_start, a.token_end};
        struct tracing_guard {
            bool was = trace::on;
            ~tracing_guard() { trace::on = was; }
        } guard;
        if (trace::on && !traced_callbacks()) trace::on = false;

        cell name{type_id::word, 0, sym::lexer_callback, context::unbound};
        bool answer = true;
        if (is(&fn, type_id::function)) {
            stack::push_value(&fn);
            stack::open_function_frame(&name, fn.w1);
            for (const cell& v : args) stack::push_value(&v);
            push_remaining_slots(&fn, 5);
            interp::invoke_function(&fn, 0, &name, lexer_kind_bit);
            if (!interp::pending) {
                answer = is_truthy(stack::arguments);
                cell moved = stack::arguments[1];
                if (a.source && type_of(&moved) == type_of(a.source) && moved.w2 == a.source->w2)
                    a.input = moved.w1;
            }
            stack::close_function_frame_drop();
        } else {
            stack::push_value(&fn);
            for (const cell& v : args) stack::push_value(&v);
            interp::call_with_arguments(&fn, 5, &name);
            if (!interp::pending) answer = is_truthy(stack::top - 1);
        }
        stack::top = base;
        if (interp::pending) throw lexer::scan_abandoned{};
        return answer;
    }

  private:
    cell fn_;
    u32 mask_;
    gc::evacuation_hold hold_; // fn_ lies on the heap while the scan runs language code
};

std::unique_ptr<lexer::callback> make(const cell* value) {
    return std::make_unique<function_callback>(*value);
}

} // namespace

void install() {
    transcode::callback_for_value = make;
}

} // namespace zel::lexer_callback
