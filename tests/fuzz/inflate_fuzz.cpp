// Fuzz harness of the DEFLATE decoders: the input is inflated raw, as a zlib stream and as a gzip
// member, each with a small and a large output limit. Every input must come back with a result
// code; a memory fault or a hang is a finding. The first byte also picks a compression round
// trip of the rest, whose bytes must come back.
#include <cstddef>
#include <cstdint>

#include "lexer/deflate.hpp"

using namespace zel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (std::size_t limit : {std::size_t{64}, std::size_t{1} << 24}) {
        deflate::bytes out;
        deflate::decompress_raw(data, size, out, size, limit);
        out.clear();
        deflate::zlib_decompress(data, size, out, size, limit);
        out.clear();
        deflate::gzip_decompress(data, size, out, limit);
    }
    if (size > 0 && data[0] % 4 == 0) {
        deflate::bytes packed, back;
        deflate::compress_raw(data + 1, size - 1, packed);
        if (deflate::decompress_raw(packed.data(), packed.size(), back, 0, 1 << 24) != 0 ||
            back != deflate::bytes(data + 1, data + size))
            __builtin_trap();
    }
    return 0;
}
