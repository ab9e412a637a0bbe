// Calling a global function of the library from a fuzz harness: the input as a string, the
// call's language errors expected, anything else (another non-local exit, a memory fault) a
// finding.
#pragma once
#include <cstdint>
#include <string_view>

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/unicode.hpp"

namespace fuzz {

using namespace zel;

// Calls the function bound to `name` with the given arguments (at most 2); answers its result,
// or none when it raised an error.
inline cell call_global(std::string_view name, const cell* args, u32 count) {
    stack::mark m = stack::save();
    cell result{type_id::none, 0, 0, 0};
    try {
        cell word = context::global_word(symbol::intern_text(name));
        cell fn = *context::word_value_address(&word);
        stack::push_value(&fn);
        for (u32 i = 0; i < count; i++) stack::push_value(&args[i]);
        interp::call_with_arguments(&fn, count, &word);
        if (interp::pending) __builtin_trap();
        result = stack::top[-1];
    } catch (const unwind& u) {
        if (u.code != throw_code::error) __builtin_trap();
    }
    stack::restore(m);
    return result;
}

// The input's bytes as a string, undecodable bytes kept.
inline cell input_text(const uint8_t* data, size_t size) {
    cell text;
    utf8::decode_to_new_string(&text, data, static_cast<u32>(size), utf8::flag::lossless);
    return text;
}

} // namespace fuzz
