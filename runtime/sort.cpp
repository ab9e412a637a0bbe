// Record sorts over an array of record indexes. Every loop is bounded by positions, never by what
// the comparator answered, so an inconsistent comparator yields some permutation and nothing
// worse; the quicksort recurses only into the smaller part, keeping the depth logarithmic.
#include "runtime/sort.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include "runtime/errors.hpp"

namespace zel::record_sort {

namespace {

// A heap block freed on every way out, the comparator's exceptions included.
class scratch {
  public:
    explicit scratch(std::size_t bytes) : p_(std::malloc(bytes ? bytes : 1)) {
        if (!p_) error::raise(err::E("internal", "no-memory"));
    }
    ~scratch() { std::free(p_); }
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;
    template <class T> T* as() const { return static_cast<T*>(p_); }

  private:
    void* p_;
};

// Callback answers folded to -1, 0 and 1, so that a direction can multiply them safely.
inline int sign_of(i32 r) {
    return r >= 1 ? 1 : (r == 0 ? 0 : -1);
}

struct address_compare {
    const u8* base;
    std::size_t size;
    u32 operation, flags;
    compare_fn fn;
    int operator()(u32 x, u32 y) const {
        return sign_of(fn(base + x * size, base + y * size, operation, flags));
    }
};

struct index_compare {
    u32 operation, flags;
    index_compare_fn fn;
    int operator()(u32 x, u32 y) const { return sign_of(fn(x, y, operation, flags)); }
};

constexpr std::size_t min_run = 24;
constexpr std::size_t insertion_limit = 7;
constexpr std::size_t estimate_stride = 97;
constexpr std::size_t segment_step = 10;

int floor_log2(std::size_t n) {
    int r = 0;
    while (n >>= 1) r++;
    return r;
}

template <class Cmp> class sorter {
  public:
    sorter(u32* a, std::size_t n, Cmp cmp) : a_(a), n_(n), cmp_(cmp) {}

    void merge_stable() {
        if (n_ < 2) return;
        scratch buffer(n_ / 2 * sizeof(u32));
        tmp_ = buffer.as<u32>();
        merge_all();
    }

    void quick_unstable() {
        if (n_ < 2) return;
        int dir = 0;
        std::size_t kept = ordered_prefix(dir);
        if (kept < n_) {
            // One pair in every few tells whether the rest leans the prefix's way.
            i64 balance = static_cast<i64>(kept) * dir;
            for (std::size_t i = kept + 1; i < n_; i += estimate_stride) {
                int r = cmp_(a_[i - 1], a_[i]);
                balance += r < 0 ? 1 : (r > 0 ? -1 : 0);
            }
            if (static_cast<u64>(balance < 0 ? -balance : balance) > n_ / 512) {
                if ((balance < 0 ? -1 : 1) != dir) {
                    dir = -dir;
                    kept = 0;
                }
                kept = gather_segments(kept, dir);
            }
        }
        if (dir < 0) std::reverse(a_, a_ + kept);
        if (kept >= n_) return;
        quick_core(0, n_, kept > 2 ? static_cast<i64>(kept) : 0, 2 * floor_log2(n_) + 2);
    }

  private:
    u32* a_;
    std::size_t n_;
    Cmp cmp_;
    u32* tmp_ = nullptr;

    bool after(u32 x, u32 y) { return cmp_(x, y) >= 1; }

    // Straight insertion of [from, hi) into the sorted [lo, from); never passes lo.
    void insert_from(std::size_t lo, std::size_t from, std::size_t hi) {
        for (std::size_t i = from; i < hi; i++) {
            u32 x = a_[i];
            std::size_t j = i;
            for (; j > lo && after(a_[j - 1], x); j--) a_[j] = a_[j - 1];
            a_[j] = x;
        }
    }

    // --- stable natural merge sort ---

    // The end of the natural run at start, a strictly descending one reversed into place.
    std::size_t find_run(std::size_t start, std::size_t end) {
        std::size_t i = start + 1;
        if (i >= end) return end;
        if (!after(a_[start], a_[i])) {
            for (i++; i < end && !after(a_[i - 1], a_[i]); i++) {
            }
        } else {
            for (i++; i < end && after(a_[i - 1], a_[i]); i++) {
            }
            std::reverse(a_ + start, a_ + i);
        }
        return i;
    }

    std::size_t next_run(std::size_t start) {
        std::size_t end = find_run(start, n_);
        if (end - start < min_run) {
            std::size_t full = std::min(start + min_run, n_);
            insert_from(start, end, full);
            end = full;
        }
        return end;
    }

    // The depth of the boundary between the runs [s1, s2) and [s2, e2) in the ideal merge tree.
    int node_power(std::size_t s1, std::size_t s2, std::size_t e2) const {
        u64 l = s1 + s2, r = s2 + e2, n = n_;
        int power = 0;
        for (;;) {
            power++;
            if (l >= n) {
                l -= n;
                r -= n;
            } else if (r >= n) {
                break;
            }
            l <<= 1;
            r <<= 1;
        }
        return power;
    }

    // Merges the sorted [first, mid) and [mid, last) through the buffer, which takes the shorter
    // run; a left record goes first on a tie, so equal records keep their order.
    void merge_runs(std::size_t first, std::size_t mid, std::size_t last) {
        std::size_t left = mid - first, right = last - mid;
        if (right < left) {
            std::memcpy(tmp_, a_ + mid, right * sizeof(u32));
            std::size_t i = mid, j = right, out = last;
            while (i > first && j > 0)
                a_[--out] = after(a_[i - 1], tmp_[j - 1]) ? a_[--i] : tmp_[--j];
            while (j > 0) a_[--out] = tmp_[--j];
        } else {
            std::memcpy(tmp_, a_ + first, left * sizeof(u32));
            std::size_t i = 0, j = mid, out = first;
            while (i < left && j < last) a_[out++] = after(tmp_[i], a_[j]) ? a_[j++] : tmp_[i++];
            while (i < left) a_[out++] = tmp_[i++];
        }
    }

    void merge_all() {
        struct entry {
            std::size_t start;
            int power;
        };
        // Powers on the stack rise strictly from the zero entry at the bottom, and a power never
        // exceeds the bits of n plus one: 64 entries are more than enough.
        entry stack[64];
        int top = 0;
        stack[0] = {0, 0};
        std::size_t a_start = 0, a_end = next_run(0);
        while (a_end < n_) {
            std::size_t b_end = next_run(a_end);
            int power = node_power(a_start, a_end, b_end);
            while (stack[top].power > power) {
                merge_runs(stack[top].start, a_start, a_end);
                a_start = stack[top--].start;
            }
            stack[++top] = {a_start, power};
            a_start = a_end;
            a_end = b_end;
        }
        for (; top > 0; top--) {
            merge_runs(stack[top].start, a_start, n_);
            a_start = stack[top].start;
        }
    }

    // --- adaptive quicksort ---

    // The length of the leading run that never contradicts the first unequal pair; dir becomes
    // 1 for an ascending run, -1 for a descending one.
    std::size_t ordered_prefix(int& dir) {
        std::size_t end = 1;
        for (; end < n_; end++) {
            int r = cmp_(a_[end - 1], a_[end]);
            if (r == 0) continue;
            if (dir == 0) {
                dir = -r;
            } else if (r == dir) {
                break;
            }
        }
        if (dir == 0) dir = 1;
        return end;
    }

    // Gathers ordered segments found behind the prefix [0, kept) onto its end and answers the new
    // prefix length; a prefix of one record counts as empty.
    std::size_t gather_segments(std::size_t kept, int dir) {
        auto in_order = [&](std::size_t x, std::size_t y) { return cmp_(a_[x], a_[y]) * dir < 1; };
        if (kept == 1) kept = 0;
        std::size_t floor = kept ? kept - 1 : 0; // the last prefix record
        std::size_t h = floor;
        for (;;) {
            h += segment_step;
            if (h >= n_) break;
            std::size_t l = h - 1;
            while (h < n_ && in_order(h - 1, h)) h++;
            while (l > floor && in_order(l - 1, l)) l--;
            if (l == floor) { // the segment continues the prefix
                kept = h;
                floor = h - 1;
                continue;
            }
            std::size_t len = h - l;
            if (len < 4) continue;
            if (kept > 0) {
                // Give up the prefix's tail and the segment's head where they overlap in order.
                std::size_t m = std::min(len / 2, kept / 4);
                std::size_t j = 0;
                while (j < m && !in_order(kept - 1 - j, l + j)) j++;
                if (j == m) continue;
                kept -= j;
                l += j;
                len -= j;
            }
            for (std::size_t t = 0; t < len; t++) std::swap(a_[kept + t], a_[l + t]);
            kept += len;
            floor = kept - 1;
        }
        return kept;
    }

    // Moves the block [from, from + len) down to start at `to`, keeping its order.
    void move_down(std::size_t to, std::size_t from, std::size_t len) {
        if (from == to || len == 0) return;
        if (from - to >= len) {
            std::swap_ranges(a_ + from, a_ + from + len, a_ + to);
        } else {
            std::rotate(a_ + to, a_ + from, a_ + from + len);
        }
    }

    // Moves the block [from, from + len) up to end at `end`, keeping its order.
    void move_up(std::size_t from, std::size_t len, std::size_t end) {
        std::size_t to = end - len;
        if (from == to || len == 0) return;
        if (to - from >= len) {
            std::swap_ranges(a_ + from, a_ + from + len, a_ + to);
        } else {
            std::rotate(a_ + from, a_ + from + len, a_ + end);
        }
    }

    // Three-way partition of [p + 1, end) around the pivot at p. Answers (lt, gt): afterwards
    // [p, lt) are below the pivot, [lt, gt) the pivot and its equals, [gt, end) above it.
    std::pair<std::size_t, std::size_t> partition(std::size_t p, std::size_t end) {
        const u32 pivot = a_[p];
        std::size_t eq = p + 1, i = p + 1, j = end;
        for (;;) {
            for (; i < j; i++) {
                int r = cmp_(a_[i], pivot);
                if (r > 0) break;
                if (r == 0) std::swap(a_[i], a_[eq++]);
            }
            if (i == j) break;
            int r = 1;
            while (j - 1 > i && (r = cmp_(a_[j - 1], pivot)) > 0) j--;
            if (j - 1 == i) break;
            std::swap(a_[i], a_[--j]);
            if (r == 0) std::swap(a_[i], a_[eq++]);
            i++;
        }
        std::size_t equal = eq - p, below = i - eq;
        std::size_t m = std::min(equal, below);
        std::swap_ranges(a_ + p, a_ + p + m, a_ + i - m);
        return {p + below, i};
    }

    void heap_sort(std::size_t lo, std::size_t hi) {
        u32* h = a_ + lo;
        std::size_t m = hi - lo;
        auto sift = [&](std::size_t root, std::size_t end) {
            for (;;) {
                std::size_t c = 2 * root + 1;
                if (c >= end) return;
                if (c + 1 < end && after(h[c + 1], h[c])) c++;
                if (!after(h[c], h[root])) return;
                std::swap(h[c], h[root]);
                root = c;
            }
        };
        for (std::size_t i = m / 2; i-- > 0;) sift(i, m);
        for (std::size_t e = m - 1; e > 0; e--) {
            std::swap(h[0], h[e]);
            sift(0, e);
        }
    }

    // Sorts [lo, hi) of which the first k (or, k negative, the last -k) records are known sorted
    // and serve as the pivot sample. `budget` counts the lopsided partitions still tolerated
    // before the range is heap-sorted, which bounds the work a hostile comparator can cause.
    void quick_core(std::size_t lo, std::size_t hi, i64 k, int budget) {
        while (hi - lo > insertion_limit) {
            std::size_t n = hi - lo;
            std::size_t known = static_cast<std::size_t>(k < 0 ? -k : k);
            if (known >= n) return;
            if (budget <= 0) {
                heap_sort(lo, hi);
                return;
            }
            std::size_t window, below_half, above_half;
            if (known > 2) {
                window = n / 256 < known ? n : 16 * known - 1;
                below_half = known / 2;
                above_half = known - below_half - 1;
                if (k < 0) {
                    // With the whole range as window the upper half may stay at the back.
                    move_down(lo, hi - known, window < n ? known : below_half + 1);
                }
                if (window < n) {
                    // Fill the window with records taken across the whole range.
                    std::size_t stride = n / window;
                    for (std::size_t t = known; t < window; t++)
                        std::swap(a_[lo + t], a_[lo + t * stride]);
                }
                if (k > 0 || window < n) move_up(lo + below_half + 1, above_half, lo + window);
            } else {
                window = n > 511 ? 63 : n;
                std::size_t last = lo + window - 1;
                std::swap(a_[lo + window / 2], a_[lo + 1]);
                if (after(a_[lo], a_[lo + 1])) std::swap(a_[lo], a_[lo + 1]);
                if (after(a_[lo + 1], a_[last])) {
                    std::swap(a_[lo + 1], a_[last]);
                    if (after(a_[lo], a_[lo + 1])) std::swap(a_[lo], a_[lo + 1]);
                }
                below_half = above_half = 1;
            }
            std::size_t wend = lo + window;
            auto [lt, gt] = partition(lo + below_half, wend - above_half);
            i64 below_k = static_cast<i64>(below_half), above_k = -static_cast<i64>(above_half);
            if (window < n) {
                // Both parts are below n / 2; the sorted window then samples the whole range.
                quick_core(lo, lt, below_k, budget);
                quick_core(gt, wend, above_k, budget);
                k = static_cast<i64>(window);
                continue;
            }
            std::size_t lower = lt - lo, upper = hi - gt;
            if (std::max(lower, upper) > n - n / 8) budget--;
            if (lower < upper) {
                quick_core(lo, lt, below_k, budget);
                lo = gt;
                k = above_k;
            } else {
                quick_core(gt, hi, above_k, budget);
                hi = lt;
                k = below_k;
            }
        }
        if (hi - lo > 1) insert_from(lo, lo + 1, hi);
    }
};

void fill_identity(u32* order, std::size_t n) {
    for (std::size_t i = 0; i < n; i++) order[i] = static_cast<u32>(i);
}

template <bool stable>
void sort_records(u8* base, i32 n, u32 size, u32 operation, u32 flags, compare_fn compare) {
    if (n < 2 || size == 0) return;
    std::size_t count = static_cast<std::size_t>(n);
    scratch order(count * sizeof(u32));
    u32* o = order.as<u32>();
    fill_identity(o, count);
    sorter<address_compare> s(o, count, address_compare{base, size, operation, flags, compare});
    if constexpr (stable) {
        s.merge_stable();
    } else {
        s.quick_unstable();
    }
    apply_order(base, o, n, size);
}

template <bool stable>
void sort_order(u32* order, i32 n, u32 operation, u32 flags, index_compare_fn compare) {
    if (n <= 0) return;
    std::size_t count = static_cast<std::size_t>(n);
    fill_identity(order, count);
    sorter<index_compare> s(order, count, index_compare{operation, flags, compare});
    if constexpr (stable) {
        s.merge_stable();
    } else {
        s.quick_unstable();
    }
}

} // namespace

void merge_stable(u8* base, i32 n, u32 size, u32 operation, u32 flags, compare_fn compare) {
    sort_records<true>(base, n, size, operation, flags, compare);
}

void quick_unstable(u8* base, i32 n, u32 size, u32 operation, u32 flags, compare_fn compare) {
    sort_records<false>(base, n, size, operation, flags, compare);
}

void merge_stable_order(u32* order, i32 n, u32 operation, u32 flags, index_compare_fn compare) {
    sort_order<true>(order, n, operation, flags, compare);
}

void quick_unstable_order(u32* order, i32 n, u32 operation, u32 flags, index_compare_fn compare) {
    sort_order<false>(order, n, operation, flags, compare);
}

void apply_order(u8* base, u32* order, i32 n, u32 size) {
    if (n < 2 || size == 0) return;
    // Cycle by cycle, with one record held aside; the top bit marks places already filled
    // (indexes stay below 2^31 since n is a positive i32).
    constexpr u32 done = 0x80000000u;
    u8 small[256];
    std::size_t s = size;
    std::optional<scratch> big;
    u8* held = small;
    if (s > sizeof small) held = big.emplace(s).as<u8>();
    auto rec = [&](u32 i) { return base + i * s; };
    u32 count = static_cast<u32>(n);
    for (u32 i = 0; i < count; i++) {
        if ((order[i] & done) || order[i] == i) continue;
        std::memcpy(held, rec(i), s);
        for (u32 j = i;;) {
            u32 from = order[j];
            order[j] |= done;
            if (from == i) {
                std::memcpy(rec(j), held, s);
                break;
            }
            std::memcpy(rec(j), rec(from), s);
            j = from;
        }
    }
    for (u32 i = 0; i < count; i++) order[i] &= ~done;
}

} // namespace zel::record_sort
