// Node evacuation. The nodes of a frame move only when every reference to them is one the
// collector rewrites while it marks: a value outside the arena that could be a node of the frame
// (C++ locals, registers, statics) keeps the whole frame in place. Old nodes keep their contents
// until the frame is released at the end of the collection, so reading through one during the
// collection still finds its buffer.
#include "runtime/evacuation.hpp"

#include <algorithm>
#include <link.h>
#include <memory>
#include <pthread.h>
#include <ucontext.h>
#include <utility>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"

namespace zel::gc::evacuation {

namespace detail {
bool map_live = false;
}

namespace {
hash_index::address_map* map = nullptr;

node_frame* frame_of(u32 f) {
    return arena::at<node_frame>(f);
}
u32 first_node(u32 f) {
    return f + sizeof(node_frame);
}
u32 past_node(u32 f) {
    return first_node(f) + 4 * frame_of(f)->node_count;
}
u32 word_at(u32 offset) {
    return *arena::at<u32>(offset);
}

// A used node: it holds a committed buffer whose back pointer names it.
bool holds_own_buffer(u32 node, u32 at) {
    if (!arena::committed(at, sizeof(series_buffer))) return false;
    series_buffer* b = buffer_at(at);
    return b->node == node && (b->flags & buffer_flag::in_use);
}

// Every node of the frame is free or holds its own buffer, and the counts agree: a node taken but
// not yet given its buffer (a series being made) keeps the frame in place.
bool movable(u32 f) {
    u32 first = first_node(f), past = past_node(f);
    u32 zeros = 0, used = 0;
    for (u32 n = first; n < past; n += 4) {
        u32 v = word_at(n);
        if (v == 0) {
            zeros++;
        } else if (v < first || v >= past) {
            if (!holds_own_buffer(n, v)) return false;
            used++;
        }
    }
    node_frame* x = frame_of(f);
    return used == x->used && zeros == (x->free_list ? 1u : 0u);
}

bool can_receive(u32 f, u32 from) {
    node_frame* x = frame_of(f);
    return f != from && x->free_list && !x->evacuated;
}

u32 room_outside(u32 from) {
    u64 room = 0;
    for (u32 f = memory::mem.first_node_frame; f; f = frame_of(f)->next)
        if (can_receive(f, from)) room += frame_of(f)->node_count - frame_of(f)->used;
    return static_cast<u32>(std::min<u64>(room, 0xFFFFFFFFu));
}

// Moves the used nodes of `from` into the free nodes of the frames from `target` on.
void move_nodes(u32 from, u32& target, std::vector<u32>& received) {
    if (!map) {
        map = hash_index::make_address_map(map_capacity);
        detail::map_live = true;
    }
    u32 first = first_node(from), past = past_node(from);
    node_frame* x = frame_of(from);
    for (u32 n = first; n < past; n += 4) {
        u32 v = word_at(n);
        if (v == 0 || (v >= first && v < past)) continue;
        while (!can_receive(target, from))
            target = frame_of(target)->next ? frame_of(target)->next : memory::mem.first_node_frame;
        node_frame* t = frame_of(target);
        u32 to = t->free_list;
        t->free_list = word_at(to);
        t->used++;
        if (received.empty() || received.back() != target) received.push_back(target);
        *arena::at<u32>(to) = v;
        buffer_at(v)->node = to;
        hash_index::address_map_put(map, n, to);
        x->used--;
    }
    x->evacuated = 1;
}

u8* stack_top() {
    thread_local u8* top = nullptr;
    if (!top) {
        pthread_attr_t attr;
        void* low = nullptr;
        std::size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstack(&attr, &low, &size);
            pthread_attr_destroy(&attr);
        }
        top = static_cast<u8*>(low) + size;
    }
    return top;
}

// The writable segments of the program itself (its .data and .bss), found once.
const std::vector<std::pair<const u8*, const u8*>>& static_data() {
    static std::vector<std::pair<const u8*, const u8*>> ranges = [] {
        std::vector<std::pair<const u8*, const u8*>> found;
        dl_iterate_phdr(
            [](dl_phdr_info* info, std::size_t, void* out) {
                auto* list = static_cast<std::vector<std::pair<const u8*, const u8*>>*>(out);
                // The relocation table and the other read-only-after-start data (RELRO) start
                // a writable segment; nothing can store a node there, and the low halves of its
                // addresses would only pin frames by accident.
                const u8* relro_end = nullptr;
                for (int i = 0; i < info->dlpi_phnum; i++) {
                    const ElfW(Phdr)& p = info->dlpi_phdr[i];
                    if (p.p_type == PT_GNU_RELRO)
                        relro_end = reinterpret_cast<const u8*>(info->dlpi_addr + p.p_vaddr) +
                                    p.p_memsz;
                }
                for (int i = 0; i < info->dlpi_phnum; i++) {
                    const ElfW(Phdr)& p = info->dlpi_phdr[i];
                    if (p.p_type != PT_LOAD || !(p.p_flags & PF_W)) continue;
                    auto* at = reinterpret_cast<const u8*>(info->dlpi_addr + p.p_vaddr);
                    const u8* end = at + p.p_memsz;
                    if (relro_end && relro_end > at && relro_end <= end) at = relro_end;
                    if (at < end) list->push_back({at, end});
                }
                return 1; // the first object is the program
            },
            &found);
        // The allocator's own records hold frame offsets and byte counts that may look like
        // nodes: cut them out of the ranges.
        std::vector<std::pair<const u8*, const u8*>> skip;
        for (const arena::host_range& r : arena::own_statics())
            skip.push_back({static_cast<const u8*>(r.at), static_cast<const u8*>(r.at) + r.bytes});
        skip.push_back({reinterpret_cast<const u8*>(&memory::mem),
                        reinterpret_cast<const u8*>(&memory::mem + 1)});
        for (const auto& [from, to] : skip) {
            std::vector<std::pair<const u8*, const u8*>> cut;
            for (const auto& [a, b] : found) {
                if (to <= a || from >= b) {
                    cut.push_back({a, b});
                    continue;
                }
                if (a < from) cut.push_back({a, from});
                if (to < b) cut.push_back({to, b});
            }
            found.swap(cut);
        }
        return found;
    }();
    return ranges;
}

void pin(u32 v, const areas& a) {
    const u32* at = std::upper_bound(a.first, a.first + a.count, v);
    if (at == a.first) return;
    u32 i = static_cast<u32>(at - a.first - 1);
    if (v < a.past[i]) a.pinned[i] = true;
}
} // namespace

__attribute__((no_sanitize_address)) void scan_range(const void* from, const void* to,
                                                     const areas& a) {
    if (!a.count) return;
    u32 lo = a.first[0], span = a.past[a.count - 1] - lo;
    auto host_lo = reinterpret_cast<std::uintptr_t>(arena::base) + lo;
    auto p = (reinterpret_cast<std::uintptr_t>(from) + 3) & ~std::uintptr_t(3);
    auto end = reinterpret_cast<std::uintptr_t>(to);
    for (; p + 4 <= end; p += 4) {
        u32 v = *reinterpret_cast<const volatile u32*>(p);
        if (v - lo < span) pin(v, a);
        if ((p & 7) == 0 && p + 8 <= end) {
            std::uintptr_t q = *reinterpret_cast<const volatile u64*>(p);
            if (q - host_lo < span)
                pin(static_cast<u32>(q - reinterpret_cast<std::uintptr_t>(arena::base)), a);
        }
    }
}

__attribute__((noinline, no_sanitize_address)) void scan_outside_roots(const areas& a) {
    // The registers as they are here hold whatever the callers keep in callee-saved registers;
    // the callers' other values are in their frames above this one.
    ucontext_t registers;
    getcontext(&registers);
    scan_range(&registers, stack_top(), a);
    for (const auto& [from, to] : static_data()) scan_range(from, to, a);
}

bool run() {
    if (!gc::evacuation_allowed()) return false;
    using memory::mem;
    u32 current = 0;
    for (u32 f = mem.first_node_frame; f; f = frame_of(f)->next)
        if (frame_of(f)->free_list && !frame_of(f)->evacuated) {
            current = f;
            break;
        }
    if (!current) return false;
    mem.current_node_frame = current;
    u64 free = 0;
    for (u32 f = mem.first_node_frame; f; f = frame_of(f)->next)
        if (frame_of(f)->free_list && !frame_of(f)->evacuated)
            free += frame_of(f)->node_count - frame_of(f)->used;
    // Stress mode moves a frame every few collections, whatever its use, so that a node
    // reference the collector does not rewrite shows up at once instead of after a rare
    // evacuation. Not at every collection: stress collects at every allocation, and scanning
    // the roots and forwarding every reference each time would make the stress runs too slow.
    bool eager = gc::stress;
    if (eager && gc::series_cycles % stress_period != 0) return false;
    if (free <= spare_nodes && !eager) return false;

    std::vector<u32> candidates; // from the last frame to the first
    for (u32 f = mem.last_node_frame; f; f = frame_of(f)->prev) {
        node_frame* x = frame_of(f);
        bool qualifies = (x->history & stable_mask) == stable_mask && x->used < sparse_limit;
        // An empty frame has nothing to move: it goes back once it has stayed idle.
        if ((qualifies || eager) && f != current && !x->evacuated && x->used)
            candidates.push_back(f);
    }
    if (candidates.empty()) return false;

    std::vector<u32> sorted = candidates;
    std::sort(sorted.begin(), sorted.end());
    std::vector<u32> first(sorted.size()), past(sorted.size());
    std::unique_ptr<bool[]> pinned(new bool[sorted.size()]());
    for (std::size_t i = 0; i < sorted.size(); i++) {
        first[i] = first_node(sorted[i]);
        past[i] = past_node(sorted[i]);
    }
    areas a{first.data(), past.data(), static_cast<u32>(sorted.size()), pinned.get()};
    scan_outside_roots(a);
    auto is_pinned = [&](u32 f) {
        return pinned[std::lower_bound(sorted.begin(), sorted.end(), f) - sorted.begin()];
    };

    u32 target = current;
    std::vector<u32> received;
    if (eager) {
        // One frame, a different one each time; a frame of its own receives when others lack room.
        for (std::size_t k = 0; k < candidates.size(); k++) {
            u32 f = candidates[(k + gc::series_cycles / stress_period) % candidates.size()];
            if (is_pinned(f) || !movable(f)) continue;
            if (room_outside(f) < frame_of(f)->used) {
                u64 frame_bytes = sizeof(node_frame) + 4ull * memory::nodes_per_new_frame() + 4096;
                if (arena::bytes_in_use() + 2 * frame_bytes > arena::limit()) return false;
                memory::new_node_frame(memory::nodes_per_new_frame());
            }
            move_nodes(f, target, received);
            return true;
        }
        return false;
    }
    bool any = false;
    for (u32 f : candidates) {
        if (free <= spare_nodes) break;
        if (is_pinned(f) || std::find(received.begin(), received.end(), f) != received.end())
            continue;
        if (!movable(f) || room_outside(f) < frame_of(f)->used) continue;
        move_nodes(f, target, received);
        free -= spare_nodes;
        any = true;
    }
    return any;
}

u32 forward(u32 node) {
    if (!map) return node;
    u32* to = hash_index::address_map_find(map, node);
    return to ? *to : node;
}

void finish() {
    hash_index::free_address_map(map);
    map = nullptr;
    detail::map_live = false;
}

} // namespace zel::gc::evacuation
