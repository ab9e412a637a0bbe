// The image codecs' routines. Decoding takes a binary! (bytes without a known signature give
// none!) or a file! read whole; a file that is read but does not decode raises access/bad-media,
// like bytes, so that a damaged file never passes for an image. Encoding never writes: `save`
// writes the bytes the encoder answers.
#include "library/image_codecs.hpp"

#include <optional>
#include <string>

#include "datatypes/file.hpp"
#include "datatypes/image.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/file_io.hpp"
#include "runtime/memory.hpp"

namespace zel::image_codecs {

namespace {

[[noreturn]] void cannot_open(const cell* value) {
    cell v = *value;
    error::raise(err::E("access", "cannot-open"), &v);
}

void decode() {
    cell data = *stack::arg(0);
    if (is(&data, type_id::binary)) {
        series_buffer* b = buffer_of(data.w2);
        u32 n = used_bytes(b) > data.w1 ? used_bytes(b) - data.w1 : 0;
        // Decoding allocates nothing in the heap until the pixels are made, after the bytes
        // were read: the address stays good until then.
        routines::answer(*image::push_decoded(head_ptr(b) + data.w1, n));
        return;
    }
    if (!is(&data, type_id::file)) cannot_open(&data);
    std::optional<std::string> name = file::to_os_text(&data);
    if (!name || fs::names_dir(*name)) cannot_open(&data);
    std::string bytes;
    bool whole = true;
    if (fs::read_file_bytes(*name, -1, -1, bytes, whole) != fs::read_status::done)
        cannot_open(&data);
    const u8* p = reinterpret_cast<const u8*>(bytes.data());
    if (!imaging::known_format(p, bytes.size())) error::raise(err::E("access", "bad-media"));
    routines::answer(*image::push_decoded(p, bytes.size()));
}

template <int Format> void encode() {
    cell img = *stack::arg(0);
    routines::answer(*image::push_encoded(&img, Format));
}

constexpr const char* encode_spec = R"(["Internal Use Only" img [image!] where])";

const routines::definition table[] = {
    {"_image-decode", R"(["Internal Use Only" data])", decode},
    {"_image-encode-bmp", encode_spec, encode<imaging::bmp>},
    {"_image-encode-png", encode_spec, encode<imaging::png>},
    {"_image-encode-gif", encode_spec, encode<imaging::gif>},
    {"_image-encode-jpeg", encode_spec, encode<imaging::jpeg>},
    {"_image-encode-tiff", encode_spec, encode<imaging::tiff>},
};

} // namespace

std::span<const routines::definition> private_routines() {
    return table;
}

} // namespace zel::image_codecs
