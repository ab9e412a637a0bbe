// The checksum native: CRC-32, Adler-32, the Internet checksum, digests and their HMACs of a
// binary!, the UTF-8 of a string!, or a file's bytes.
#include <optional>
#include <string>
#include <string_view>

#include "datatypes/binary.hpp"
#include "datatypes/file.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/stack.hpp"
#include "runtime/checksum.hpp"
#include "runtime/errors.hpp"
#include "runtime/file_io.hpp"
#include "runtime/unicode.hpp"

namespace zel::natives {

namespace {
using stack::arg;

enum class method { tcp, crc32, adler32, md5, sha1, sha256, sha384, sha512, hash };

constexpr std::string_view method_names[] = {"tcp",    "crc32",  "adler32", "md5", "sha1",
                                             "sha256", "sha384", "sha512",  "hash"};

// The method a word names (by its canonical symbol), or none.
std::optional<method> method_of(const cell* word) {
    u32 wanted = symbol::canonical_id(word->w2);
    for (std::size_t i = 0; i < std::size(method_names); i++)
        if (symbol::canonical_id(symbol::intern_text(method_names[i])) == wanted)
            return static_cast<method>(i);
    return std::nullopt;
}

int digest_code(method m) {
    switch (m) {
    case method::md5:
        return checksum::code::md5;
    case method::sha1:
        return checksum::code::sha1;
    case method::sha256:
        return checksum::code::sha256;
    case method::sha384:
        return checksum::code::sha384;
    default:
        return checksum::code::sha512;
    }
}

// The bytes of a value: a binary! from its head (in place), a string!'s UTF-8 or a file's
// content (copied into `own`).
struct byte_view {
    const u8* data;
    std::size_t size;
};

byte_view bytes_of(const cell* value, std::string& own) {
    switch (type_of(value)) {
    case type_id::binary: {
        series_buffer* b = buffer_of(value->w2);
        u32 h = series::clamped_head(value);
        return {head_ptr(b) + h, used_bytes(b) - h};
    }
    case type_id::file: {
        std::optional<std::string> name = file::to_os_text(value);
        bool whole = true;
        if (!name) error::raise(err::E("access", "cannot-open"), value);
        switch (fs::read_file_bytes(*name, -1, -1, own, whole)) {
        case fs::read_status::failed:
            error::raise(err::E("access", "cannot-open"), value);
        case fs::read_status::too_large:
            error::raise(err::E("script", "size-limit"), value);
        case fs::read_status::done:
            break;
        }
        break;
    }
    case type_id::string:
        own = utf8::encode_string(value);
        break;
    default:
        error::raise(err::E("script", "invalid-arg"), value);
    }
    return {reinterpret_cast<const u8*>(own.data()), own.size()};
}

[[noreturn]] void refine_arg(const cell* value) {
    series::raise_refine_arg("with", value);
}

void binary_result(const checksum::digest_value& d) {
    cell* made = binary::push_from_bytes(d.bytes, d.size);
    *arg(0) = *made;
    stack::keep_result_only();
}

void integer_result(u32 value) {
    // integer! is 32-bit: a CRC of 2^31 or more keeps its bits and reads negative.
    init_integer(arg(0), static_cast<i32>(value));
    stack::keep_result_only();
}

void checksum_native(const i32* refinements) {
    cell* method_word = arg(1);
    const cell* spec = refinements[0] >= 0 ? arg(static_cast<u32>(refinements[0])) : nullptr;
    std::optional<method> m = method_of(method_word);
    if (!m) error::raise(err::E("script", "invalid-arg"), method_word);

    // Checked before any byte is read, so that a wrong call fails the same way for any data.
    bool plain = *m == method::tcp || *m == method::crc32 || *m == method::adler32;
    bool key = spec && (is(spec, type_id::string) || is(spec, type_id::binary));
    if (plain && spec) refine_arg(spec);
    if (*m == method::hash && !spec) refine_arg(method_word);
    if (*m == method::hash && key) refine_arg(spec);
    if (spec && !key && !is(spec, type_id::integer))
        error::raise(err::E("script", "invalid-arg"), spec);
    // A hash-table size asks for the table hash, which is not built.
    if (spec && !key) error::raise(err::E("internal", "not-done"));

    std::string own;
    byte_view data = bytes_of(arg(0), own);
    switch (*m) {
    case method::tcp:
        return integer_result(checksum::internet(data.data, data.size));
    case method::crc32:
        return integer_result(checksum::crc32(data.data, data.size));
    case method::adler32:
        return integer_result(checksum::adler32(data.data, data.size));
    default:
        break;
    }
    int code = digest_code(*m);
    if (!spec) return binary_result(checksum::digest(data.data, data.size, code));
    std::string key_own;
    byte_view k = bytes_of(spec, key_own);
    binary_result(checksum::hmac(data.data, data.size, k.data, k.size, code));
}

const families::entry table[] = {
    {"checksum", checksum_native},
};
} // namespace

std::span<const families::entry> families::checksums() {
    return table;
}

} // namespace zel::natives
