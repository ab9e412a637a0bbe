// Fuzz harness of the serialized-value decoder: the input, after a valid magic, is decoded in the
// form its flags byte names. Language errors are expected; anything else that escapes, every
// memory fault and every hang is a finding. What decodes is encoded again in both forms.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "datatypes/block.hpp"
#include "evaluator/stack.hpp"
#include "lexer/zelbin.hpp"
#include "runtime/errors.hpp"
#include "runtime/startup.hpp"

using namespace zel;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startup::init_runtime();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    std::vector<uint8_t> input(6 + size);
    std::memcpy(input.data(), "ZELBIN", 6);
    if (size) std::memcpy(input.data() + 6, data, size);
    stack::mark m = stack::save();
    try {
        cell* target = block::push_new(4);
        zelbin::decode(input.data(), input.size(), target, target);
        zelbin::encode_bytes(target, true);
        zelbin::encode_bytes(target, false);
    } catch (const unwind& u) {
        if (u.code != throw_code::error) __builtin_trap();
    }
    stack::restore(m);
    return 0;
}
