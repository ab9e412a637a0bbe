// Comparator functions of `sort/compare`, called through the interpreter.
#include "datatypes/sort_comparator.hpp"

#include "datatypes/context.hpp"
#include "datatypes/object.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"

namespace zel::sort_comparator {

namespace {

constexpr u32 sort_kind_bit = 4; // the sort's bit of system/state/callbacks/bits

const cell* field(const cell* object, u32 symbol) {
    if (!object || !is(object, type_id::object)) return nullptr;
    return object::field_value(object, symbol);
}

bool traced_callbacks() {
    cell w = context::global_word(sym::system);
    const cell* bits =
        field(field(field(context::word_value_address(&w), sym::state), sym::callbacks), sym::bits);
    return bits && is(bits, type_id::integer) && (int_of(bits) & sort_kind_bit);
}

// Tracing is off for the call unless the user asked to step into sort callbacks; the data stack
// comes back to its height on every way out.
class call_scope {
  public:
    call_scope() : top_(stack::top), tracing_(trace::on) {
        if (trace::on && !traced_callbacks()) trace::on = false;
    }
    ~call_scope() {
        trace::on = tracing_;
        stack::top = top_;
    }
    call_scope(const call_scope&) = delete;
    call_scope& operator=(const call_scope&) = delete;

  private:
    cell* top_;
    bool tracing_;
};

} // namespace

cell call(const cell* function, const cell* a, const cell* b) {
    cell fn = *function, x = *a, y = *b;
    cell result{type_id::unset, 0, 0, 0};
    {
        call_scope scope;
        stack::push_value(&fn);
        stack::push_value(&x);
        stack::push_value(&y);
        cell name{type_id::word, 0, sym::compare_callback, context::unbound};
        interp::call_with_arguments(&fn, 2, &name);
        if (!interp::pending) result = stack::top[-1];
    }
    if (interp::pending) throw abandoned{};
    return result;
}

} // namespace zel::sort_comparator
