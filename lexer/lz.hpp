// The boot payload's LZ codec: chunks of at most 1 MiB, each a bit stream of literals and copies
// of 3 to 566 bytes from up to 256 KiB back. The decompressor is given the length of its input
// and never reads past it, and the size it produces must be the size the header states.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zel::lz {

// The block: packed size P (u32), unpacked size U (u32), then P bytes of chunks. Nothing when
// any size, chunk or copy is out of range, or the chunks do not make exactly U bytes. `max_size`
// bounds U before anything is allocated.
std::optional<std::vector<std::uint8_t>> decompress(const std::uint8_t* block, std::size_t length,
                                                    std::size_t max_size);

// The whole block for `source`; nothing when the source is shorter than 128 bytes or the block
// would not be shorter than it.
std::optional<std::vector<std::uint8_t>> compress(const std::uint8_t* source, std::size_t length);

} // namespace zel::lz
