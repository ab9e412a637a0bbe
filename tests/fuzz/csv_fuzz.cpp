// Fuzz harness of the CSV codec: every input is decoded, and whatever it decodes to is encoded
// again. Refusals (error! values) and raised language errors are expected; anything else, and
// every memory fault, is a finding.
#include "library_call.hpp"
#include "runtime/startup.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel::startup::init_runtime();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zel;
    if (size > 4096) return 0;
    stack::mark m = stack::save();
    cell none{type_id::none, 0, 0, 0};
    cell* text = stack::push_value(&none);
    *text = fuzz::input_text(data, size);
    cell* decoded = stack::push_value(&none);
    *decoded = fuzz::call_global("load-csv", text, 1);
    fuzz::call_global("to-csv", decoded, 1);
    stack::restore(m);
    return 0;
}
