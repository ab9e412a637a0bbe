// DEFLATE, gzip and zlib. The compressor keeps the whole input in view and finds matches on hash
// chains with one step of lazy evaluation (at most 128 candidates, 32 once a match of 8 is held,
// an early stop at 128 bytes); blocks hold 16,384 symbols and each is written stored, with the
// fixed codes or with its own codes, whichever is smallest. The decompressor checks every length,
// distance and code set against what the input and the output hold.
#include "lexer/deflate.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/checksum.hpp"

namespace zel::deflate {

namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;

constexpr int max_match = 258;
constexpr int min_match = 3;
constexpr u32 window = 32768;
constexpr u32 max_distance = 32767;
constexpr int block_symbols = 16384;

// Base values and extra bits of the length codes 257..285 and the distance codes 0..29.
constexpr u16 length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr u8 length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr u16 distance_base[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr u8 distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr u8 code_length_order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

struct code_tables {
    u8 length_code[max_match + 1]; // length -> code - 257
    u8 distance_low[512];          // distance - 1 below 512 -> code; above: (d - 1) >> 8
    u8 distance_high[128];
    code_tables() {
        for (int c = 0; c < 29; c++) {
            int span = 1 << length_extra[c];
            for (int k = 0; k < span && length_base[c] + k <= max_match; k++)
                length_code[length_base[c] + k] = static_cast<u8>(c);
        }
        length_code[258] = 28;
        for (int c = 0; c < 30; c++) {
            u32 span = 1u << distance_extra[c];
            for (u32 k = 0; k < span; k++) {
                u32 d = distance_base[c] + k - 1;
                if (d < 512)
                    distance_low[d] = static_cast<u8>(c);
                else if ((d >> 8) < 128)
                    distance_high[d >> 8] = static_cast<u8>(c);
            }
        }
    }
    int distance_code(u32 d) const { // d is the distance minus one
        return d < 512 ? distance_low[d] : distance_high[d >> 8];
    }
};
const code_tables tables;

u32 reverse_bits(u32 code, int length) {
    u32 r = 0;
    for (int i = 0; i < length; i++, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Compression

// Code lengths of at most `limit` bits, minimal for the frequencies among those that fit.
void build_lengths(const u32* freq, int n, int limit, u8* lengths) {
    std::memset(lengths, 0, n);
    struct entry {
        u32 freq;
        u16 symbol;
    };
    entry used[288];
    int count = 0;
    for (int i = 0; i < n; i++)
        if (freq[i]) used[count++] = {freq[i], static_cast<u16>(i)};
    if (count < 2) {
        // A code needs two symbols: 0 and 1, or 0 and the one used.
        int other = count == 1 && used[0].symbol != 0 ? used[0].symbol : 1;
        lengths[0] = 1;
        lengths[other] = 1;
        return;
    }
    std::sort(used, used + count, [](const entry& a, const entry& b) {
        return a.freq != b.freq ? a.freq < b.freq : a.symbol < b.symbol;
    });
    // In-place minimum-redundancy lengths over the ascending frequencies.
    u32 a[288];
    for (int i = 0; i < count; i++) a[i] = used[i].freq;
    {
        int root = 0, leaf = 2;
        a[0] += a[1];
        for (int next = 1; next < count - 1; next++) {
            if (leaf >= count || a[root] < a[leaf]) {
                a[next] = a[root];
                a[root++] = next;
            } else {
                a[next] = a[leaf++];
            }
            if (leaf >= count || (root < next && a[root] < a[leaf])) {
                a[next] += a[root];
                a[root++] = next;
            } else {
                a[next] += a[leaf++];
            }
        }
        a[count - 2] = 0;
        for (int next = count - 3; next >= 0; next--) a[next] = a[a[next]] + 1;
        int avail = 1, used_nodes = 0, depth = 0, r = count - 2, next = count - 1;
        while (avail > 0) {
            while (r >= 0 && static_cast<int>(a[r]) == depth) {
                used_nodes++;
                r--;
            }
            while (avail > used_nodes) {
                a[next--] = depth;
                avail--;
            }
            avail = 2 * used_nodes;
            depth++;
            used_nodes = 0;
        }
    }
    // Fold lengths above the limit back until the Kraft sum fits.
    int per_length[33] = {};
    for (int i = 0; i < count; i++) per_length[std::min<u32>(a[i], 32)]++;
    for (int l = limit + 1; l <= 32; l++) {
        per_length[limit] += per_length[l];
        per_length[l] = 0;
    }
    u32 total = 0;
    for (int l = 1; l <= limit; l++) total += static_cast<u32>(per_length[l]) << (limit - l);
    while (total > (1u << limit)) {
        per_length[limit]--;
        for (int l = limit - 1; l > 0; l--)
            if (per_length[l]) {
                per_length[l]--;
                per_length[l + 1] += 2;
                break;
            }
        total--;
    }
    // The rarest symbols take the longest codes.
    int k = 0;
    for (int l = limit; l >= 1; l--)
        for (int j = 0; j < per_length[l]; j++) lengths[used[k++].symbol] = static_cast<u8>(l);
}

// Canonical codes, bit-reversed for sending lowest bit first.
void build_codes(const u8* lengths, int n, u16* codes) {
    u16 count[16] = {}, next[16] = {};
    for (int i = 0; i < n; i++) count[lengths[i]]++;
    count[0] = 0;
    u16 code = 0;
    for (int l = 1; l < 16; l++) {
        code = static_cast<u16>((code + count[l - 1]) << 1);
        next[l] = code;
    }
    for (int i = 0; i < n; i++)
        if (lengths[i]) codes[i] = static_cast<u16>(reverse_bits(next[lengths[i]]++, lengths[i]));
}

class bit_writer {
  public:
    explicit bit_writer(bytes& out) : out_(out) {}
    void put(u32 value, int bits) {
        buf_ |= static_cast<u64>(value) << count_;
        count_ += bits;
        if (count_ >= 32) {
            u8 four[4] = {static_cast<u8>(buf_), static_cast<u8>(buf_ >> 8),
                          static_cast<u8>(buf_ >> 16), static_cast<u8>(buf_ >> 24)};
            out_.insert(out_.end(), four, four + 4);
            buf_ >>= 32;
            count_ -= 32;
        }
    }
    // Pads with zero bits to the byte.
    void align() {
        while (count_ > 0) {
            out_.push_back(static_cast<u8>(buf_));
            buf_ >>= 8;
            count_ = count_ > 8 ? count_ - 8 : 0;
        }
        buf_ = 0;
    }
    int pending_bits() const { return count_; }
    bytes& out() { return out_; }

  private:
    bytes& out_;
    u64 buf_ = 0;
    int count_ = 0;
};

// A buffered symbol: a literal byte, or a copy (distance << 8 | length - 3) with bit 31 set.
constexpr u32 copy_flag = 0x80000000u;

class compressor {
  public:
    compressor(const u8* src, u32 length, bytes& out) : src_(src), length_(length), bits_(out) {
        int b = 8;
        while (b < 15 && (1u << b) < length) b++;
        hash_mask_ = (1u << b) - 1;
        head_.assign(hash_mask_ + 1, 0);
        u32 chain_size = 256;
        while (chain_size < window && chain_size < length) chain_size <<= 1;
        chain_.assign(chain_size, 0);
        chain_mask_ = chain_size - 1;
        symbols_.reserve(block_symbols);
    }

    void run() {
        u32 hash = length_ > 2 ? ((src_[0] << 5) ^ src_[1]) & hash_mask_ : 0;
        u32 pos = 0;
        u32 match_length = min_match - 1, match_start = 0;
        bool pending = false;
        auto insert = [&](u32 p) -> u32 {
            hash = ((hash << 5) ^ src_[p + 2]) & hash_mask_;
            u32 old = head_[hash];
            chain_[p & chain_mask_] = old;
            head_[hash] = p;
            return old;
        };
        const u32 last_insert = length_ >= min_match ? length_ - min_match : 0;
        while (pos < length_) {
            u32 candidate = 0;
            if (length_ >= min_match && pos <= last_insert) candidate = insert(pos);
            u32 prev_length = match_length, prev_start = match_start;
            match_length = min_match - 1;
            if (candidate != 0 && prev_length < 16 && pos - candidate <= max_distance) {
                match_length = longest_match(pos, candidate, prev_length);
                if (match_length == min_match && pos - match_start_ > 4096)
                    match_length = min_match - 1;
                match_start = match_start_;
            }
            if (prev_length >= min_match && match_length <= prev_length) {
                // The previous position's match wins; skip over it.
                emit_copy(pos - 1 - prev_start, prev_length); // distance, length
                u32 end = pos - 1 + prev_length;
                for (u32 p = pos + 1; p < end; p++)
                    if (p <= last_insert) insert(p);
                pos = end;
                pending = false;
                match_length = min_match - 1;
            } else if (pending) {
                emit_literal(src_[pos - 1]);
                pos++;
            } else {
                pending = true;
                pos++;
            }
        }
        if (pending) emit_literal(src_[pos - 1]);
        write_block(true);
        bits_.align();
    }

  private:
    // The longest match at `pos`, longer than `best`; sets match_start_.
    u32 longest_match(u32 pos, u32 candidate, u32 best) {
        u32 chain = best >= 8 ? 32 : 128;
        u32 most = std::min<u32>(max_match, length_ - pos);
        u32 nice = std::min<u32>(128, most);
        u32 limit = pos > max_distance ? pos - max_distance : 0;
        const u8* scan = src_ + pos;
        if (best >= most) return best;
        u32 best_len = std::max<u32>(best, min_match - 1);
        do {
            const u8* m = src_ + candidate;
            if (m[best_len] != scan[best_len] || m[best_len - 1] != scan[best_len - 1] ||
                m[0] != scan[0] || m[1] != scan[1])
                continue;
            u32 len = 2;
            while (len + 8 <= most) {
                u64 x, y;
                std::memcpy(&x, m + len, 8);
                std::memcpy(&y, scan + len, 8);
                if (x != y) {
                    len += static_cast<u32>(__builtin_ctzll(x ^ y)) >> 3;
                    goto measured;
                }
                len += 8;
            }
            while (len < most && m[len] == scan[len]) len++;
        measured:
            if (len > best_len) {
                match_start_ = candidate;
                best_len = len;
                if (len >= nice) break;
            }
        } while ((candidate = chain_[candidate & chain_mask_]) > limit && --chain != 0);
        return best_len;
    }

    void emit_literal(u8 byte) {
        symbols_.push_back(byte);
        lit_freq_[byte]++;
        done_++;
        if (symbols_.size() >= block_symbols) write_block(false);
    }

    void emit_copy(u32 distance, u32 length) {
        u32 distance_minus_1 = distance - 1;
        symbols_.push_back(copy_flag | (distance_minus_1 << 8) | (length - min_match));
        lit_freq_[257 + tables.length_code[length]]++;
        dist_freq_[tables.distance_code(distance_minus_1)]++;
        done_ += length;
        if (symbols_.size() >= block_symbols) write_block(false);
    }

    u64 symbol_bits(const u8* lit_len, const u8* dist_len) const {
        u64 bits = 0;
        for (int i = 0; i < 286; i++) {
            if (!lit_freq_[i]) continue;
            u64 l = lit_len[i] + (i > 256 ? length_extra[i - 257] : 0);
            bits += l * lit_freq_[i];
        }
        for (int i = 0; i < 30; i++)
            if (dist_freq_[i])
                bits += static_cast<u64>(dist_len[i] + distance_extra[i]) * dist_freq_[i];
        return bits;
    }

    void write_symbols(const u16* lit_code, const u8* lit_len, const u16* dist_code,
                       const u8* dist_len) {
        for (u32 s : symbols_) {
            if (!(s & copy_flag)) {
                bits_.put(lit_code[s], lit_len[s]);
                continue;
            }
            u32 length = (s & 0xFF) + min_match;
            u32 d = (s & ~copy_flag) >> 8;
            int lc = tables.length_code[length];
            bits_.put(lit_code[257 + lc], lit_len[257 + lc]);
            if (length_extra[lc]) bits_.put(length - length_base[lc], length_extra[lc]);
            int dc = tables.distance_code(d);
            bits_.put(dist_code[dc], dist_len[dc]);
            if (distance_extra[dc]) bits_.put(d + 1 - distance_base[dc], distance_extra[dc]);
        }
        bits_.put(lit_code[256], lit_len[256]);
    }

    void write_block(bool final) {
        lit_freq_[256] = 1;
        u8 lit_len[286], dist_len[30];
        build_lengths(lit_freq_, 286, 15, lit_len);
        build_lengths(dist_freq_, 30, 15, dist_len);
        int hlit = 286, hdist = 30;
        while (hlit > 257 && !lit_len[hlit - 1]) hlit--;
        while (hdist > 1 && !dist_len[hdist - 1]) hdist--;

        // Run-length code of the code lengths: (symbol, extra value) pairs.
        u8 seq[316];
        std::memcpy(seq, lit_len, hlit);
        std::memcpy(seq + hlit, dist_len, hdist);
        int n = hlit + hdist;
        u8 rle_sym[316], rle_extra[316];
        int rle = 0;
        u32 cl_freq[19] = {};
        auto push = [&](int sym, int extra) {
            rle_sym[rle] = static_cast<u8>(sym);
            rle_extra[rle++] = static_cast<u8>(extra);
            cl_freq[sym]++;
        };
        for (int i = 0; i < n;) {
            int v = seq[i], run = 1;
            while (i + run < n && seq[i + run] == v) run++;
            i += run;
            if (v == 0) {
                while (run >= 11) {
                    int r = std::min(run, 138);
                    push(18, r - 11);
                    run -= r;
                }
                if (run >= 3) {
                    push(17, run - 3);
                    run = 0;
                }
            } else {
                push(v, 0);
                run--;
                while (run >= 3) {
                    int r = std::min(run, 6);
                    push(16, r - 3);
                    run -= r;
                }
            }
            while (run-- > 0) push(v, 0);
        }
        u8 cl_len[19];
        build_lengths(cl_freq, 19, 7, cl_len);
        int hclen = 19;
        while (hclen > 4 && !cl_len[code_length_order[hclen - 1]]) hclen--;

        static const struct fixed_codes {
            u8 lit_len[288], dist_len[30];
            u16 lit_code[288], dist_code[30];
            fixed_codes() {
                for (int i = 0; i < 288; i++)
                    lit_len[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
                for (int i = 0; i < 30; i++) dist_len[i] = 5;
                build_codes(lit_len, 288, lit_code);
                build_codes(dist_len, 30, dist_code);
            }
        } fixed;

        u64 dynamic_cost = 3 + 14 + 3 * static_cast<u64>(hclen);
        for (int i = 0; i < rle; i++) {
            int s = rle_sym[i];
            dynamic_cost += cl_len[s] + (s == 16 ? 2 : s == 17 ? 3 : s == 18 ? 7 : 0);
        }
        dynamic_cost += symbol_bits(lit_len, dist_len);
        u64 fixed_cost = 3 + symbol_bits(fixed.lit_len, fixed.dist_len);
        u32 size = done_ - block_start_;
        u32 pieces = size == 0 ? 1 : (size + 65534) / 65535;
        u64 stored_cost = (8 - ((bits_.pending_bits() + 3) % 8)) % 8 + 3 + 32 +
                          40 * static_cast<u64>(pieces - 1) + 8 * static_cast<u64>(size);

        if (stored_cost <= dynamic_cost && stored_cost <= fixed_cost) {
            u32 at = block_start_;
            for (u32 p = 0; p < pieces; p++) {
                u32 piece = std::min<u32>(65535, done_ - at);
                bits_.put(final && p + 1 == pieces ? 1 : 0, 3);
                bits_.align();
                bytes& out = bits_.out();
                u8 head[4] = {static_cast<u8>(piece), static_cast<u8>(piece >> 8),
                              static_cast<u8>(~piece), static_cast<u8>(~piece >> 8)};
                out.insert(out.end(), head, head + 4);
                out.insert(out.end(), src_ + at, src_ + at + piece);
                at += piece;
            }
        } else if (dynamic_cost < fixed_cost) {
            bits_.put(final ? 5 : 4, 3);
            bits_.put(hlit - 257, 5);
            bits_.put(hdist - 1, 5);
            bits_.put(hclen - 4, 4);
            for (int i = 0; i < hclen; i++) bits_.put(cl_len[code_length_order[i]], 3);
            u16 cl_code[19];
            build_codes(cl_len, 19, cl_code);
            for (int i = 0; i < rle; i++) {
                int s = rle_sym[i];
                bits_.put(cl_code[s], cl_len[s]);
                if (s == 16)
                    bits_.put(rle_extra[i], 2);
                else if (s == 17)
                    bits_.put(rle_extra[i], 3);
                else if (s == 18)
                    bits_.put(rle_extra[i], 7);
            }
            u16 lit_code[286], dist_code[30];
            build_codes(lit_len, 286, lit_code);
            build_codes(dist_len, 30, dist_code);
            write_symbols(lit_code, lit_len, dist_code, dist_len);
        } else {
            bits_.put(final ? 3 : 2, 3);
            write_symbols(fixed.lit_code, fixed.lit_len, fixed.dist_code, fixed.dist_len);
        }
        symbols_.clear();
        std::memset(lit_freq_, 0, sizeof lit_freq_);
        std::memset(dist_freq_, 0, sizeof dist_freq_);
        block_start_ = done_;
    }

    const u8* src_;
    u32 length_;
    bit_writer bits_;
    u32 hash_mask_ = 0, chain_mask_ = 0;
    std::vector<u32> head_, chain_;
    std::vector<u32> symbols_;
    u32 lit_freq_[288] = {}, dist_freq_[32] = {};
    u32 match_start_ = 0;
    u32 done_ = 0, block_start_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Decompression

constexpr int fast_bits = 10;

// A code decoded by a table of its first `fast_bits` bits, and by the canonical counts for the
// longer codes (which are rare).
struct decoder {
    u16 fast[1 << fast_bits]; // symbol << 4 | length; 0: a longer code or no code at all
    u16 count[16];
    u16 symbols[288];
    bool usable = false;

    // False for an over-subscribed or an incomplete set (one code of length 1 is allowed, and
    // no code at all when `may_be_empty`: a block of literals only has no distances).
    bool build(const u8* lengths, int n, bool may_be_empty) {
        std::memset(count, 0, sizeof count);
        for (int i = 0; i < n; i++) count[lengths[i]]++;
        count[0] = 0;
        int used = 0;
        for (int l = 1; l < 16; l++) used += count[l];
        std::memset(fast, 0, sizeof fast);
        usable = used > 0;
        if (used == 0) return may_be_empty;
        int left = 1;
        for (int l = 1; l < 16; l++) {
            left <<= 1;
            left -= count[l];
            if (left < 0) return false;
        }
        if (left > 0 && !(used == 1 && count[1] == 1)) return false;
        u16 offs[16];
        offs[1] = 0;
        for (int l = 1; l < 15; l++) offs[l + 1] = offs[l] + count[l];
        for (int i = 0; i < n; i++)
            if (lengths[i]) symbols[offs[lengths[i]]++] = static_cast<u16>(i);
        // Fill the fast table from the canonical codes.
        u32 code = 0;
        int k = 0;
        for (int l = 1; l <= fast_bits; l++) {
            for (int j = 0; j < count[l]; j++, k++, code++) {
                u32 rev = reverse_bits(code, l);
                for (u32 fill = rev; fill < (1u << fast_bits); fill += 1u << l)
                    fast[fill] = static_cast<u16>(symbols[k] << 4 | l);
            }
            code <<= 1;
        }
        return true;
    }
};

class inflater {
  public:
    inflater(const u8* src, std::size_t length, bytes& out, std::size_t limit)
        : src_(src), length_(length), out_(out), limit_(limit) {}

    int run() {
        bool final = false;
        while (!final) {
            if (!need(3)) return bad_data;
            final = take(1);
            int type = static_cast<int>(take(2));
            int r;
            if (type == 0)
                r = stored();
            else if (type == 1)
                r = fixed();
            else if (type == 2)
                r = dynamic();
            else
                r = block_type_3;
            if (r != ok) return r;
        }
        if (overrun()) return bad_data;
        return ok;
    }

    // Bytes of the input used, counting the last partly used byte.
    std::size_t consumed() const { return pos_ + pad_ - bit_count_ / 8; }

  private:
    bool overrun() const { return consumed() > length_; }

    // Loads at least `n` bits (n <= 56); past the end of the input zero bytes stand in, a few
    // only, so that a stream cut short fails instead of decoding zeros for ever.
    bool need(int n) {
        if (bit_count_ >= n) return true;
        if (pos_ + 8 <= length_) {
            u64 w;
            std::memcpy(&w, src_ + pos_, 8);
            buf_ |= w << bit_count_;
            pos_ += (63 - bit_count_) >> 3;
            bit_count_ |= 56;
            return true;
        }
        while (bit_count_ < n) {
            if (pos_ < length_)
                buf_ |= static_cast<u64>(src_[pos_++]) << bit_count_;
            else if (++pad_ > 8)
                return false;
            bit_count_ += 8;
        }
        return true;
    }
    u32 take(int n) {
        u32 v = static_cast<u32>(buf_ & ((1ull << n) - 1));
        buf_ >>= n;
        bit_count_ -= n;
        return v;
    }

    // A symbol, or -1 for a code that the set does not hold or an input that ran out.
    int decode(const decoder& d) {
        if (!need(15)) return -1;
        u16 e = d.fast[buf_ & ((1u << fast_bits) - 1)];
        if (e) {
            take(e & 15);
            return e >> 4;
        }
        if (!d.usable) return -1;
        // Canonical decoding bit by bit for the long codes.
        int code = 0, first = 0, index = 0;
        for (int l = 1; l < 16; l++) {
            code |= static_cast<int>((buf_ >> (l - 1)) & 1);
            int c = d.count[l];
            if (code - c < first) {
                if (l <= fast_bits) return -1;
                take(l);
                return d.symbols[index + (code - first)];
            }
            index += c;
            first += c;
            first <<= 1;
            code <<= 1;
        }
        return -1;
    }

    bool reserve(std::size_t more) {
        if (more > limit_ - n_ || n_ + more > limit_) {
            full_ = true;
            return false;
        }
        if (n_ + more > out_.size())
            out_.resize(std::max<std::size_t>({n_ + more, out_.size() * 2, 4096}));
        return true;
    }

    int stored() {
        // Back to whole bytes: drop the rest of the current byte, give back the loaded ones.
        take(bit_count_ & 7);
        std::size_t at = consumed();
        buf_ = 0;
        bit_count_ = 0;
        pad_ = 0;
        if (at > length_ || length_ - at < 4) return bad_data;
        u32 len = src_[at] | src_[at + 1] << 8;
        u32 nlen = src_[at + 2] | src_[at + 3] << 8;
        at += 4;
        if ((len ^ 0xFFFF) != nlen) return bad_data;
        if (len > length_ - at) return stored_beyond;
        if (!reserve(len)) return too_small;
        if (len) std::memcpy(out_.data() + n_, src_ + at, len);
        n_ += len;
        pos_ = at + len;
        return ok;
    }

    int fixed() {
        static const struct fixed_decoders {
            decoder lit, dist;
            fixed_decoders() {
                u8 l[288];
                for (int i = 0; i < 288; i++) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
                lit.build(l, 288, false);
                // 30 and 31 have codes but no meaning: decoding them is an error.
                u8 d[32];
                std::memset(d, 5, sizeof d);
                dist.build(d, 32, false);
            }
        } f;
        return codes(f.lit, f.dist);
    }

    int dynamic() {
        if (!need(14)) return bad_data;
        int hlit = static_cast<int>(take(5)) + 257;
        int hdist = static_cast<int>(take(5)) + 1;
        int hclen = static_cast<int>(take(4)) + 4;
        if (hlit > 286 || hdist > 30) return bad_data;
        u8 cl[19] = {};
        for (int i = 0; i < hclen; i++) {
            if (!need(3)) return bad_data;
            cl[code_length_order[i]] = static_cast<u8>(take(3));
        }
        decoder cld;
        if (!cld.build(cl, 19, false)) return bad_data;
        u8 lengths[316];
        int n = 0;
        while (n < hlit + hdist) {
            int s = decode(cld);
            if (s < 0) return bad_data;
            if (s < 16) {
                lengths[n++] = static_cast<u8>(s);
                continue;
            }
            int repeat;
            u8 value = 0;
            if (!need(7)) return bad_data;
            if (s == 16) {
                if (n == 0) return bad_data;
                value = lengths[n - 1];
                repeat = 3 + static_cast<int>(take(2));
            } else if (s == 17) {
                repeat = 3 + static_cast<int>(take(3));
            } else {
                repeat = 11 + static_cast<int>(take(7));
            }
            if (n + repeat > hlit + hdist) return bad_data;
            while (repeat--) lengths[n++] = value;
        }
        if (lengths[256] == 0) return bad_data;
        decoder lit, dist;
        if (!lit.build(lengths, hlit, false)) return bad_data;
        if (!dist.build(lengths + hlit, hdist, true)) return bad_data;
        return codes(lit, dist);
    }

    int codes(const decoder& lit, const decoder& dist) {
        for (;;) {
            int s = decode(lit);
            if (s < 0) return bad_data;
            if (s < 256) {
                if (n_ >= out_.size() && !reserve(1)) return too_small;
                if (n_ >= limit_) {
                    full_ = true;
                    return too_small;
                }
                out_[n_++] = static_cast<u8>(s);
                continue;
            }
            if (s == 256) return overrun() ? bad_data : ok;
            s -= 257;
            if (s >= 29) return bad_data;
            if (!need(5 + 15 + 13)) return bad_data;
            u32 len = length_base[s] + take(length_extra[s]);
            int ds = decode(dist);
            if (ds < 0 || ds >= 30) return bad_data;
            if (!need(13)) return bad_data;
            u32 d = distance_base[ds] + take(distance_extra[ds]);
            if (d > n_) return far_distance;
            if (!reserve(len)) return too_small;
            u8* o = out_.data() + n_;
            const u8* from = o - d;
            if (d >= len) {
                std::memcpy(o, from, len);
            } else {
                for (u32 i = 0; i < len; i++) o[i] = from[i];
            }
            n_ += len;
            if (overrun()) return bad_data;
        }
    }

  public:
    std::size_t produced() const { return n_; }
    bool full() const { return full_; }

  private:
    const u8* src_;
    std::size_t length_;
    bytes& out_;
    std::size_t limit_;
    std::size_t pos_ = 0, pad_ = 0, n_ = 0;
    u64 buf_ = 0;
    int bit_count_ = 0;
    bool full_ = false;
};

constexpr std::size_t four_gib = std::size_t{1} << 32;

// Inflates into `out` after what it holds; `used` receives the input bytes the stream took.
int inflate_into(const u8* src, std::size_t length, bytes& out, std::size_t hint, std::size_t limit,
                 std::size_t* used) {
    std::size_t start = out.size();
    bytes produced;
    produced.reserve(std::min(hint, limit));
    inflater inf(src, length, produced, limit);
    int r = inf.run();
    if (used) *used = inf.consumed();
    if (r != ok) return r;
    produced.resize(inf.produced());
    if (start == 0)
        out.swap(produced);
    else
        out.insert(out.end(), produced.begin(), produced.end());
    return ok;
}

void put_u32_le(bytes& out, u32 v) {
    for (int i = 0; i < 4; i++) out.push_back(static_cast<u8>(v >> (8 * i)));
}

u32 read_u32_le(const u8* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<u32>(p[3]) << 24;
}

} // namespace

int compress_raw(const u8* src, std::size_t length, bytes& out) {
    if (length >= four_gib) return bad_data;
    out.reserve(out.size() + length + length / 8 + 64);
    compressor c(src, static_cast<u32>(length), out);
    c.run();
    return ok;
}

int zlib_compress(const u8* src, std::size_t length, bytes& out) {
    out.push_back(0x78);
    out.push_back(0x01);
    if (int r = compress_raw(src, length, out); r != ok) return r;
    u32 adler = checksum::adler32(src, length);
    for (int i = 3; i >= 0; i--) out.push_back(static_cast<u8>(adler >> (8 * i)));
    return ok;
}

int gzip_compress(const u8* src, std::size_t length, bytes& out) {
    const u8 header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 4, 4};
    out.insert(out.end(), header, header + 10);
    if (int r = compress_raw(src, length, out); r != ok) return r;
    put_u32_le(out, checksum::crc32(src, length));
    put_u32_le(out, static_cast<u32>(length));
    return ok;
}

int decompress_raw(const u8* src, std::size_t length, bytes& out, std::size_t hint,
                   std::size_t limit) {
    return inflate_into(src, length, out, hint, limit, nullptr);
}

int zlib_decompress(const u8* src, std::size_t length, bytes& out, std::size_t hint,
                    std::size_t limit) {
    if (length < 6) return bad_data;
    u32 cmf = src[0], flg = src[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 15) != 8 || (cmf & 0x80) || (flg & 0x20))
        return bad_data;
    std::size_t start = out.size(), used = 0;
    int r = inflate_into(src + 2, length - 2, out, hint, limit, &used);
    if (r != ok) return r == too_small ? too_small : bad_data;
    std::size_t at = 2 + used;
    if (at > length || length - at < 4) return bad_data;
    u32 want = static_cast<u32>(src[at]) << 24 | src[at + 1] << 16 | src[at + 2] << 8 | src[at + 3];
    if (checksum::adler32(out.data() + start, out.size() - start) != want) return bad_data;
    return ok;
}

int gzip_decompress(const u8* src, std::size_t length, bytes& out, std::size_t limit) {
    if (length < 18 || src[0] != 0x1F || src[1] != 0x8B || src[2] != 8) return bad_data;
    u32 flags = src[3];
    if (flags >= 32) return bad_data;
    std::size_t at = 10;
    const std::size_t body_end = length - 8;
    if (flags & 4) {
        if (body_end - at < 2) return bad_data;
        std::size_t extra = src[at] | src[at + 1] << 8;
        at += 2;
        if (body_end - at < extra) return bad_data;
        at += extra;
    }
    for (u32 flag : {8u, 16u}) {
        if (!(flags & flag)) continue;
        const void* nul = std::memchr(src + at, 0, body_end - at);
        if (!nul) return bad_data;
        at = static_cast<const u8*>(nul) - src + 1;
    }
    if (flags & 2) {
        if (body_end - at < 2) return bad_data;
        u32 want = src[at] | src[at + 1] << 8;
        if ((checksum::crc32(src, at) & 0xFFFF) != want) return bad_data;
        at += 2;
    }
    u32 crc = read_u32_le(src + length - 8);
    u32 size = read_u32_le(src + length - 4);
    // The recorded size is only a hint: DEFLATE expands at most 1032 times.
    std::size_t hint = std::min<std::size_t>(size, (body_end - at) * 1032 + 16);
    std::size_t start = out.size();
    int r = inflate_into(src + at, body_end - at, out, hint, limit, nullptr);
    if (r != ok) return r == too_small ? too_small : bad_data;
    std::size_t n = out.size() - start;
    if (static_cast<u32>(n) != size || checksum::crc32(out.data() + start, n) != crc) {
        out.resize(start);
        return bad_data;
    }
    return ok;
}

} // namespace zel::deflate
