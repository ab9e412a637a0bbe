// The GIF (giflib) and TIFF (libtiff) adapters, both reading from and writing to memory through
// the libraries' client callbacks. giflib has no quantiser: the GIF encoder takes its palette
// from imaging::quantise.
#include <algorithm>
#include <cstring>

#include <gif_lib.h>
#include <tiffio.h>

#include "runtime/platform/imaging.hpp"
#include "runtime/platform/shared_library.hpp"

#define ZEL_GIF_FUNCTIONS(X)                                                                    \
    X(DGifGetRecordType)                                                                        \
    X(DGifGetExtension)                                                                         \
    X(DGifExtensionToGCB)                                                                       \
    X(DGifGetExtensionNext)                                                                     \
    X(DGifGetImageDesc)                                                                         \
    X(DGifGetLine)                                                                              \
    X(DGifOpen)                                                                                 \
    X(DGifCloseFile)                                                                            \
    X(EGifOpen)                                                                                 \
    X(EGifSetGifVersion)                                                                        \
    X(GifMakeMapObject)                                                                         \
    X(EGifPutScreenDesc)                                                                        \
    X(EGifGCBToExtension)                                                                       \
    X(EGifPutExtension)                                                                         \
    X(EGifPutImageDesc)                                                                         \
    X(EGifPutLine)                                                                              \
    X(EGifCloseFile)                                                                            \
    X(GifFreeMapObject)
ZEL_SHARED_LIBRARY(gif_library, ZEL_GIF_SONAME, ZEL_GIF_FUNCTIONS)
inline const gif_library* gif_api() { return gif_library::get(); }

#define ZEL_TIFF_FUNCTIONS(X)                                                                   \
    X(TIFFSetErrorHandler)                                                                      \
    X(TIFFSetWarningHandler)                                                                    \
    X(TIFFClientOpen)                                                                           \
    X(TIFFGetFieldDefaulted)                                                                    \
    X(TIFFGetField)                                                                             \
    X(TIFFIsTiled)                                                                              \
    X(TIFFScanlineSize64)                                                                       \
    X(TIFFReadScanline)                                                                         \
    X(TIFFReadRGBAImageOriented)                                                                \
    X(TIFFClose)                                                                                \
    X(TIFFSetField)                                                                             \
    X(TIFFDefaultStripSize)                                                                     \
    X(TIFFWriteScanline)                                                                        \
    X(TIFFFlush)
ZEL_SHARED_LIBRARY(tiff_library, ZEL_TIFF_SONAME, ZEL_TIFF_FUNCTIONS)
inline const tiff_library* tiff_api() { return tiff_library::get(); }

namespace zel::imaging {

namespace {

struct memory_reader {
    const u8* bytes;
    std::size_t size;
    std::size_t at = 0;
};

int gif_read(GifFileType* gif, GifByteType* into, int n) {
    auto* r = static_cast<memory_reader*>(gif->UserData);
    std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), r->size - r->at);
    std::memcpy(into, r->bytes + r->at, take);
    r->at += take;
    return static_cast<int>(take);
}

int gif_write(GifFileType* gif, const GifByteType* from, int n) {
    auto* out = static_cast<std::vector<u8>*>(gif->UserData);
    out->insert(out->end(), from, from + n);
    return n;
}

// The first frame read row by row (giflib's whole-file reader would size its buffers from the
// file's claims before any check) and drawn on the logical screen, which starts transparent; the
// frame's transparent index leaves its pixels transparent.
bool read_first_frame(GifFileType* gif, pixels& out) {
    if (gif->SWidth <= 0 || gif->SHeight <= 0 || !size_allowed(u32(gif->SWidth), u32(gif->SHeight)))
        return false;
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType record;
        if (gif_api()->DGifGetRecordType(gif, &record) != GIF_OK) return false;
        if (record == TERMINATE_RECORD_TYPE) return false; // no frame at all
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (gif_api()->DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                GraphicsControlBlock control{};
                if (gif_api()->DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                    transparent = control.TransparentColor;
            }
            while (block)
                if (gif_api()->DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) continue;
        if (gif_api()->DGifGetImageDesc(gif) != GIF_OK) return false;
        const GifImageDesc& d = gif->Image;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        if (!map || d.Width <= 0 || d.Height <= 0 || !size_allowed(u32(d.Width), u32(d.Height)))
            return false;
        out.width = u32(gif->SWidth);
        out.height = u32(gif->SHeight);
        out.words.assign(u64(out.width) * out.height, 0);
        std::vector<GifPixelType> line(std::size_t(d.Width));
        // Interlaced rows come in four passes: every 8th from 0, every 8th from 4, every 4th
        // from 2, every 2nd from 1.
        static const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
        int passes = d.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; pass++) {
            int first = d.Interlace ? starts[pass] : 0, step = d.Interlace ? steps[pass] : 1;
            for (int y = first; y < d.Height; y += step) {
                if (gif_api()->DGifGetLine(gif, line.data(), d.Width) != GIF_OK) return false;
                i64 sy = i64(d.Top) + y;
                for (int x = 0; x < d.Width; x++) {
                    int index = line[std::size_t(x)];
                    if (index == transparent) continue;
                    if (index >= map->ColorCount) return false;
                    i64 sx = i64(d.Left) + x;
                    if (sx >= i64(out.width) || sy >= i64(out.height)) continue;
                    const GifColorType& c = map->Colors[index];
                    out.words[std::size_t(sy) * out.width + std::size_t(sx)] =
                        0xFF000000u | u32(c.Red) << 16 | u32(c.Green) << 8 | c.Blue;
                }
            }
        }
        return true;
    }
}

} // namespace

bool decode_gif(const u8* bytes, std::size_t n, pixels& out) {
    if (!gif_api()) return false; // a codec that cannot be loaded fails
    memory_reader reader{bytes, n};
    int error = 0;
    GifFileType* gif = gif_api()->DGifOpen(&reader, gif_read, &error);
    if (!gif) return false;
    bool ok = read_first_frame(gif, out);
    gif_api()->DGifCloseFile(gif, &error);
    return ok;
}

// Pixels with a stored alpha below 128 become the transparent index; the rest are opaque.
bool encode_gif(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    if (!gif_api()) return false; // a codec that cannot be loaded fails
    std::size_t count = std::size_t(width) * height;
    bool transparent = false;
    for (std::size_t i = 0; i < count && !transparent; i++) transparent = (words[i] >> 24) < 128;
    std::vector<u32> opaque;
    opaque.reserve(count);
    for (std::size_t i = 0; i < count; i++)
        if ((words[i] >> 24) >= 128) opaque.push_back(words[i] & 0xFFFFFF);
    std::vector<u32> palette;
    std::vector<u8> chosen;
    quantise(opaque.data(), opaque.size(), transparent ? 255 : 256, palette, chosen);
    u32 used = static_cast<u32>(palette.size()) + (transparent ? 1 : 0);
    int bits = 1;
    while ((1u << bits) < used) bits++;
    std::vector<GifColorType> colours(std::size_t(1) << bits, GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < palette.size(); i++)
        colours[i] = GifColorType{u8(palette[i] >> 16), u8(palette[i] >> 8), u8(palette[i])};
    int transparent_index = transparent ? static_cast<int>(palette.size()) : NO_TRANSPARENT_COLOR;
    std::vector<u8> indexes(count);
    for (std::size_t i = 0, k = 0; i < count; i++)
        indexes[i] = (words[i] >> 24) >= 128 ? chosen[k++] : u8(transparent_index);

    int error = 0;
    GifFileType* gif = gif_api()->EGifOpen(&out, gif_write, &error);
    if (!gif) return false;
    gif_api()->EGifSetGifVersion(gif, true);
    ColorMapObject* map = gif_api()->GifMakeMapObject(1 << bits, colours.data());
    bool ok =
        map && gif_api()->EGifPutScreenDesc(gif, int(width), int(height), bits, 0, map) == GIF_OK;
    if (ok && transparent) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSAL_UNSPECIFIED;
        control.TransparentColor = transparent_index;
        GifByteType extension[4];
        std::size_t length = gif_api()->EGifGCBToExtension(&control, extension);
        ok = gif_api()->EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension) ==
             GIF_OK;
    }
    ok = ok &&
         gif_api()->EGifPutImageDesc(gif, 0, 0, int(width), int(height), false, nullptr) == GIF_OK;
    for (u32 y = 0; ok && y < height; y++)
        ok = gif_api()->EGifPutLine(gif, indexes.data() + std::size_t(y) * width, int(width)) ==
             GIF_OK;
    if (gif_api()->EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    gif_api()->GifFreeMapObject(map);
    return ok;
}

// ---- TIFF -----------------------------------------------------------------------------------

namespace {

// One memory stream for libtiff, read-only over the caller's bytes or growing for writing.
struct tiff_stream {
    const u8* bytes = nullptr;
    std::vector<u8>* out = nullptr;
    u64 size = 0;
    u64 at = 0;
};

tmsize_t tiff_read(thandle_t h, void* into, tmsize_t n) {
    auto* s = static_cast<tiff_stream*>(h);
    const u8* from = s->out ? s->out->data() : s->bytes;
    u64 take = s->at >= s->size ? 0 : std::min<u64>(u64(n), s->size - s->at);
    if (take) std::memcpy(into, from + s->at, take);
    s->at += take;
    return tmsize_t(take);
}

tmsize_t tiff_write(thandle_t h, void* from, tmsize_t n) {
    auto* s = static_cast<tiff_stream*>(h);
    if (!s->out || n < 0) return 0;
    if (s->at + u64(n) > s->out->size()) s->out->resize(s->at + u64(n));
    std::memcpy(s->out->data() + s->at, from, std::size_t(n));
    s->at += u64(n);
    s->size = std::max<u64>(s->size, s->at);
    return n;
}

toff_t tiff_seek(thandle_t h, toff_t offset, int whence) {
    auto* s = static_cast<tiff_stream*>(h);
    u64 base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? s->size : 0;
    s->at = base + offset;
    return s->at;
}

int tiff_close(thandle_t) {
    return 0;
}

toff_t tiff_size(thandle_t h) {
    return static_cast<tiff_stream*>(h)->size;
}

int tiff_map(thandle_t, void**, toff_t*) {
    return 0;
}
void tiff_unmap(thandle_t, void*, toff_t) {}

TIFF* open_stream(tiff_stream* s, const char* mode) {
    // libtiff would otherwise print every complaint about a damaged file on standard error.
    tiff_api()->TIFFSetErrorHandler(nullptr);
    tiff_api()->TIFFSetWarningHandler(nullptr);
    return tiff_api()->TIFFClientOpen("image", mode, s, tiff_read, tiff_write, tiff_seek,
                                      tiff_close, tiff_size, tiff_map, tiff_unmap);
}

// 8-bit RGB or RGBA strips with unassociated alpha are read as they are, exactly;
// everything else goes through libtiff's RGBA reader, whose output is premultiplied.
bool read_plain_rgb(TIFF* tif, u32 width, u32 height, pixels& out) {
    u16 bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG, extra_count = 0;
    u16* extra = nullptr;
    tiff_api()->TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    tiff_api()->TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    tiff_api()->TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    tiff_api()->TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    if (tiff_api()->TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1) return false;
    u16 orientation = ORIENTATION_TOPLEFT;
    tiff_api()->TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    bool alpha = samples == 4 && extra_count == 1 && extra && extra[0] == EXTRASAMPLE_UNASSALPHA;
    if (bits != 8 || photometric != PHOTOMETRIC_RGB || planar != PLANARCONFIG_CONTIG ||
        orientation != ORIENTATION_TOPLEFT || tiff_api()->TIFFIsTiled(tif) ||
        !(samples == 3 || alpha) || u64(tiff_api()->TIFFScanlineSize64(tif)) < u64(width) * samples)
        return false;
    std::vector<u8> row(std::size_t(tiff_api()->TIFFScanlineSize64(tif)));
    out.words.resize(u64(width) * height);
    for (u32 y = 0; y < height; y++) {
        if (tiff_api()->TIFFReadScanline(tif, row.data(), y, 0) != 1) return false;
        u32* into = out.words.data() + std::size_t(y) * width;
        for (u32 x = 0; x < width; x++) {
            const u8* p = row.data() + std::size_t(x) * samples;
            into[x] =
                u32(samples == 4 ? p[3] : 255) << 24 | u32(p[0]) << 16 | u32(p[1]) << 8 | p[2];
        }
    }
    return true;
}

} // namespace

bool decode_tiff(const u8* bytes, std::size_t n, pixels& out) {
    if (!tiff_api()) return false; // a codec that cannot be loaded fails
    tiff_stream s;
    s.bytes = bytes;
    s.size = n;
    TIFF* tif = open_stream(&s, "rm");
    if (!tif) return false;
    u32 width = 0, height = 0;
    bool ok = tiff_api()->TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) == 1 &&
              tiff_api()->TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) == 1 && width > 0 &&
              height > 0 && size_allowed(width, height);
    out.width = width;
    out.height = height;
    if (ok && !read_plain_rgb(tif, width, height, out)) {
        // The raster is converted in place: one image-sized buffer, not two.
        out.words.assign(u64(width) * height, 0);
        ok = tiff_api()->TIFFReadRGBAImageOriented(tif, width, height, out.words.data(),
                                               ORIENTATION_TOPLEFT, 1) == 1;
        if (ok) {
            for (std::size_t i = 0; i < out.words.size(); i++) {
                u32 p = out.words[i], a = TIFFGetA(p);
                auto plain = [a](u32 c) {
                    return a == 0 || a == 255 ? c : std::min<u32>(255, (c * 255 + a / 2) / a);
                };
                out.words[i] = a << 24 | plain(TIFFGetR(p)) << 16 | plain(TIFFGetG(p)) << 8 |
                               plain(TIFFGetB(p));
            }
        }
    }
    tiff_api()->TIFFClose(tif);
    return ok;
}

bool encode_tiff(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    if (!tiff_api()) return false; // a codec that cannot be loaded fails
    tiff_stream s;
    s.out = &out;
    TIFF* tif = open_stream(&s, "w");
    if (!tif) return false;
    u16 extra[] = {EXTRASAMPLE_UNASSALPHA};
    tiff_api()->TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    tiff_api()->TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    tiff_api()->TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    tiff_api()->TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    tiff_api()->TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    tiff_api()->TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    tiff_api()->TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    tiff_api()->TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    tiff_api()->TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    tiff_api()->TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, tiff_api()->TIFFDefaultStripSize(tif, 0));
    std::vector<u8> row(std::size_t(width) * 4);
    bool ok = true;
    for (u32 y = 0; ok && y < height; y++) {
        const u32* p = words + std::size_t(y) * width;
        for (u32 x = 0; x < width; x++) {
            row[x * 4 + 0] = u8(p[x] >> 16);
            row[x * 4 + 1] = u8(p[x] >> 8);
            row[x * 4 + 2] = u8(p[x]);
            row[x * 4 + 3] = u8(p[x] >> 24);
        }
        ok = tiff_api()->TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    ok = ok && tiff_api()->TIFFFlush(tif) == 1;
    tiff_api()->TIFFClose(tif);
    out.resize(s.size);
    return ok;
}

} // namespace zel::imaging
