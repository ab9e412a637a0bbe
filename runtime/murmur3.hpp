// MurmurHash3 (x86, 32-bit) and its finaliser, with the one process-wide seed that every hash
// index reads. Invariant: the seed is fixed before the first index is made and never changes.
#pragma once
#include <cstddef>

#include "runtime/arena.hpp"

namespace zel::hash_index {

// The process seed. Setting it is refused (false) once an index exists, since every stored
// bucket position depends on it.
bool set_seed(u32 seed);
u32 seed();
// Called by the index code when it makes its first index.
void freeze_seed();

u32 fmix32(u32 h);
u32 murmur3(const void* bytes, std::size_t length);
u32 murmur3_seeded(const void* bytes, std::size_t length, u32 seed);

// Incremental form over 32-bit blocks, for hashes whose blocks are computed (code points).
struct murmur3_blocks {
    u32 h;
    u32 length = 0; // bytes fed so far
    explicit murmur3_blocks(u32 seed_value) : h(seed_value) {}
    void add(u32 block);
    u32 finish() const;
};

// MurmurHash3 of bytes after the ASCII letters "A" to "Z" were lowered.
u32 murmur3_ascii_lowered(const u8* bytes, std::size_t length);

} // namespace zel::hash_index
