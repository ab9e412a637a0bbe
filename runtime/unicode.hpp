// Unicode encodings (UTF-8, UTF-16LE) and simple case mapping. Text crosses the program's edge
// here. Decoders never read past the end of their input; invalid input either raises
// `invalid-utf8`, or, in lossless mode, keeps every byte it cannot decode as U+DC80-U+DCFF so that
// the lossless encoder gives the original bytes back.
#pragma once
#include <optional>
#include <string>

#include "runtime/cell.hpp"

namespace zel::utf8 {

// One sequence through the strict automaton (no overlong forms, no surrogates, nothing above
// 0x10FFFF). An invalid sequence gives -1 and ends before the byte that made it invalid (a
// rejected lead byte alone); one cut off by `end` gives -1 and ends at `end`.
struct step {
    const u8* next;
    i32 code_point;
};
step next_codepoint(const u8* p, const u8* end);
// Each rejected sequence counts as one.
u32 count_codepoints(const u8* start, const u8* end);
// The address after n code points, or `end` when the range is shorter.
const u8* skip_codepoints(const u8* start, const u8* end, u32 n);

// 4, 3 or 2 by the top bits set in the byte (four, three, two), else 0.
u32 lead_byte_length(u8 byte);
// 1-4; raises script/invalid-char above 0x10FFFF.
u32 encoded_size(u32 code_point);
// UTF-8 byte count of the units of the width in [start, end); raises like `encoded_size`.
u64 measure_units(const u8* start, const u8* end, u32 unit);
// Standard bit layout (surrogates encoded like any other value); answers the bytes written.
u32 encode_codepoint(u32 code_point, u8* dest);
// Writes at most `room` bytes of the sequence (cut when it does not fit).
u32 encode_codepoint_bounded(u32 code_point, u8* dest, u32 room);

// The checked decoder of the lexer and of text read in: overlong forms, 0xDC00-0xDCFF and values
// above 0x10FFFF are refused. `length` holds the bytes left on entry and
// the sequence length on return. Answers the code point, or -1 when the sequence is cut off by
// the end of the input; raises access/invalid-utf8 (with up to 4 bytes from the bad sequence).
i32 decode_sequence_checked(const u8* p, u32& length);

namespace flag {
constexpr u32 crlf = 1;     // decoding: CR LF and a lone CR become LF; encoding: LF as CR LF
constexpr u32 lossless = 2; // OS text: undecodable bytes kept as U+DC80-U+DCFF and back
} // namespace flag

// The text from the head of a string cell (at most `unit_limit` units; -1 for all) as UTF-8.
std::string encode_string(const cell* s, i32 unit_limit = -1, u32 flags = 0);
inline std::string encode_string_lines(const cell* s, i32 unit_limit = -1) {
    return encode_string(s, unit_limit, flag::crlf);
}
// Encodes from the head into caller memory sized with `measure_units`; answers the byte count
// (without the NUL that `nul` adds).
u32 encode_string_into(const cell* s, u8* dest, i32 unit_limit, bool nul);
// As above into `room` bytes (the NUL, when asked for, counts against the room). Only whole code
// points are written. A unit limit of 0 or less means all.
u32 encode_string_bounded(const cell* s, u8* dest, u32 room, i32 unit_limit, bool nul);

// Decodes `length` bytes onto the tail of the target string's buffer, or into a new buffer when
// target is null, keeping 1-byte units up to 0xFF and widening as needed. A byte-order mark
// opening an input longer than 2 bytes is skipped (not in lossless mode). A sequence cut off at the
// end stops decoding and its byte count goes to `remaining` (in lossless mode such bytes are kept
// instead). Answers the buffer's node. Nothing is changed when the input is invalid.
u32 decode_into_buffer(const u8* src, u32 length, const cell* target, u32 flags,
                       u32* remaining = nullptr);
// The cell made a new string! of the decoded text.
void decode_to_new_string(cell* out, const u8* src, u32 length, u32 flags = 0,
                          u32* remaining = nullptr);

} // namespace zel::utf8

namespace zel::utf16 {

// Decodes `count` little-endian units onto the tail of the target string's buffer (or into a new
// buffer), dropping every CR unit when `drop_cr` is set; answers the node. A high surrogate that
// is last or not followed by a low surrogate is invalid input that ends the process.
u32 decode_to_string(const u8* src, u32 count, const cell* target, bool drop_cr);
// Prints the input error and ends the process with code 1.
[[noreturn]] void invalid_input();
// Units written: 1 below 0x10000, 2 up to 0x10FFFF, 0 above.
u32 encode_codepoint(u32 code_point, u16* dest);
// The text from the head (at most `unit_limit` units, -1 for all) as UTF-16 units up to the
// first NUL; with `lf_as_crlf` each LF gets a CR before it. None when a code point lies above
// 0x10FFFF.
std::optional<std::u16string> encode_string(const cell* s, i32 unit_limit, bool lf_as_crlf);
inline std::optional<std::u16string> encode_string_crlf(const cell* s) {
    return encode_string(s, -1, true);
}

} // namespace zel::utf16

namespace zel::case_ {

// Builds the dense upper- and lower-case tables (start-up, after the first frames).
void build_tables();
// The mapped code point, or the code point itself when it has no mapping.
u32 map_codepoint(u32 code_point, bool to_upper);
inline u32 to_upper(u32 cp) {
    return map_codepoint(cp, true);
}
inline u32 to_lower(u32 cp) {
    return map_codepoint(cp, false);
}

// `uppercase`/`lowercase` in place: a char! value, or a string from its head to its tail or to
// the /part limit (an integer! count or a position in the same series; null when absent).
void convert_value(cell* value, bool to_upper, const cell* part);

} // namespace zel::case_
