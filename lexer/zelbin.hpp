// The serialized-value format: a value tree written once per shared series, context or object
// and referred to by a path of indexes afterwards, so that sharing and cycles survive a round
// trip. The compact form uses variable-length integers, the plain form 32-bit words. Decoding
// checks every size against the bytes that remain before it allocates; a bad record raises
// `zb-invalid-record` with its 1-based byte position.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"

namespace zel::zelbin {

// Serializes one value; pushes the new binary! on the data stack. Raises access/no-codec for a
// value of a type that has no record (routine!, handle!, port!, event!, ...).
cell* push_encoded(const cell* value, bool compact);

// The same bytes, for the build-time payload tool.
std::vector<std::uint8_t> encode_bytes(const cell* value, bool compact);

// Decodes `length` bytes and appends the values to the block `target` (on the data stack).
// A bad magic or compressed data that does not expand raises script/invalid-data with `input`
// as its argument.
void decode(const std::uint8_t* data, std::size_t length, const cell* target, const cell* input);

} // namespace zel::zelbin
