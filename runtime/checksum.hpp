// Checksums and digests. CRC-32, Adler-32 and the Internet checksum are computed here; MD5 and
// the SHA family come from OpenSSL's libcrypto (EVP), HMAC is built on top of them.
#pragma once
#include <cstddef>

#include "runtime/arena.hpp"

namespace zel::checksum {

// Method codes. Only the digest methods (md5 .. sha512) have a digest and an HMAC.
namespace code {
constexpr int tcp = 0;
constexpr int crc32 = 1;
constexpr int md5 = 2;
constexpr int sha1 = 3;
constexpr int sha256 = 4;
constexpr int sha384 = 5;
constexpr int sha512 = 6;
} // namespace code

// ISO 3309 / IEEE 802.3 CRC-32 (the one of zlib and gzip): 0 for no bytes.
u32 crc32(const u8* bytes, std::size_t length);
// RFC 1950 Adler-32: 1 for no bytes.
u32 adler32(const u8* bytes, std::size_t length);
// RFC 1071 Internet checksum: 0xFFFF for no bytes. Exact for any length.
u16 internet(const u8* bytes, std::size_t length);

namespace detail {
// CRC-32 by tables alone, as on a processor without carry-less multiplication (for tests).
u32 crc32_tabled(const u8* bytes, std::size_t length);
} // namespace detail

// Digest size in bytes of a method code, 0 for a code without a digest.
u32 digest_size(int method);

// A digest: the first `size` bytes hold it.
struct digest_value {
    u8 bytes[64];
    u32 size;
};

// Raises script/invalid-arg (with the code) for a code outside md5 .. sha512.
digest_value digest(const u8* bytes, std::size_t length, int method);
// RFC 2104 HMAC of the data under the key; a key longer than the block size is first digested.
// Raises as `digest` does for a method without a digest.
digest_value hmac(const u8* data, std::size_t length, const u8* key, std::size_t key_length,
                  int method);

} // namespace zel::checksum
