// Error raising. Until the error! datatype and the data stack stand, the raiser records the code
// and unwinds; the outermost frame reports it.
#include "runtime/errors.hpp"

#include "runtime/process.hpp"

namespace zel::error {

namespace {
u32 last = 0;
}

u32 last_code() { return last; }

void raise(err::id id, const cell*, const cell*, const cell*) {
    last = id.code();
    runtime::record.last_throw_code = throw_code::error;
    throw unwind{throw_code::error};
}

void raise_with_args(const cell* arg1, const cell* arg2) {
    raise(err::E("script", "bad-make-arg"), arg1, arg2);
}

} // namespace zel::error
