// Fuzz harness of the lexer: every input is scanned in each mode (full load, scan, prescan), as
// bytes and as a string, with and without a callback that declines some events and moves the
// input. Syntax errors are expected; anything else that escapes, and every memory fault, is a
// finding.
#include <cstddef>
#include <cstdint>

#include "datatypes/string_buffer.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/errors.hpp"
#include "runtime/startup.hpp"
#include "runtime/unicode.hpp"

using namespace zel;

namespace {

// Answers by the bits of a seed taken from the input; now and then moves the input forward.
struct erratic : lexer::callback {
    uint32_t seed = 0;
    u32 calls = 0;
    bool on_event(lexer::event_args& a) override {
        seed = seed * 1103515245u + 12345u;
        if (++calls > 10000) return false;
        if ((seed >> 16) % 29 == 0) a.input += (seed >> 8) % 3;
        return (seed >> 20) % 7 != 0;
    }
};

void guarded(cell* source, const u8* data, u32 size, lexer::scan_options o, bool as_string) {
    stack::mark m = stack::save();
    try {
        cell result;
        u32 consumed = 0;
        if (as_string)
            lexer::transcode_string(&result, source, -1, o, &consumed);
        else
            lexer::scan_utf8(&result, data, size, o, &consumed);
    } catch (const unwind& u) {
        stack::restore(m);
        if (u.code != throw_code::error) __builtin_trap();
    }
    if (lexer::live_scans() != 0) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startup::init_runtime();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    u32 n = static_cast<u32>(size);
    stack::mark m = stack::save();
    cell text;
    utf8::decode_to_new_string(&text, data, n, utf8::flag::lossless);
    cell* source = stack::push_value(&text);
    erratic cb;
    cb.seed = n ? data[0] * 2654435761u : 1;
    for (int mode = 0; mode < 6; mode++) {
        lexer::scan_options o;
        o.load = mode != 2;
        o.build = mode != 1;
        o.one_value = mode == 3;
        o.cb = mode >= 4 ? &cb : nullptr;
        guarded(source, data, n, o, mode == 5);
    }
    stack::restore(m);
    return 0;
}
