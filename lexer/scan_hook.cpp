// Scanning one value from a string through the lexer; a syntax error answers false.
#include "lexer/scan_hook.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/string_buffer.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/errors.hpp"

namespace zel::scan_hook {

bool value_from_string(const cell* string, cell* out) {
    stack::mark m = stack::save();
    cell* source = stack::push_value(string);
    cell* result = stack::push_value(&unset::value);
    u32 length = string::units_from_head(source);
    lexer::scan_options o;
    o.one_value = true;
    o.block_result = true;
    u32 consumed = 0;
    try {
        lexer::transcode_string(result, source, -1, o, &consumed);
    } catch (const unwind& u) {
        stack::restore(m);
        if (u.code != throw_code::error) throw;
        return false;
    }
    bool one =
        is(result, type_id::block) && used_units(buffer_of(result->w2)) == 1 && consumed == length;
    if (one) *out = *head_cell(buffer_of(result->w2));
    stack::restore(m);
    return one;
}

} // namespace zel::scan_hook
