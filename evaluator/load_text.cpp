// Loading source text into a block of values through the lexer.
#include "evaluator/load_text.hpp"

#include "lexer/lexer.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::load_text {

bool block_from_text(std::string_view utf8, cell* out) {
    lexer::scan_options options;
    u32 consumed = 0;
    try {
        lexer::scan_utf8(out, reinterpret_cast<const u8*>(utf8.data()),
                         static_cast<u32>(utf8.size()), options, &consumed);
    } catch (const unwind&) {
        return false;
    }
    return type_of(out) == type_id::block;
}

bool spec_from_text(std::string_view utf8, cell* out) {
    cell loaded;
    if (!block_from_text(utf8, &loaded)) return false;
    series_buffer* b = buffer_of(loaded.w2);
    if (used_units(b) != 1 || type_of(head_cell(b)) != type_id::block) return false;
    *out = *head_cell(b);
    return true;
}

} // namespace zel::load_text
