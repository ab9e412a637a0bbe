// The boot payload's directory: a CRC-32 of what follows, module count, then per module its path
// and its serialized data, each with a 32-bit length, all inside the LZ-compressed block that the
// build made.
#include "lexer/boot_payload.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include "lexer/lz.hpp"
#include "runtime/checksum.hpp"
#include "runtime/embedded.hpp"
#include "runtime/process.hpp"

namespace zel::boot_payload {

namespace {

struct entry {
    std::string_view path;
    std::span<const u8> data;
};

[[noreturn]] void corrupted() {
    std::fflush(stdout);
    std::fputs("Error: Zelbin compressed data corrupted!\n", stdout);
    std::fflush(stdout);
    runtime::exit_process(1);
}

const std::vector<entry>& directory() {
    static std::vector<u8> expanded;
    static std::vector<entry> entries;
    static bool ready = false;
    if (ready) return entries;
    auto out = lz::decompress(embedded::payload, embedded::payload_size, std::size_t{1} << 28);
    if (!out) corrupted();
    expanded = std::move(*out);
    const u8* p = expanded.data();
    const u8* end = p + expanded.size();
    auto u32_at = [&](const u8* q) {
        return q[0] | q[1] << 8 | q[2] << 16 | static_cast<u32>(q[3]) << 24;
    };
    auto take_u32 = [&]() {
        if (end - p < 4) corrupted();
        u32 v = u32_at(p);
        p += 4;
        return v;
    };
    u32 crc = take_u32();
    if (checksum::crc32(p, static_cast<std::size_t>(end - p)) != crc) corrupted();
    u32 n = take_u32();
    for (u32 i = 0; i < n; i++) {
        u32 len = take_u32();
        if (static_cast<std::size_t>(end - p) < len) corrupted();
        std::string_view path(reinterpret_cast<const char*>(p), len);
        p += len;
        u32 size = take_u32();
        if (static_cast<std::size_t>(end - p) < size) corrupted();
        entries.push_back({path, std::span<const u8>(p, size)});
        p += size;
    }
    if (p != end) corrupted();
    ready = true;
    return entries;
}

} // namespace

std::span<const u8> module_data(std::string_view path) {
    for (const entry& e : directory())
        if (e.path == path) return e.data;
    return {};
}

} // namespace zel::boot_payload
