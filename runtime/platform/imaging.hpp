// The imaging layer: the first frame of PNG, JPEG, GIF, TIFF or BMP bytes decoded into 32-bit
// pixels, and pixels encoded back into those five formats. A pixel is the word
// alpha << 24 | red << 16 | green << 8 | blue (bytes blue, green, red, alpha in memory), not
// premultiplied, stored alpha 255 opaque; rows run top first with no padding. Every decoder takes
// its input as hostile: damaged or truncated bytes fail as a whole, never as a part-filled image.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "runtime/cell.hpp"

namespace zel::imaging {

// The encoders' format numbers, as the codec registry gives them.
enum format : int { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4 };

// The largest width or height: sizes are kept in 16 bits.
constexpr u32 max_side = 65535;
// The most pixels an image may hold: 4 bytes each must stay well inside the 4 GiB heap.
constexpr u64 max_pixels = u64(1) << 28;

// Whether a width and height may be made (each at most max_side, the count at most max_pixels).
bool size_allowed(u64 width, u64 height);

struct pixels {
    u32 width = 0, height = 0;
    std::vector<u32> words; // width x height words
};

// Whether the bytes begin with the signature of one of the five formats.
bool known_format(const u8* bytes, std::size_t n);

// Decodes the first frame. False when the bytes are not a whole image of a known format, or
// the image is larger than size_allowed permits.
bool decode(const u8* bytes, std::size_t n, pixels& out);

// Encodes width x height pixels in a format; false for an unknown format or a failed encoder.
bool encode(int format, const u32* words, u32 width, u32 height, std::vector<u8>& out);

// The formats of each library, in their own units.
bool decode_png(const u8* bytes, std::size_t n, pixels& out);
bool decode_jpeg(const u8* bytes, std::size_t n, pixels& out);
bool decode_gif(const u8* bytes, std::size_t n, pixels& out);
bool decode_tiff(const u8* bytes, std::size_t n, pixels& out);
bool decode_bmp(const u8* bytes, std::size_t n, pixels& out);
bool encode_png(const u32* words, u32 width, u32 height, std::vector<u8>& out);
bool encode_jpeg(const u32* words, u32 width, u32 height, std::vector<u8>& out);
bool encode_gif(const u32* words, u32 width, u32 height, std::vector<u8>& out);
bool encode_tiff(const u32* words, u32 width, u32 height, std::vector<u8>& out);
bool encode_bmp(const u32* words, u32 width, u32 height, std::vector<u8>& out);

// The colour quantiser of the GIF encoder: a palette of at most `max_colours` RGB words and, for
// each pixel, its palette index. Images with no more distinct colours than that keep them
// exactly; others are reduced by median cut.
void quantise(const u32* words, std::size_t n, u32 max_colours, std::vector<u32>& palette,
              std::vector<u8>& indexes);

} // namespace zel::imaging
