// DEFLATE streams (RFC 1951) and their gzip (RFC 1952) and zlib (RFC 1950) framings, our own
// code. A decoder never reads past its input and never writes past the output it grew itself:
// every input is treated as hostile.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zel::deflate {

// Result codes of every entry point.
enum result : int {
    ok = 0,
    too_small = 1,     // the output passed the limit given
    bad_data = 2,      // bad data, bad frame, a stream cut short or a checksum that disagrees
    stored_beyond = 3, // a stored block longer than the input
    block_type_3 = 4,  // the reserved block type
    far_distance = 5,  // a copy reaching before the start of the output
};

using bytes = std::vector<std::uint8_t>;

// Compressors append to `out`; they cannot fail but on inputs of 4 GiB or more (bad_data).
int compress_raw(const std::uint8_t* src, std::size_t length, bytes& out);
int zlib_compress(const std::uint8_t* src, std::size_t length, bytes& out);
int gzip_compress(const std::uint8_t* src, std::size_t length, bytes& out);

// Decompressors append to `out`. `hint` is the expected size (a reservation only). More than
// `limit` bytes of output gives too_small. A raw stream must end with its final block.
int decompress_raw(const std::uint8_t* src, std::size_t length, bytes& out, std::size_t hint,
                   std::size_t limit);
int zlib_decompress(const std::uint8_t* src, std::size_t length, bytes& out, std::size_t hint,
                    std::size_t limit);
// The gzip size trailer is a hint bounded by what the input could expand to; the output must
// match it exactly (modulo 2^32) and match the CRC-32.
int gzip_decompress(const std::uint8_t* src, std::size_t length, bytes& out, std::size_t limit);

} // namespace zel::deflate
