// Large heap buffers count against the arena's cap. Code that copies a value's contents out to
// the heap (code point arrays, encodings, sort orders) needs as much again as the value: with
// values near the cap such a copy would take the process far past it. Every heap block of at
// least `large` bytes is counted, and one that would pass the cap raises the out-of-memory error
// instead of being made. Nothing collects here: the caller may hold buffer addresses.
#include <cstdlib>
#include <malloc.h>
#include <new>

#include "runtime/arena.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

#ifndef ZEL_SANITIZE // the sanitizers keep their own allocator

namespace {
constexpr std::size_t large = std::size_t(1) << 20;

// Whether the language error may be raised here: after start-up (the prepared error exists), on
// the running interpreter, outside a collection.
bool may_refuse() {
    return zel::memory::no_memory_ready() && !zel::gc::collecting;
}

void* allocate(std::size_t size) {
    if (size >= large && may_refuse() && !zel::arena::fits(size)) zel::memory::no_memory();
    void* p = std::malloc(size ? size : 1);
    if (!p) {
        if (may_refuse()) zel::memory::no_memory();
        throw std::bad_alloc();
    }
    std::size_t usable = malloc_usable_size(p);
    if (usable >= large) zel::arena::add_host_bytes(static_cast<zel::i64>(usable));
    return p;
}

void release(void* p) noexcept {
    if (!p) return;
    std::size_t usable = malloc_usable_size(p);
    if (usable >= large) zel::arena::add_host_bytes(-static_cast<zel::i64>(usable));
    std::free(p);
}
} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    void* p = std::malloc(size ? size : 1);
    if (p && malloc_usable_size(p) >= large) zel::arena::add_host_bytes(malloc_usable_size(p));
    return p;
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept {
    return operator new(size, t);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}

#endif
