// BMP in our own code (every header size from the 12-byte core one to the 124-byte one; 1, 4, 8,
// 16, 24 and 32 bits a pixel, uncompressed or with bit-field masks), and the GIF encoder's colour
// quantiser. Every offset and length read from a file is checked against the bytes present.
#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

#include "runtime/platform/imaging.hpp"

namespace zel::imaging {

namespace {

u32 le16(const u8* p) {
    return u32(p[0]) | u32(p[1]) << 8;
}
u32 le32(const u8* p) {
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}
void put16(std::vector<u8>& out, u32 v) {
    out.push_back(u8(v));
    out.push_back(u8(v >> 8));
}
void put32(std::vector<u8>& out, u32 v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// One channel read through a bit mask and scaled to 8 bits.
struct channel {
    u32 mask = 0, shift = 0, max = 0;
    explicit channel(u32 m = 0) : mask(m) {
        if (!m) return;
        shift = static_cast<u32>(std::countr_zero(m));
        max = m >> shift;
    }
    u32 of(u32 v, u32 absent) const {
        if (!mask) return absent;
        // A mask with gaps counts as the run it spans: the value is scaled as read.
        u64 x = (v & mask) >> shift;
        return static_cast<u32>(x * 255 / max);
    }
};

constexpr u32 bi_rgb = 0, bi_bitfields = 3, bi_alphabitfields = 6;

} // namespace

bool decode_bmp(const u8* b, std::size_t n, pixels& out) {
    if (n < 26 || b[0] != 'B' || b[1] != 'M') return false;
    u64 data_at = le32(b + 10);
    u32 header = le32(b + 14);
    const u8* h = b + 14;
    if (header < 12 || 14 + u64(header) > n) return false;
    i64 width, height;
    u32 bpp, compression = bi_rgb, used = 0;
    u32 palette_entry = 4;
    if (header == 12) {
        width = le16(h + 4);
        height = le16(h + 6);
        bpp = le16(h + 10);
        palette_entry = 3;
    } else {
        if (header < 40) return false;
        width = static_cast<i32>(le32(h + 4));
        height = static_cast<i32>(le32(h + 8));
        bpp = le16(h + 14);
        compression = le32(h + 16);
        used = le32(h + 32);
    }
    bool top_down = height < 0;
    if (top_down) height = -height;
    if (width <= 0 || height <= 0 || !size_allowed(u64(width), u64(height))) return false;
    u32 rm = 0, gm = 0, bm = 0, am = 0;
    u64 after_header = 14 + u64(header);
    if (compression == bi_bitfields || compression == bi_alphabitfields) {
        if (bpp != 16 && bpp != 32) return false;
        const u8* m = h + 40;
        u64 need = compression == bi_alphabitfields ? 16 : 12;
        if (header == 40) {
            if (after_header + need > n) return false;
            after_header += need;
        } else if (header < 52) {
            return false;
        }
        rm = le32(m);
        gm = le32(m + 4);
        bm = le32(m + 8);
        if (compression == bi_alphabitfields || header >= 56) am = le32(m + 12);
    } else if (compression == bi_rgb) {
        if (bpp == 16)
            rm = 0x7C00, gm = 0x03E0, bm = 0x001F;
        else if (bpp == 24 || bpp == 32)
            rm = 0xFF0000, gm = 0xFF00, bm = 0xFF;
        else if (bpp != 1 && bpp != 4 && bpp != 8)
            return false;
    } else {
        return false; // run-length and embedded JPEG or PNG data are not read
    }
    if (!rm || !gm || !bm) {
        if (bpp > 8) return false;
    }
    std::vector<u32> palette;
    if (bpp <= 8) {
        u64 count = used ? used : (u64(1) << bpp);
        if (count > 256) return false;
        if (after_header + count * palette_entry > n) return false;
        for (u64 i = 0; i < count; i++) {
            const u8* p = b + after_header + i * palette_entry;
            palette.push_back(0xFF000000u | u32(p[2]) << 16 | u32(p[1]) << 8 | p[0]);
        }
    }
    u64 stride = ((u64(width) * bpp + 31) / 32) * 4;
    if (data_at > n || stride * u64(height) > n - data_at) return false;
    channel r(rm), g(gm), bl(bm), a(am);
    out.width = static_cast<u32>(width);
    out.height = static_cast<u32>(height);
    out.words.assign(u64(width) * u64(height), 0);
    for (i64 y = 0; y < height; y++) {
        const u8* row = b + data_at + stride * u64(top_down ? y : height - 1 - y);
        u32* into = out.words.data() + std::size_t(y) * std::size_t(width);
        for (i64 x = 0; x < width; x++) {
            u32 word;
            if (bpp <= 8) {
                u64 bit = u64(x) * bpp;
                u32 index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                if (index >= palette.size()) return false;
                word = palette[index];
            } else {
                u32 v = bpp == 16 ? le16(row + x * 2)
                        : bpp == 24
                            ? u32(row[x * 3]) | u32(row[x * 3 + 1]) << 8 | u32(row[x * 3 + 2]) << 16
                            : le32(row + x * 4);
                word = a.of(v, 255) << 24 | r.of(v, 0) << 16 | g.of(v, 0) << 8 | bl.of(v, 0);
            }
            into[x] = word;
        }
    }
    return true;
}

// 32 bits a pixel with a version 4 header and bit-field masks, so that alpha is kept; rows
// bottom first, as most readers expect.
bool encode_bmp(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    constexpr u32 header = 108;
    u64 data = u64(width) * height * 4;
    u64 total = 14 + header + data;
    if (total > 0xFFFFFFFFu) return false;
    out.reserve(total);
    out.push_back('B');
    out.push_back('M');
    put32(out, static_cast<u32>(total));
    put32(out, 0);
    put32(out, 14 + header);
    put32(out, header);
    put32(out, width);
    put32(out, height);
    put16(out, 1);
    put16(out, 32);
    put32(out, bi_bitfields);
    put32(out, static_cast<u32>(data));
    put32(out, 2835); // 72 dots an inch
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, 0x73524742);              // "sRGB"
    out.resize(out.size() + 36 + 12, 0); // end points and gamma: unused with sRGB
    for (u32 y = height; y-- > 0;) {
        const u32* row = words + std::size_t(y) * width;
        for (u32 x = 0; x < width; x++) put32(out, row[x]);
    }
    return true;
}

// ---- the colour quantiser ------------------------------------------------------------------

namespace {

struct colour_count {
    u32 key; // the colour, or its 5-bit-a-channel reduction
    u64 count;
    u64 red, green, blue; // sums of the full colours it stands for
    u32 component(int c) const { return (key >> (c == 0 ? 10 : c == 1 ? 5 : 0)) & 31; }
};

} // namespace

void quantise(const u32* words, std::size_t n, u32 max_colours, std::vector<u32>& palette,
              std::vector<u8>& indexes) {
    palette.clear();
    indexes.assign(n, 0);
    std::unordered_map<u32, u32> exact;
    for (std::size_t i = 0; i < n && exact.size() <= max_colours; i++)
        exact.emplace(words[i] & 0xFFFFFF, 0);
    if (exact.size() <= max_colours) {
        for (auto& [colour, index] : exact) palette.push_back(colour);
        std::sort(palette.begin(), palette.end());
        for (std::size_t i = 0; i < palette.size(); i++) exact[palette[i]] = static_cast<u32>(i);
        for (std::size_t i = 0; i < n; i++) indexes[i] = u8(exact[words[i] & 0xFFFFFF]);
        return;
    }
    // Median cut over a 15-bit histogram: at most 32,768 entries whatever the image size.
    auto reduce = [](u32 w) {
        return ((w >> 19) & 31) << 10 | ((w >> 11) & 31) << 5 | ((w >> 3) & 31);
    };
    std::vector<colour_count> entries(32768);
    for (u32 k = 0; k < 32768; k++) entries[k].key = k;
    for (std::size_t i = 0; i < n; i++) {
        colour_count& e = entries[reduce(words[i])];
        e.count++;
        e.red += (words[i] >> 16) & 255;
        e.green += (words[i] >> 8) & 255;
        e.blue += words[i] & 255;
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const colour_count& e) { return e.count == 0; }),
                  entries.end());
    struct box {
        std::size_t begin, end;
    };
    std::vector<box> boxes{{0, entries.size()}};
    auto widest = [&](const box& bx, int& channel_out) {
        u32 best = 0;
        for (int c = 0; c < 3; c++) {
            u32 lo = 31, hi = 0;
            for (std::size_t i = bx.begin; i < bx.end; i++) {
                lo = std::min(lo, entries[i].component(c));
                hi = std::max(hi, entries[i].component(c));
            }
            if (hi - lo >= best) {
                best = hi - lo;
                channel_out = c;
            }
        }
        return best;
    };
    while (boxes.size() < max_colours) {
        std::size_t pick = boxes.size();
        u32 best = 0;
        int channel = 0;
        for (std::size_t k = 0; k < boxes.size(); k++) {
            if (boxes[k].end - boxes[k].begin < 2) continue;
            int c = 0;
            u32 range = widest(boxes[k], c);
            if (pick == boxes.size() || range > best) {
                pick = k;
                best = range;
                channel = c;
            }
        }
        if (pick == boxes.size()) break;
        box& bx = boxes[pick];
        std::sort(entries.begin() + bx.begin, entries.begin() + bx.end,
                  [&](const colour_count& x, const colour_count& y) {
                      return x.component(channel) < y.component(channel);
                  });
        u64 total = 0, half = 0;
        for (std::size_t i = bx.begin; i < bx.end; i++) total += entries[i].count;
        std::size_t cut = bx.begin + 1;
        for (std::size_t i = bx.begin; i + 1 < bx.end; i++) {
            half += entries[i].count;
            cut = i + 1;
            if (half * 2 >= total) break;
        }
        box upper{cut, bx.end};
        bx.end = cut;
        boxes.push_back(upper);
    }
    std::vector<u8> slot_of(32768, 0);
    for (std::size_t k = 0; k < boxes.size(); k++) {
        u64 count = 0, red = 0, green = 0, blue = 0;
        for (std::size_t i = boxes[k].begin; i < boxes[k].end; i++) {
            count += entries[i].count;
            red += entries[i].red;
            green += entries[i].green;
            blue += entries[i].blue;
            slot_of[entries[i].key] = static_cast<u8>(k);
        }
        palette.push_back(u32(red / count) << 16 | u32(green / count) << 8 | u32(blue / count));
    }
    for (std::size_t i = 0; i < n; i++) indexes[i] = slot_of[reduce(words[i])];
}

} // namespace zel::imaging
