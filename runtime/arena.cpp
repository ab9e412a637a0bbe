// The memory arena. Free ranges are kept in an ordered map and merged with their neighbours, so
// that frames released by the collector can be reused; the range above the highest block taken
// is handed out by bumping.
#include "runtime/arena.hpp"

#include <cstdlib>
#include <map>
#include <sys/mman.h>

namespace zel::arena {

u8* base = nullptr;

namespace {
constexpr u64 range = u64(1) << 32;
u64 cap = range;
u64 bump = page_size; // the first page stays unmapped so that offset 0 is null
u64 in_use = 0;
u64 host = 0; // large heap buffers, counted against the cap
bool headroom_in_use = false;
std::map<u32, u64> free_ranges; // offset -> bytes
constexpr std::size_t populate_threshold = 256 * 1024;

std::size_t round_pages(std::size_t bytes) { return (bytes + page_size - 1) & ~(page_size - 1); }

// Returns a range that is not committed (any more) to the free ranges, merged with its
// neighbours; the range just below the bump lowers the bump instead.
void release_pages_uncommitted(u32 offset, std::size_t size) {
    u64 start = offset, len = size;
    auto next = free_ranges.lower_bound(offset);
    if (next != free_ranges.end() && start + len == next->first) {
        len += next->second;
        next = free_ranges.erase(next);
    }
    if (next != free_ranges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == start) {
            start = prev->first;
            len += prev->second;
            free_ranges.erase(prev);
        }
    }
    if (start + len == bump) {
        bump = start;
    } else {
        free_ranges[static_cast<u32>(start)] = len;
    }
}
} // namespace

std::span<const host_range> own_statics() {
    static const host_range ranges[] = {{&cap, sizeof cap}, {&bump, sizeof bump},
                                        {&in_use, sizeof in_use}, {&host, sizeof host}};
    return ranges;
}

void reserve(u64 limit) {
    if (!base) {
        void* p = mmap(nullptr, range, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                       -1, 0);
        if (p == MAP_FAILED) std::abort();
        base = static_cast<u8*>(p);
    }
    set_limit(limit);
}

bool reserved() { return base != nullptr; }

void set_limit(u64 limit) { cap = (limit == 0 || limit > range) ? range : limit; }

u64 headroom() {
    // A sixty-fourth of the cap, between 1 MiB and 16 MiB.
    u64 h = cap / 64;
    return h < (u64(1) << 20) ? u64(1) << 20 : h > (u64(16) << 20) ? u64(16) << 20 : h;
}
void open_headroom() {
    headroom_in_use = true;
}
bool headroom_open() {
    return headroom_in_use;
}
bool close_headroom() {
    if (headroom_in_use && in_use + host + 2 * headroom() <= cap) headroom_in_use = false;
    return !headroom_in_use;
}
u64 limit() { return cap; }
u64 bytes_in_use() { return in_use; }

void add_host_bytes(i64 bytes) {
    host += bytes;
}
u64 host_bytes() {
    return host;
}
bool fits(u64 bytes) {
    return in_use + host + bytes + (headroom_in_use ? 0 : headroom()) <= cap;
}

bool committed(u32 offset, u32 bytes) {
    u64 end = u64(offset) + bytes;
    if (offset < page_size || end > bump) return false;
    auto next = free_ranges.upper_bound(offset);
    if (next != free_ranges.end() && next->first < end) return false;
    if (next == free_ranges.begin()) return true;
    auto prev = std::prev(next);
    return u64(prev->first) + prev->second <= offset;
}

namespace {
// Commits [offset, offset + size) taken from the free ranges or the bump; 0 when the system
// refuses (the range is given back).
u32 commit(u32 offset, std::size_t size) {
    if (mprotect(base + offset, size, PROT_READ | PROT_WRITE) != 0) {
        release_pages_uncommitted(offset, size);
        return 0;
    }
    in_use += size;
#ifdef MADV_POPULATE_WRITE
    // Large takes (series frames, big series) are filled at once: one call maps their pages
    // instead of a fault for every page on first touch. An older kernel refuses it harmlessly.
    if (size >= populate_threshold) madvise(base + offset, size, MADV_POPULATE_WRITE);
#endif
    return offset;
}
} // namespace

u32 take_pages(std::size_t bytes) {
    return take_aligned_pages(bytes, page_size);
}

u32 take_aligned_pages(std::size_t bytes, u32 align) {
    if (!base) reserve();
    std::size_t size = round_pages(bytes ? bytes : 1);
    if (!fits(size)) return 0;
    u64 mask = u64(align) - 1;
    for (auto it = free_ranges.begin(); it != free_ranges.end(); ++it) {
        u64 start = it->first, end = start + it->second;
        u64 at = (start + mask) & ~mask;
        if (at + size > end) continue;
        free_ranges.erase(it);
        if (at > start) free_ranges[static_cast<u32>(start)] = at - start;
        if (at + size < end) free_ranges[static_cast<u32>(at + size)] = end - at - size;
        return commit(static_cast<u32>(at), size);
    }
    u64 at = (bump + mask) & ~mask;
    if (at + size > range) return 0;
    u64 below = bump;
    bump = at + size;
    // The gap below an aligned take stays free for smaller blocks.
    if (at > below) release_pages_uncommitted(static_cast<u32>(below), at - below);
    return commit(static_cast<u32>(at), size);
}

void release_pages(u32 offset, std::size_t bytes) {
    std::size_t size = round_pages(bytes ? bytes : 1);
    // Give the pages back to the OS; a later take gets them zero-filled again.
    madvise(base + offset, size, MADV_DONTNEED);
    mprotect(base + offset, size, PROT_NONE);
    in_use -= size;
    release_pages_uncommitted(offset, size);
}

} // namespace zel::arena
