// Fuzz harness of the image decoders: every input goes through the decoder its signature names
// (the first byte may swap in one of the five signatures, so every decoder is reached from any
// corpus). A decoded image must have exactly width x height pixels within the size limits, and
// encodes and decodes again in every format. Memory faults and leaks are findings.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/platform/imaging.hpp"

using namespace zel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* signatures[] = {
        "\x89PNG\r\n\x1a\n", "\xFF\xD8\xFF", "BM", "GIF89a", "II*\0", "MM\0*"};
    static const size_t lengths[] = {8, 3, 2, 6, 4, 4};
    if (size == 0) return 0;
    std::vector<u8> bytes(data + 1, data + size);
    u8 choice = data[0];
    if (choice < 6 && bytes.size() >= lengths[choice])
        std::memcpy(bytes.data(), signatures[choice], lengths[choice]);
    imaging::pixels image;
    if (!imaging::decode(bytes.data(), bytes.size(), image)) return 0;
    if (!imaging::size_allowed(image.width, image.height) ||
        image.words.size() != size_t(image.width) * image.height)
        __builtin_trap();
    if (image.words.size() > 4096) return 0; // encoding large images only slows the search
    for (int format = 0; format <= 4; format++) {
        std::vector<u8> encoded;
        imaging::pixels back;
        if (!imaging::encode(format, image.words.data(), image.width, image.height, encoded) ||
            !imaging::decode(encoded.data(), encoded.size(), back) || back.width != image.width ||
            back.height != image.height)
            __builtin_trap();
    }
    return 0;
}
