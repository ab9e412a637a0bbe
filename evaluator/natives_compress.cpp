// The compress and decompress natives over the DEFLATE codec in its three framings.
#include <optional>
#include <string>
#include <string_view>

#include "datatypes/binary.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/stack.hpp"
#include "lexer/deflate.hpp"
#include "runtime/errors.hpp"
#include "runtime/unicode.hpp"

namespace zel::natives {

namespace {
using stack::arg;

enum class method { zlib, deflate, gzip };
constexpr std::string_view method_names[] = {"zlib", "deflate", "gzip"};

method method_of(const cell* word) {
    u32 wanted = symbol::canonical_id(word->w2);
    for (std::size_t i = 0; i < std::size(method_names); i++)
        if (symbol::canonical_id(symbol::intern_text(method_names[i])) == wanted)
            return static_cast<method>(i);
    error::raise(err::E("script", "invalid-arg"), word);
}

// Output larger than a binary! can hold is refused as bad data.
constexpr std::size_t output_limit = 0x7FFFFFFF;

void binary_result(const deflate::bytes& out) {
    cell* made = binary::push_from_bytes(out.data(), static_cast<u32>(out.size()));
    *arg(0) = *made;
    stack::keep_result_only();
}

void compress_native(const i32*) {
    method m = method_of(arg(1));
    std::string own;
    const u8* data;
    std::size_t size;
    if (is(arg(0), type_id::binary)) {
        series_buffer* b = buffer_of(arg(0)->w2);
        u32 h = series::clamped_head(arg(0));
        data = head_ptr(b) + h;
        size = used_bytes(b) - h;
        // The compressor allocates nothing of the arena: the bytes cannot move under it.
    } else {
        own = utf8::encode_string(arg(0));
        data = reinterpret_cast<const u8*>(own.data());
        size = own.size();
    }
    deflate::bytes out;
    int r = m == method::zlib      ? deflate::zlib_compress(data, size, out)
            : m == method::deflate ? deflate::compress_raw(data, size, out)
                                   : deflate::gzip_compress(data, size, out);
    if (r != deflate::ok || out.size() > output_limit)
        error::raise(err::E("script", "invalid-data"), arg(0));
    binary_result(out);
}

void decompress_native(const i32* refinements) {
    method m = method_of(arg(1));
    std::size_t hint = 0;
    if (refinements[0] >= 0) {
        cell* sz = arg(static_cast<u32>(refinements[0]));
        if (sz->w2 > 0x7FFFFFFF) error::raise(err::E("script", "invalid-arg"), sz);
        hint = sz->w2;
    }
    series_buffer* b = buffer_of(arg(0)->w2);
    u32 h = series::clamped_head(arg(0));
    const u8* data = head_ptr(b) + h;
    std::size_t size = used_bytes(b) - h;
    // A stated size is only a reservation: DEFLATE expands at most 1032 times.
    hint = std::min<std::size_t>(hint, size * 1032 + 16);
    deflate::bytes out;
    int r = m == method::zlib      ? deflate::zlib_decompress(data, size, out, hint, output_limit)
            : m == method::deflate ? deflate::decompress_raw(data, size, out, hint, output_limit)
                                   : deflate::gzip_decompress(data, size, out, output_limit);
    if (r != deflate::ok) error::raise(err::E("script", "invalid-data"), arg(0));
    binary_result(out);
}

const families::entry table[] = {
    {"compress", compress_native},
    {"decompress", decompress_native},
};
} // namespace

std::span<const families::entry> families::compression() {
    return table;
}

} // namespace zel::natives
