// String buffers and the shared text operations of every text type (string!, file!, url!, tag!,
// email!, ref!). A string cell holds the head index in units (word 1), the buffer's node (word 2)
// and a cache word (word 3, 0 for a new string). Operations that may widen or grow a buffer
// answer the buffer to continue with: any address taken before them is stale.
#pragma once
#include <string_view>

#include "datatypes/text_units.hpp"

namespace zel::string {

// Reading and positions.
inline u32 read_unit(const u8* p, u32 unit) {
    return text_units::read(p, unit);
}
inline series_buffer* buffer_of_cell(const cell* s) {
    return buffer_of(s->w2);
}
// Units from the head to the tail; a negative head counts as 0, a head past the tail is first
// moved to the tail (the cell is rewritten) and 0 answered.
u32 units_from_head(cell* s);
u32 units_from_start(const cell* s);
// Address of the head; a head past the tail is first moved to the tail (a negative head reads as
// the first unit).
u8* head_address(cell* s);
u8* tail_address(const cell* s);
bool head_at_tail(const cell* s);
// The code point at a unit index counted from the buffer's first used unit.
u32 char_at_index(const cell* s, u32 index);
// Units from the head to the first unit equal to the code point, or -1.
i32 find_codepoint(cell* s, u32 code_point);
// Whether the code point is at the head or at every step-th unit after it; letter case is folded
// unless `case_sensitive`.
bool contains_codepoint(cell* s, u32 code_point, u32 step, bool case_sensitive);
// Whether the text from the head starts with the bytes of `text`, unit for byte.
bool head_matches_text(cell* s, std::string_view text);
// Whether the code point at the head is in the bitset (its complement flag beyond its bits).
bool head_char_in_bitset(cell* s, const cell* bitset);
// Whether the text at the head reads "<", the tag's text length of anything, then ">".
bool angle_enclosed(cell* s, const cell* tag);
// The parse dialect's match of a value at the string's position under a comparison op.
bool equals_value(cell* s, const cell* value, u32 op);

// Making and emptying. The cells written must not lie in a buffer that can move.
void init_cell_bytes(cell* s, u32 n);
void init_cell_unit(cell* s, u32 n, u32 unit);
cell* push_copy(const cell* s);
void clear_to_narrow(cell* s);
void truncate_units(series_buffer* b, u32 n);

// Writing one code point. Appending widens a 1-byte buffer above 0x7F; writing or inserting at
// a position keeps 1-byte units up to 0xFF.
series_buffer* append_codepoint(series_buffer* b, u32 code_point);
series_buffer* store_codepoint(series_buffer* b, u8* address, u32 code_point);
series_buffer* write_char_at(series_buffer* b, u32 index, u32 code_point);
series_buffer* insert_char_at(series_buffer* b, u32 index, u32 code_point);
void remove_char_at(cell* s, u32 index);
void remove_units_at(cell* s, u32 index, u32 n);

// Appending texts. `part` < 0 means the whole text from the source's head. With
// `per_codepoint` a narrower source is converted unit by unit; without it the source's own
// buffer is widened to the target's unit first (its text is unchanged).
series_buffer* concat(cell* target, cell* source, i32 part, bool per_codepoint);
series_buffer* append_text_part(cell* target, cell* source, i32 part, bool per_codepoint);
series_buffer* append_c_text(cell* s, std::string_view text);
series_buffer* append_bytes(cell* s, const u8* bytes, u32 n);
// Moves the source units filling n bytes from its head to the target's head, unit by unit.
void move_units(cell* source, cell* target, u32 n_bytes);
// The b bytes at q (just after the a bytes at p) go to p and the a bytes to p + b + g.
void exchange_ranges(u8* p, u32 a, u8* q, u32 b, u32 g);
series_buffer* widen_buffer(series_buffer* b, u32 current_unit, u32 target_unit);
// Copies units of the source (from a byte offset, `byte_count` bytes or all when 0) into a
// target of a wider unit at a byte offset. Without a target the source's node first gets a new
// buffer of `new_size` bytes (at least the old units widened). Unless `keep_tail`, the target's
// tail follows the last unit written and its unit becomes `target_unit`.
series_buffer* copy_widened(series_buffer* source, series_buffer* target, u32 target_unit,
                            u32 source_offset, u32 byte_count, u32 target_offset, bool keep_tail,
                            u32 new_size = 0);

// Decoding an encoded byte buffer: encoding 0 is UTF-8, -1 UTF-16LE (byte_count / 2 units);
// anything else ends the process with code 1. Answers the cell made a string! (a new data-stack
// slot when `out` is null).
constexpr i32 encoding_utf8 = 0;
constexpr i32 encoding_utf16le = -1;
cell* decode_buffer(const u8* bytes, u32 byte_count, cell* out, i32 encoding);
void decode_into_cell(const u8* bytes, u32 byte_count, const cell* block, i32 encoding);
cell* decode_new(const u8* bytes, u32 byte_count, i32 encoding);

// -1, 0 or 1 (1 meaning "different" for the equality ops 0, 1, 2 and 12). Letter case is folded
// except for ops 2 and 8. In match mode only b's units are compared against the start of a.
// `b_units` >= 0 replaces b's length.
i32 compare_texts(cell* a, cell* b, u32 op, bool match, i32 b_units = -1);

// Hexadecimal texts, upper-case digits, answered by value.
struct hex_text {
    char chars[8];
    u32 length;
    std::string_view view() const { return {chars + 8 - length, length}; }
};
hex_text byte_hex_text(u8 byte);
// Eight digits (two's complement for a negative value); with `trim` a non-negative value gives
// only its significant digits and 0 gives "00".
hex_text int_hex_text(i32 value, bool trim);

} // namespace zel::string
