// The memory arena: one reserved range of virtual memory that holds every frame, buffer and
// stack the memory manager owns. A 32-bit word stores an arena address as the byte offset from
// the base; 0 is null. Pages are committed when a block is taken and released when it is freed.
#pragma once
#include <span>
#include <cstddef>
#include <cstdint>

namespace zel {
using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i32 = std::int32_t;
using i64 = std::int64_t;
} // namespace zel

namespace zel::arena {

constexpr std::size_t page_size = 4096;

extern u8* base;

// Reserves the range (once per process). `limit` caps the bytes handed out; 0 means the
// whole 32-bit range.
void reserve(u64 limit = 0);
bool reserved();

// A block of whole pages, committed and zero-filled. Answers its offset, or 0 when the arena
// has no room left (the caller raises the out-of-memory error).
u32 take_pages(std::size_t bytes);
// The same, starting at a multiple of `align` (a power of two, a multiple of the page size), so
// that the block holding an address is found by masking it.
u32 take_aligned_pages(std::size_t bytes, u32 align);
void release_pages(u32 offset, std::size_t bytes);

// Large heap buffers of the runtime (see host_memory.cpp) count against the same cap.
void add_host_bytes(i64 bytes);
u64 host_bytes();
// Whether `bytes` more fit under the cap (below the headroom unless it is open).
bool fits(u64 bytes);

// Whether [offset, offset + bytes) lies in blocks that are taken (committed).
bool committed(u32 offset, u32 bytes);

// Bytes currently handed out, and the cap.
u64 bytes_in_use();
// The arena's own counters (sizes and offsets, never references to nodes): the scan that keeps
// node frames in place while C++ code may hold their nodes leaves them out.
struct host_range {
    const void* at;
    std::size_t bytes;
};
std::span<const host_range> own_statics();
u64 limit();
// Tests shrink the cap to reach the out-of-memory path; 0 restores the whole range.
void set_limit(u64 limit);

// The last stretch below the cap is kept back: ordinary takes stop short of it, so that raising
// the out-of-memory error, and the handler that catches it, still find room. Opening it lets
// takes reach the cap; it closes again once enough was given back.
u64 headroom();
void open_headroom();
bool headroom_open();
// Closes the headroom when the bytes in use leave it free again; answers whether it is closed.
bool close_headroom();

inline u8* ptr(u32 offset) { return base + offset; }
template <class T> inline T* at(u32 offset) { return reinterpret_cast<T*>(base + offset); }
inline u32 offset_of(const void* p) {
    return static_cast<u32>(static_cast<const u8*>(p) - base);
}
inline bool contains(const void* p) {
    auto q = static_cast<const u8*>(p);
    return q >= base && q < base + (u64(1) << 32);
}

} // namespace zel::arena
