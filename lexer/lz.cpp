// The boot payload's LZ codec. The compressor (used by the build-time payload tool only) finds
// copies through a 3-byte head and 4-byte hash chains over a 256 KiB window; the decompressor
// checks every chunk size, copy source and copy end against the chunk and the input.
#include "lexer/lz.hpp"

#include <algorithm>
#include <cstring>

namespace zel::lz {

namespace {

using u8 = std::uint8_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;

constexpr u32 chunk_size = 1u << 20;
constexpr u32 window = 262144;
constexpr u32 max_copy = 566;

u32 read_u32(const u8* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<u32>(p[3]) << 24;
}

class bit_reader {
  public:
    bit_reader(const u8* p, const u8* end) : p_(p), end_(end) {}
    // False when the input ends first.
    bool get(int n, u32* value) {
        if (count_ < n) {
            while (count_ <= 56 && p_ < end_) {
                buf_ |= static_cast<u64>(*p_++) << count_;
                count_ += 8;
            }
            if (count_ < n) return false;
        }
        *value = static_cast<u32>(buf_ & ((1ull << n) - 1));
        buf_ >>= n;
        count_ -= n;
        return true;
    }
    // The first byte no symbol touched: whole bytes read ahead are given back.
    const u8* position() const { return p_ - count_ / 8; }

  private:
    const u8* p_;
    const u8* end_;
    u64 buf_ = 0;
    int count_ = 0;
};

class bit_writer {
  public:
    explicit bit_writer(std::vector<u8>& out) : out_(out) {}
    void put(u32 value, int n) {
        buf_ |= static_cast<u64>(value) << count_;
        count_ += n;
        while (count_ >= 8) {
            out_.push_back(static_cast<u8>(buf_));
            buf_ >>= 8;
            count_ -= 8;
        }
    }
    void align() {
        if (count_ > 0) out_.push_back(static_cast<u8>(buf_));
        buf_ = 0;
        count_ = 0;
    }

  private:
    std::vector<u8>& out_;
    u64 buf_ = 0;
    int count_ = 0;
};

// The length code of L = copy length - 3 (0 to 563).
void put_length(bit_writer& w, u32 l) {
    if (l < 4)
        w.put(1 | l << 1, 3);
    else if (l < 8)
        w.put(2 | (l - 4) << 2, 4);
    else if (l < 12)
        w.put(4 | (l - 8) << 3, 5);
    else if (l < 20)
        w.put(8 | (l - 12) << 4, 7);
    else if (l < 52)
        w.put(16 | (l - 20) << 5, 10);
    else
        w.put((l - 52) << 5, 14);
}

// The distance code of d = distance - 1 (0 to 262,143).
void put_distance(bit_writer& w, u32 d) {
    u32 k = 2;
    while (d >= (1u << (k + 1))) k++;
    w.put(k - 2, 4);
    if (k == 2)
        w.put(d, 3);
    else
        w.put(d - (1u << k), static_cast<int>(k));
}

void compress_chunk(const u8* src, u32 n, std::vector<u8>& out, std::vector<int>& head3,
                    std::vector<int>& head4, std::vector<int>& chain) {
    std::fill(head3.begin(), head3.end(), -1);
    std::fill(head4.begin(), head4.end(), -1);
    for (int i = 0; i < 4; i++) out.push_back(static_cast<u8>(n >> (8 * i)));
    bit_writer w(out);
    auto h3_at = [&](u32 i) { return ((src[i] << 14) ^ (src[i + 1] << 7) ^ src[i + 2]) & 0x7FFFF; };
    auto h4_at = [&](u32 i) {
        return ((src[i] << 15) ^ (src[i + 1] << 10) ^ (src[i + 2] << 5) ^ src[i + 3]) & 0xFFFFF;
    };
    auto insert = [&](u32 i) {
        if (i + 3 <= n) head3[h3_at(i)] = static_cast<int>(i);
        if (i + 4 <= n) {
            u32 h = h4_at(i);
            chain[i % window] = head4[h];
            head4[h] = static_cast<int>(i);
        }
    };
    u32 i = 0;
    while (i < n) {
        u32 most = std::min(max_copy, n - i);
        u32 best = 2, best_distance = 0;
        long lowest = static_cast<long>(i) - window;
        if (most >= 3) {
            int c = head3[h3_at(i)];
            if (c >= 0 && c > lowest && src[c] == src[i]) {
                u32 len = 0;
                while (len < most && src[c + len] == src[i + len]) len++;
                if (len > best) {
                    best = len;
                    best_distance = i - c;
                }
            }
        }
        if (most >= 4 && best < max_copy) {
            int c = head4[h4_at(i)];
            for (int steps = 0; steps < 256 && c >= 0 && c > lowest; steps++) {
                if (src[c] == src[i] && (best >= most || src[c + best] == src[i + best])) {
                    u32 len = 0;
                    while (len < most && src[c + len] == src[i + len]) len++;
                    u32 distance = i - c;
                    // A farther copy must be longer by the eighths of its distance it adds.
                    u32 penalty = 0;
                    if (best_distance)
                        for (u32 q = distance / 16; q > best_distance; q /= 8) penalty++;
                    if (len > best + penalty) {
                        best = len;
                        best_distance = distance;
                        if (len >= most) break;
                    }
                }
                c = chain[static_cast<u32>(c) % window];
            }
        }
        if (best == 3 && best_distance > 65536) best = 2;
        if (best < 3) {
            w.put(src[i] << 1, 9);
            insert(i);
            i++;
            continue;
        }
        w.put(1, 1);
        put_length(w, best - 3);
        put_distance(w, best_distance - 1);
        for (u32 k = 0; k < best; k++) insert(i + k);
        i += best;
    }
    w.align();
}

} // namespace

std::optional<std::vector<u8>> decompress(const u8* block, std::size_t length,
                                          std::size_t max_size) {
    if (length < 8) return std::nullopt;
    u32 packed = read_u32(block), unpacked = read_u32(block + 4);
    // A copy of 566 bytes takes at least 22 bits: no stream expands more than 206 times, so a
    // stated size beyond that is a lie, refused before it drives the allocation.
    if (packed > length - 8 || unpacked > max_size || unpacked > u64{packed} * 207)
        return std::nullopt;
    std::vector<u8> out(unpacked);
    std::size_t n = 0;
    const u8* p = block + 8;
    const u8* end = p + packed;
    while (p < end) {
        if (end - p < 4) return std::nullopt;
        u32 size = read_u32(p);
        p += 4;
        if (size < 1 || size > chunk_size || size > unpacked - n) return std::nullopt;
        std::size_t start = n, stop = n + size;
        bit_reader r(p, end);
        while (n < stop) {
            u32 bit, v;
            if (!r.get(1, &bit)) return std::nullopt;
            if (!bit) {
                if (!r.get(8, &v)) return std::nullopt;
                out[n++] = static_cast<u8>(v);
                continue;
            }
            u32 l = 0, prefix = 0;
            static const u32 bases[6] = {0, 4, 8, 12, 20, 52};
            static const int widths[6] = {2, 2, 2, 3, 5, 9};
            while (prefix < 5) {
                if (!r.get(1, &bit)) return std::nullopt;
                if (bit) break;
                prefix++;
            }
            if (!r.get(widths[prefix], &v)) return std::nullopt;
            l = bases[prefix] + v;
            u32 e, d;
            if (!r.get(4, &e)) return std::nullopt;
            u32 k = e + 2;
            if (!r.get(k == 2 ? 3 : static_cast<int>(k), &d)) return std::nullopt;
            if (k > 2) d += 1u << k;
            std::size_t copy = l + 3, distance = std::size_t{d} + 1;
            if (distance > n - start || copy > stop - n) return std::nullopt;
            for (std::size_t j = 0; j < copy; j++, n++) out[n] = out[n - distance];
        }
        p = r.position();
    }
    if (n != unpacked) return std::nullopt;
    return out;
}

std::optional<std::vector<u8>> compress(const u8* source, std::size_t length) {
    if (length < 128 || length >= 0xFFFFFFFFu) return std::nullopt;
    std::vector<u8> out(8, 0);
    std::vector<int> head3(1u << 19), head4(1u << 20), chain(window);
    for (std::size_t at = 0; at < length; at += chunk_size) {
        u32 n = static_cast<u32>(std::min<std::size_t>(chunk_size, length - at));
        compress_chunk(source + at, n, out, head3, head4, chain);
        if (out.size() >= length) return std::nullopt;
    }
    u32 packed = static_cast<u32>(out.size() - 8), unpacked = static_cast<u32>(length);
    for (int i = 0; i < 4; i++) {
        out[i] = static_cast<u8>(packed >> (8 * i));
        out[4 + i] = static_cast<u8>(unpacked >> (8 * i));
    }
    return out;
}

} // namespace zel::lz
