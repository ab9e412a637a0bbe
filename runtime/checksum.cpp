// Checksums and digests.
#include "runtime/checksum.hpp"

#include <bit>
#include <cstring>
#include <memory>

#include <openssl/evp.h>

#include "runtime/errors.hpp"
#include "runtime/platform/shared_library.hpp"

#define ZEL_CRYPTO_FUNCTIONS(X)                                                                 \
    X(EVP_md5)                                                                                  \
    X(EVP_sha1)                                                                                 \
    X(EVP_sha256)                                                                               \
    X(EVP_sha384)                                                                               \
    X(EVP_sha512)                                                                               \
    X(EVP_MD_CTX_new)                                                                           \
    X(EVP_MD_CTX_free)                                                                          \
    X(EVP_DigestInit_ex)                                                                        \
    X(EVP_DigestUpdate)                                                                         \
    X(EVP_DigestFinal_ex)                                                                       \
    X(EVP_Digest)
ZEL_SHARED_LIBRARY(crypto_library, ZEL_CRYPTO_SONAME, ZEL_CRYPTO_FUNCTIONS)

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZEL_CRC_CLMUL 1
#endif

namespace zel::checksum {

// ---- CRC-32 ---------------------------------------------------------------------------------

namespace {
constexpr u32 polynomial = 0xEDB88320u;

// Slicing-by-8 tables: row 0 is the classic byte table, row k advances a byte through k more
// zero bytes. Built on the first CRC and kept.
struct crc_tables {
    u32 t[8][256];
    crc_tables() {
        for (u32 n = 0; n < 256; n++) {
            u32 c = n;
            for (int k = 0; k < 8; k++) c = c & 1 ? (c >> 1) ^ polynomial : c >> 1;
            t[0][n] = c;
        }
        for (u32 n = 0; n < 256; n++)
            for (int k = 1; k < 8; k++) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
};

const crc_tables& tables() {
    static const crc_tables made;
    return made;
}

inline u32 load32(const u8* p) {
    u32 v;
    std::memcpy(&v, p, 4);
    return v;
}

// The register after the bytes, eight at a time where the host is little-endian.
u32 crc_tabled(u32 crc, const u8* p, std::size_t length) {
    const auto& t = tables().t;
    if constexpr (std::endian::native == std::endian::little) {
        while (length >= 8) {
            u32 one = load32(p) ^ crc;
            u32 two = load32(p + 4);
            crc = t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^
                  t[4][one >> 24] ^ t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^
                  t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
            p += 8;
            length -= 8;
        }
    }
    while (length--) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return crc;
}

#ifdef ZEL_CRC_CLMUL
#define ZEL_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))
ZEL_CLMUL_TARGET inline __m128i load(const u8* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}
// One 128-bit lane carried 128 bits further on and added to the next block.
ZEL_CLMUL_TARGET inline __m128i fold(__m128i k, __m128i lane, __m128i next) {
    __m128i lo = _mm_clmulepi64_si128(lane, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, next), lo);
}

// Folding by carry-less multiplication (x86 PCLMULQDQ), four 16-byte lanes at a time, then a
// Barrett reduction to 32 bits. Constants are powers of x modulo the polynomial, bit-reflected:
// x^(4*128+32), x^(4*128-32), x^(128+32), x^(128-32), x^64, and the polynomial with its Barrett
// quotient. Takes a multiple of 16 bytes, at least 64.
ZEL_CLMUL_TARGET u32 crc_folded(u32 crc, const u8* p, std::size_t length) {
    alignas(16) static const u64 k1k2[2] = {0x0154442BD4ull, 0x01C6E41596ull};
    alignas(16) static const u64 k3k4[2] = {0x01751997D0ull, 0x00CCAA009Eull};
    alignas(16) static const u64 k5k0[2] = {0x0163CD6124ull, 0};
    alignas(16) static const u64 poly[2] = {0x01DB710641ull, 0x01F7011641ull};

    __m128i x1 = load(p), x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    p += 64;
    length -= 64;
    while (length >= 64) {
        __m128i h1 = _mm_clmulepi64_si128(x1, k, 0x00), h2 = _mm_clmulepi64_si128(x2, k, 0x00);
        __m128i h3 = _mm_clmulepi64_si128(x3, k, 0x00), h4 = _mm_clmulepi64_si128(x4, k, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k, 0x11);
        x2 = _mm_clmulepi64_si128(x2, k, 0x11);
        x3 = _mm_clmulepi64_si128(x3, k, 0x11);
        x4 = _mm_clmulepi64_si128(x4, k, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, h1), load(p));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, h2), load(p + 16));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, h3), load(p + 32));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, h4), load(p + 48));
        p += 64;
        length -= 64;
    }
    // Four lanes into one, then the remaining 16-byte blocks.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    x1 = fold(k, x1, x2);
    x1 = fold(k, x1, x3);
    x1 = fold(k, x1, x4);
    while (length >= 16) {
        x1 = fold(k, x1, load(p));
        p += 16;
        length -= 16;
    }
    // 128 bits to 64.
    __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
    x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, mask32), k, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<u32>(_mm_extract_epi32(x1, 1));
}

bool clmul_present() {
    static const bool present =
        __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return present;
}
#endif
} // namespace

u32 crc32(const u8* bytes, std::size_t length) {
    u32 crc = 0xFFFFFFFFu;
#ifdef ZEL_CRC_CLMUL
    if (length >= 64 && clmul_present()) {
        std::size_t folded = length & ~std::size_t(15);
        crc = crc_folded(crc, bytes, folded);
        bytes += folded;
        length -= folded;
    }
#endif
    return ~crc_tabled(crc, bytes, length);
}

u32 detail::crc32_tabled(const u8* bytes, std::size_t length) {
    return ~crc_tabled(0xFFFFFFFFu, bytes, length);
}

// ---- Adler-32 -------------------------------------------------------------------------------

u32 adler32(const u8* p, std::size_t length) {
    constexpr u32 base = 65521;
    // Both sums stay below 2^31 over a block of this many bytes.
    constexpr std::size_t block = 3854;
    u32 a = 1, b = 0;
    while (length > 0) {
        std::size_t n = length < block ? length : block;
        length -= n;
        for (; n >= 16; n -= 16, p += 16)
            for (int i = 0; i < 16; i++) {
                a += p[i];
                b += a;
            }
        while (n--) {
            a += *p++;
            b += a;
        }
        a %= base;
        b %= base;
    }
    return b << 16 | a;
}

// ---- Internet checksum ----------------------------------------------------------------------

u16 internet(const u8* p, std::size_t length) {
    // 64 bits hold the sum of any input a process can address without overflow.
    u64 sum = 0;
    for (; length >= 2; length -= 2, p += 2) sum += u32(p[0]) << 8 | p[1];
    if (length) sum += u32(p[0]) << 8;
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<u16>(~sum & 0xFFFF);
}

// ---- digests --------------------------------------------------------------------------------

namespace {
// The provider can refuse an algorithm (a FIPS-only configuration refuses MD5).
[[noreturn]] void refused() {
    error::raise(err::E("internal", "feature-na"));
}

// The digest library; without it no digest is available.
const crypto_library* crypto() {
    const crypto_library* library = crypto_library::get();
    if (!library) refused();
    return library;
}

const EVP_MD* algorithm(int method) {
    switch (method) {
    case code::md5:
        return crypto()->EVP_md5();
    case code::sha1:
        return crypto()->EVP_sha1();
    case code::sha256:
        return crypto()->EVP_sha256();
    case code::sha384:
        return crypto()->EVP_sha384();
    case code::sha512:
        return crypto()->EVP_sha512();
    default: {
        cell c;
        init_integer(&c, method);
        error::raise(err::E("script", "invalid-arg"), &c);
    }
    }
}

u32 block_size(int method) {
    return method == code::sha384 || method == code::sha512 ? 128 : 64;
}

struct context_free {
    void operator()(EVP_MD_CTX* c) const { crypto()->EVP_MD_CTX_free(c); }
};
using context = std::unique_ptr<EVP_MD_CTX, context_free>;

// Digest of two pieces taken one after the other.
void digest_two(const EVP_MD* md, const u8* a, std::size_t a_length, const u8* b,
                std::size_t b_length, digest_value& out) {
    context ctx(crypto()->EVP_MD_CTX_new());
    unsigned size = 0;
    const crypto_library* c = crypto();
    if (!ctx || !c->EVP_DigestInit_ex(ctx.get(), md, nullptr) ||
        !c->EVP_DigestUpdate(ctx.get(), a, a_length) ||
        !c->EVP_DigestUpdate(ctx.get(), b, b_length) ||
        !c->EVP_DigestFinal_ex(ctx.get(), out.bytes, &size))
        refused();
    out.size = size;
}
} // namespace

u32 digest_size(int method) {
    switch (method) {
    case code::md5:
        return 16;
    case code::sha1:
        return 20;
    case code::sha256:
        return 32;
    case code::sha384:
        return 48;
    case code::sha512:
        return 64;
    default:
        return 0;
    }
}

digest_value digest(const u8* bytes, std::size_t length, int method) {
    const EVP_MD* md = algorithm(method);
    digest_value out{};
    unsigned size = 0;
    if (!crypto()->EVP_Digest(bytes, length, out.bytes, &size, md, nullptr)) refused();
    out.size = size;
    return out;
}

digest_value hmac(const u8* data, std::size_t length, const u8* key, std::size_t key_length,
                  int method) {
    const EVP_MD* md = algorithm(method);
    u32 b = block_size(method);
    digest_value short_key;
    if (key_length > b) {
        short_key = digest(key, key_length, method);
        key = short_key.bytes;
        key_length = short_key.size;
    }
    u8 inner_pad[128] = {}, outer_pad[128] = {};
    if (key_length) {
        std::memcpy(inner_pad, key, key_length);
        std::memcpy(outer_pad, key, key_length);
    }
    for (u32 i = 0; i < b; i++) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    digest_value inner{}, out{};
    digest_two(md, inner_pad, b, data, length, inner);
    digest_two(md, outer_pad, b, inner.bytes, inner.size, out);
    return out;
}

} // namespace zel::checksum
