// Text codecs of bytes in bases 2, 16, 58 and 64 (enbase, debase and binary literals). Encoders
// write ASCII into caller memory; decoders read code points of 1-, 2- or 4-byte units and never
// raise: they answer a new byte series or the position of the first code point they refused.
#pragma once
#include "runtime/cell.hpp"

namespace zel::binary {

// Each answers the address past the last character written. Room needed: 8, 2 and 2 characters
// per byte, and 4 per started group of 3 bytes.
u8* to_base2_text(u8* out, const u8* bytes, u32 count);
u8* to_base16_text(u8* out, const u8* bytes, u32 count);
u8* to_base58_text(u8* out, const u8* bytes, u32 count);
u8* to_base64_text(u8* out, const u8* bytes, u32 count);
// The characters an encoding of `count` bytes may take (2, 16, 58 or 64; 0 for another base).
u64 text_room(u32 base, u32 count);

// A decoding's outcome: the node of a new byte series (its bytes from head to tail), or 0 with
// `error_at` the index of the code point where decoding failed (`count` when the text ended
// inside a group).
struct decoded {
    u32 node;
    u32 error_at;
};
// Whitespace and ";" comments (to the line end) are skipped. Strict decoding is the literal
// syntax's: an odd number of hexadecimal digits, or base-64 text ending inside a group without
// "=" padding, is refused; otherwise a base-64 group cut short without padding gives its bytes.
decoded from_base2_text(const u8* text, u32 count, u32 unit, bool strict = false);
decoded from_base16_text(const u8* text, u32 count, u32 unit, bool strict = false);
decoded from_base58_text(const u8* text, u32 count, u32 unit);
decoded from_base64_text(const u8* text, u32 count, u32 unit, bool strict = false);
// By base (2, 16, 58 or 64; any other base fails at 0).
decoded from_base_text(u32 base, const u8* text, u32 count, u32 unit, bool strict = false);

} // namespace zel::binary
