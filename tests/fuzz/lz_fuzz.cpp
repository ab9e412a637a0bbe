// Fuzz harness of the boot payload's LZ decompressor, and of a round trip through its compressor.
#include <cstddef>
#include <cstdint>

#include "lexer/lz.hpp"

using namespace zel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lz::decompress(data, size, std::size_t{1} << 20);
    // The compressor clears 7 MB of tables per call: round trips for one input in eight.
    if (size == 0 || data[size - 1] % 8 != 0) return 0;
    auto packed = lz::compress(data, size);
    if (packed) {
        auto back = lz::decompress(packed->data(), packed->size(), size);
        if (!back || *back != std::vector<uint8_t>(data, data + size)) __builtin_trap();
    }
    return 0;
}
