// MurmurHash3 x86_32 with the process seed.
#include "runtime/murmur3.hpp"

#include <cstring>

namespace zel::hash_index {

namespace {
constexpr u32 c1 = 0xCC9E2D51;
constexpr u32 c2 = 0x1B873593;
constexpr u32 default_seed = 0x2F6B1D35; // any value will do; no hash outlives the run
u32 process_seed = default_seed;
bool frozen = false;

inline u32 rotl(u32 x, int r) {
    return (x << r) | (x >> (32 - r));
}
inline u32 scramble(u32 k) {
    return rotl(k * c1, 15) * c2;
}
inline u32 mix(u32 h, u32 k) {
    return rotl(h ^ scramble(k), 13) * 5 + 0xE6546B64;
}

template <class Byte> u32 hash_bytes(const u8* p, std::size_t n, u32 h, Byte byte) {
    std::size_t blocks = n / 4;
    for (std::size_t i = 0; i < blocks; i++, p += 4)
        h = mix(h, u32(byte(p[0])) | u32(byte(p[1])) << 8 | u32(byte(p[2])) << 16 |
                       u32(byte(p[3])) << 24);
    u32 k = 0;
    switch (n & 3) {
    case 3:
        k ^= u32(byte(p[2])) << 16;
        [[fallthrough]];
    case 2:
        k ^= u32(byte(p[1])) << 8;
        [[fallthrough]];
    case 1:
        k ^= byte(p[0]);
        h ^= scramble(k);
    }
    return fmix32(h ^ static_cast<u32>(n));
}
} // namespace

bool set_seed(u32 value) {
    if (frozen) return false;
    process_seed = value;
    return true;
}
u32 seed() {
    return process_seed;
}
void freeze_seed() {
    frozen = true;
}

u32 fmix32(u32 h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}

u32 murmur3_seeded(const void* bytes, std::size_t length, u32 seed_value) {
    return hash_bytes(static_cast<const u8*>(bytes), length, seed_value, [](u8 b) { return b; });
}

u32 murmur3(const void* bytes, std::size_t length) {
    return murmur3_seeded(bytes, length, process_seed);
}

u32 murmur3_ascii_lowered(const u8* bytes, std::size_t length) {
    return hash_bytes(bytes, length, process_seed,
                      [](u8 b) { return (b >= 'A' && b <= 'Z') ? u8(b | 0x20) : b; });
}

void murmur3_blocks::add(u32 block) {
    h = mix(h, block);
    length += 4;
}

u32 murmur3_blocks::finish() const {
    return fmix32(h ^ length);
}

} // namespace zel::hash_index
