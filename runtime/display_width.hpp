// Terminal columns of a code point: 0 for combining marks and other zero-width characters, 2 for
// East Asian wide and full-width characters, 1 for the rest. The range tables are sorted and
// non-overlapping (low, high, low, high, ...).
#pragma once
#include <cstddef>

#include "runtime/arena.hpp"

namespace zel::display_width {

// True when the code point lies inside one of the table's inclusive ranges; `words` counts the
// table's 32-bit words (two per range).
bool in_ranges(u32 code_point, const u32* table, std::size_t words);

// 0, 1 or 2.
int codepoint_columns(u32 code_point);

// The built-in tables, for tests and for callers that need the ranges themselves.
struct table {
    const u32* words;
    std::size_t count; // words, two per range
};
table zero_width_table();
table wide_table();
// The Unicode version the tables follow.
extern const char* const unicode_version;

} // namespace zel::display_width
