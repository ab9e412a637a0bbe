// The imaging layer's dispatch by signature, and the PNG (libpng's simplified API) and JPEG
// (libjpeg-turbo) adapters. libjpeg reports errors by a long jump: each jump target sits in a
// function that owns no C++ object with a destructor, so nothing is skipped on the way out.
#include "runtime/platform/imaging.hpp"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "runtime/platform/shared_library.hpp"

#define ZEL_PNG_FUNCTIONS(X)                                                                    \
    X(png_image_begin_read_from_memory)                                                         \
    X(png_image_free)                                                                           \
    X(png_image_finish_read)                                                                    \
    X(png_image_write_to_memory)
ZEL_SHARED_LIBRARY(png_library, ZEL_PNG_SONAME, ZEL_PNG_FUNCTIONS)
inline const png_library* png_api() { return png_library::get(); }

#define ZEL_JPEG_FUNCTIONS(X)                                                                   \
    X(jpeg_std_error)                                                                           \
    X(jpeg_mem_src)                                                                             \
    X(jpeg_read_header)                                                                         \
    X(jpeg_start_decompress)                                                                    \
    X(jpeg_read_scanlines)                                                                      \
    X(jpeg_finish_decompress)                                                                   \
    X(jpeg_mem_dest)                                                                            \
    X(jpeg_set_defaults)                                                                        \
    X(jpeg_set_quality)                                                                         \
    X(jpeg_start_compress)                                                                      \
    X(jpeg_write_scanlines)                                                                     \
    X(jpeg_finish_compress)                                                                     \
    X(jpeg_CreateDecompress)                                                                    \
    X(jpeg_CreateCompress)                                                                      \
    X(jpeg_destroy_decompress)                                                                  \
    X(jpeg_destroy_compress)
ZEL_SHARED_LIBRARY(jpeg_library, ZEL_JPEG_SONAME, ZEL_JPEG_FUNCTIONS)
inline const jpeg_library* jpeg_api() { return jpeg_library::get(); }

namespace zel::imaging {

bool size_allowed(u64 width, u64 height) {
    return width <= max_side && height <= max_side && width * height <= max_pixels;
}

bool known_format(const u8* b, std::size_t n) {
    if (n >= 4 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return true;
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return true;
    if (n >= 2 && b[0] == 'B' && b[1] == 'M') return true;
    if (n >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0))
        return true;
    if (n >= 4 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 0x2A && b[3] == 0) ||
                   (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 0x2A)))
        return true;
    return false;
}

bool decode(const u8* b, std::size_t n, pixels& out) {
    out = pixels{};
    bool ok = false;
    if (n >= 4 && b[0] == 0x89)
        ok = decode_png(b, n, out);
    else if (n >= 3 && b[0] == 0xFF)
        ok = decode_jpeg(b, n, out);
    else if (n >= 2 && b[0] == 'B')
        ok = decode_bmp(b, n, out);
    else if (n >= 6 && b[0] == 'G')
        ok = decode_gif(b, n, out);
    else if (known_format(b, n))
        ok = decode_tiff(b, n, out);
    if (!ok || out.words.size() != u64(out.width) * out.height) {
        out = pixels{};
        return false;
    }
    return true;
}

bool encode(int format, const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    out.clear();
    switch (format) {
    case bmp:
        return encode_bmp(words, width, height, out);
    case png:
        return encode_png(words, width, height, out);
    case gif:
        return encode_gif(words, width, height, out);
    case jpeg:
        return encode_jpeg(words, width, height, out);
    case tiff:
        return encode_tiff(words, width, height, out);
    default:
        return false;
    }
}

// ---- PNG ------------------------------------------------------------------------------------

bool decode_png(const u8* bytes, std::size_t n, pixels& out) {
    if (!png_api()) return false; // a codec that cannot be loaded fails
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_api()->png_image_begin_read_from_memory(&image, bytes, n)) return false;
    if (!size_allowed(image.width, image.height) || image.width == 0 || image.height == 0) {
        png_api()->png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_BGRA;
    out.width = image.width;
    out.height = image.height;
    out.words.assign(u64(image.width) * image.height, 0);
    // A damaged stream makes finish_read fail (and free the image) rather than stop early.
    if (!png_api()->png_image_finish_read(&image, nullptr, out.words.data(), 0, nullptr))
        return false;
    return true;
}

bool encode_png(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    if (!png_api()) return false; // a codec that cannot be loaded fails
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    // Without a buffer the call only measures.
    const png_library* library = png_api();
    if (!library->png_image_write_to_memory(&image, nullptr, &size, 0, words, 0, nullptr))
        return false;
    out.resize(size);
    if (!library->png_image_write_to_memory(&image, out.data(), &size, 0, words, 0, nullptr))
        return false;
    out.resize(size);
    return true;
}

// ---- JPEG -----------------------------------------------------------------------------------

namespace {

struct jpeg_failure {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    int warnings;
};

void jpeg_fail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<jpeg_failure*>(info->err)->jump, 1);
}

// Warnings (premature end of data, corrupt segments) are counted: a picture that needed them is
// not the picture the file was meant to hold.
void jpeg_message(j_common_ptr info, int level) {
    if (level < 0) reinterpret_cast<jpeg_failure*>(info->err)->warnings++;
}

void jpeg_quiet(j_common_ptr) {}

void set_up_errors(jpeg_failure& failure) {
    jpeg_api()->jpeg_std_error(&failure.manager);
    failure.manager.error_exit = jpeg_fail;
    failure.manager.emit_message = jpeg_message;
    failure.manager.output_message = jpeg_quiet;
    failure.warnings = 0;
}

// Reads the header; the caller sizes its buffer from it. Answers false on any error.
bool jpeg_header(jpeg_decompress_struct* info, jpeg_failure* failure, const u8* bytes,
                 std::size_t n) {
    if (setjmp(failure->jump)) return false;
    jpeg_api()->jpeg_mem_src(info, bytes, static_cast<unsigned long>(n));
    if (jpeg_api()->jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) return false;
    info->out_color_space = JCS_EXT_BGRA;
    jpeg_api()->jpeg_start_decompress(info);
    return true;
}

bool jpeg_rows(jpeg_decompress_struct* info, jpeg_failure* failure, u32* words) {
    if (setjmp(failure->jump)) return false;
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(words + std::size_t(info->output_scanline) *
                                                              info->output_width);
        if (jpeg_api()->jpeg_read_scanlines(info, &row, 1) != 1) return false;
    }
    jpeg_api()->jpeg_finish_decompress(info);
    return failure->warnings == 0;
}

bool jpeg_write(jpeg_compress_struct* info, jpeg_failure* failure, const u32* words, u32 width,
                u32 height, unsigned char** buffer, unsigned long* size) {
    if (setjmp(failure->jump)) return false;
    jpeg_api()->jpeg_mem_dest(info, buffer, size);
    info->image_width = width;
    info->image_height = height;
    info->input_components = 4;
    info->in_color_space = JCS_EXT_BGRA;
    jpeg_api()->jpeg_set_defaults(info);
    jpeg_api()->jpeg_set_quality(info, 95, TRUE);
    // Full-resolution colour: the halved chroma planes blur edges between coloured pixels.
    for (int c = 0; c < info->num_components; c++)
        info->comp_info[c].h_samp_factor = info->comp_info[c].v_samp_factor = 1;
    jpeg_api()->jpeg_start_compress(info, TRUE);
    while (info->next_scanline < info->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(
            reinterpret_cast<const JSAMPLE*>(words + std::size_t(info->next_scanline) * width));
        jpeg_api()->jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_api()->jpeg_finish_compress(info);
    return true;
}

} // namespace

bool decode_jpeg(const u8* bytes, std::size_t n, pixels& out) {
    if (!jpeg_api()) return false;
    jpeg_decompress_struct info;
    jpeg_failure failure;
    set_up_errors(failure);
    info.err = &failure.manager;
    jpeg_api()->jpeg_CreateDecompress(&info, JPEG_LIB_VERSION, sizeof info);
    bool ok = jpeg_header(&info, &failure, bytes, n) && info.output_components == 4 &&
              size_allowed(info.output_width, info.output_height) && info.output_width > 0 &&
              info.output_height > 0;
    if (ok) {
        out.width = info.output_width;
        out.height = info.output_height;
        out.words.assign(u64(out.width) * out.height, 0);
        ok = jpeg_rows(&info, &failure, out.words.data());
    }
    jpeg_api()->jpeg_destroy_decompress(&info);
    return ok;
}

bool encode_jpeg(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    if (!jpeg_api()) return false;
    jpeg_compress_struct info;
    jpeg_failure failure;
    set_up_errors(failure);
    info.err = &failure.manager;
    jpeg_api()->jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    bool ok = jpeg_write(&info, &failure, words, width, height, &buffer, &size);
    jpeg_api()->jpeg_destroy_compress(&info);
    if (ok && buffer) out.assign(buffer, buffer + size);
    std::free(buffer);
    return ok;
}

} // namespace zel::imaging
