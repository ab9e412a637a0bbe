// image!: a two-dimensional series of pixels. Word 1 is the head (a linear pixel index, row
// first), word 2 the node of a buffer of 4-byte units holding the width x height pixel words of
// the imaging layer, word 3 the size (width in bits 0-15, height in bits 16-31). A zero-sized
// image still has a buffer, empty, so every series handler can read it.
#pragma once
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/platform/imaging.hpp"

namespace zel::image {

inline u32 width_of(const cell* c) {
    return c->w3 & 0xFFFF;
}
inline u32 height_of(const cell* c) {
    return c->w3 >> 16;
}

// A new image of the pixels in `slot` (the size must be one size_allowed accepts).
cell* init_cell(cell* slot, const imaging::pixels& pixels);
// Decodes bytes of one of the five formats onto the data stack; access/bad-media when they do
// not decode. Bytes without a known signature push none!.
cell* push_decoded(const u8* bytes, std::size_t n);
// Encodes the whole image in a format number (access/bad-media for a zero-sized image or a
// failed encoder) as a new binary! on the data stack.
cell* push_encoded(const cell* image, int format);

void register_type();

} // namespace zel::image
