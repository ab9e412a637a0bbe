// Error raising. The error! value travels in a rooted cell beside the C++ exception, so that a
// catcher finds it whatever the state of the stacks it unwound.
#include "runtime/errors.hpp"

#include "runtime/process.hpp"
#include "runtime/roots.hpp"

namespace zel::error {

namespace {
u32 last = 0;
cell* in_flight = nullptr;

cell default_builder(err::id id, const cell*, const cell*, const cell*) {
    return cell{type_id::error, 0, id.code(), 0};
}
} // namespace

builder_fn builder = default_builder;
void (*on_raise)(cell* error) = nullptr;

u32 last_code() { return last; }

cell* thrown() {
    if (!in_flight) {
        cell none{type_id::none, 0, 0, 0};
        in_flight = roots::append(&none);
    }
    return in_flight;
}

void raise_value(const cell* value, u32 code) {
    last = code;
    *thrown() = *value;
    if (on_raise) on_raise(thrown());
    runtime::record.last_throw_code = throw_code::error;
    throw unwind{throw_code::error};
}

void raise_value_unhooked(const cell* value, u32 code) {
    last = code;
    *thrown() = *value;
    runtime::record.last_throw_code = throw_code::error;
    throw unwind{throw_code::error};
}

void raise(err::id id, const cell* arg1, const cell* arg2, const cell* arg3) {
    cell value = builder(id, arg1, arg2, arg3);
    raise_value(&value, id.code());
}

void raise_with_args(const cell* arg1, const cell* arg2) {
    raise(err::E("script", "bad-make-arg"), arg1, arg2);
}

} // namespace zel::error
