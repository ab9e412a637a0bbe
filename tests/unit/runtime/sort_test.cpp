// Record sorts: order and stability against reference sorts (Python's sorted() and
// std::stable_sort), and safety under comparators that throw, answer at random or move the
// records while the sort runs.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/errors.hpp"
#include "runtime/sort.hpp"
#include "tests/unit/command_output.hpp"

using namespace zel;
using bytes = std::vector<u8>;

namespace {

// The comparators below read their key from the flags word: the key width in bytes, ASCII
// letters folded to lower case, and the order reversed.
constexpr u32 fold = 0x100;
constexpr u32 reverse = 0x200;

int compare_keys(const u8* a, const u8* b, u32 flags) {
    if (flags & reverse) std::swap(a, b);
    for (u32 i = 0; i < (flags & 0xFF); i++) {
        int x = a[i], y = b[i];
        if (flags & fold) {
            if (x >= 'A' && x <= 'Z') x += 32;
            if (y >= 'A' && y <= 'Z') y += 32;
        }
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

thread_local u64 comparisons;

i32 by_key(const u8* a, const u8* b, u32, u32 flags) {
    comparisons++;
    return compare_keys(a, b, flags);
}

// Where the index comparators find the records now.
thread_local const u8* records_base;
thread_local u32 record_size;

i32 by_key_at(u32 a, u32 b, u32, u32 flags) {
    comparisons++;
    return compare_keys(records_base + a * record_size, records_base + b * record_size, flags);
}

enum class sort_kind { stable, unstable };
enum class entry { records, order };

const char* name_of(sort_kind k) {
    return k == sort_kind::stable ? "stable" : "unstable";
}

void run_sort(sort_kind k, entry e, bytes& data, u32 size, u32 flags,
              record_sort::compare_fn cmp = by_key) {
    i32 n = static_cast<i32>(data.size() / size);
    if (e == entry::records) {
        auto sort =
            k == sort_kind::stable ? record_sort::merge_stable : record_sort::quick_unstable;
        sort(data.data(), n, size, 0, flags, cmp);
        return;
    }
    records_base = data.data();
    record_size = size;
    std::vector<u32> order(n);
    auto sort = k == sort_kind::stable ? record_sort::merge_stable_order
                                       : record_sort::quick_unstable_order;
    sort(order.data(), n, 0, flags, by_key_at);
    record_sort::apply_order(data.data(), order.data(), n, size);
}

std::vector<std::string_view> split_records(const bytes& data, u32 size) {
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i + size <= data.size(); i += size)
        out.emplace_back(reinterpret_cast<const char*>(data.data() + i), size);
    return out;
}

// The stable sort must reproduce the reference exactly; the unstable one must put a record with
// the same key at every place and keep the same records.
void expect_sorted(sort_kind k, const bytes& got, const bytes& want, u32 size, u32 flags) {
    ASSERT_EQ(got.size(), want.size());
    if (k == sort_kind::stable) {
        EXPECT_TRUE(got == want) << "stable result differs from the reference";
        return;
    }
    for (std::size_t i = 0; i < got.size(); i += size) {
        if (compare_keys(got.data() + i, want.data() + i, flags) != 0) {
            ADD_FAILURE() << "unstable result has a wrong key at record " << i / size;
            break;
        }
    }
    auto a = split_records(got, size), b = split_records(want, size);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_TRUE(a == b) << "unstable result lost or duplicated records";
}

bytes reference_sort(const bytes& data, u32 size, u32 flags) {
    auto recs = split_records(data, size);
    std::stable_sort(recs.begin(), recs.end(), [&](std::string_view a, std::string_view b) {
        return compare_keys(reinterpret_cast<const u8*>(a.data()),
                            reinterpret_cast<const u8*>(b.data()), flags) < 0;
    });
    bytes out;
    for (auto& r : recs) out.insert(out.end(), r.begin(), r.end());
    return out;
}

// 8-byte records: a 4-byte big-endian key (so bytes compare as numbers), then the input index.
constexpr u32 tagged_size = 8;
constexpr u32 tagged_key = 4;

bytes tagged(const std::vector<u32>& keys) {
    bytes out(keys.size() * tagged_size);
    for (std::size_t i = 0; i < keys.size(); i++) {
        u8* r = out.data() + i * tagged_size;
        for (int b = 0; b < 4; b++) r[b] = static_cast<u8>(keys[i] >> (24 - 8 * b));
        u32 tag = static_cast<u32>(i);
        std::memcpy(r + 4, &tag, 4);
    }
    return out;
}

// Runs f on a thread whose stack is far too small for recursion as deep as the input is long.
void on_small_stack(const std::function<void()>& f) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64 * 1024);
    pthread_t t;
    auto body = [](void* p) -> void* {
        (*static_cast<const std::function<void()>*>(p))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&t, &attr, body, const_cast<std::function<void()>*>(&f)), 0);
    pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
}

// --- Python's sorted() as the oracle ---

// One line of input records and one of the expected order, in hex, per case of seven numbers.
const char* oracle_script = R"(
import random, sys
args = list(map(int, sys.argv[1:]))
for c in range(0, len(args), 7):
    n, size, width, fold, rev, spread, seed = args[c : c + 7]
    rnd = random.Random(seed)
    letters = b"aAbBcCdDeE"
    recs = []
    for i in range(n):
        if fold:
            key = bytes(rnd.choice(letters[:spread]) for _ in range(width))
        else:
            key = bytes(rnd.randrange(spread) for _ in range(width))
        recs.append(key + i.to_bytes(64, "little")[: size - width])
    key = (lambda r: r[:width].lower()) if fold else (lambda r: r[:width])
    print(b"".join(recs).hex())
    print(b"".join(sorted(recs, key=key, reverse=bool(rev))).hex())
)";

bytes from_hex(const std::string& s) {
    bytes out;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(static_cast<u8>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

struct oracle_case {
    int n;
    u32 size, width;
    bool fold, reverse;
    int spread; // distinct key bytes: small means many equal keys
};

// Text units folded for case, /skip groups of odd sizes, cell-sized records, run-length edges.
const oracle_case oracle_cases[] = {
    {0, 1, 1, true, false, 6},      {1, 1, 1, true, false, 6},     {2, 3, 1, false, false, 2},
    {25, 1, 1, true, false, 4},     {100, 3, 1, false, true, 3},   {2000, 1, 1, true, false, 8},
    {2000, 1, 1, true, true, 6},    {3000, 3, 1, false, false, 5}, {3000, 7, 2, false, true, 3},
    {5000, 16, 4, false, false, 2}, {1500, 48, 1, false, true, 4}, {4000, 5, 2, true, false, 10},
};

TEST(SortOracle, MatchesPythonSorted) {
    std::string script = testing::TempDir() + "sort_oracle.py";
    std::ofstream(script) << oracle_script;
    std::string cmd = "python3 " + script;
    int seed = 1;
    for (const oracle_case& c : oracle_cases)
        for (int v :
             {c.n, int(c.size), int(c.width), int(c.fold), int(c.reverse), c.spread, seed++})
            cmd += " " + std::to_string(v);
    int status = 0;
    std::string out = test::command_output(cmd + " 2>/dev/null", &status);
    ASSERT_NE(status, -1);
    if (out.empty()) GTEST_SKIP() << "python3 is not available";
    ASSERT_EQ(status, 0);

    std::size_t at = 0;
    auto next_line = [&] {
        std::size_t nl = out.find('\n', at);
        std::string line = out.substr(at, nl - at);
        at = nl == std::string::npos ? out.size() : nl + 1;
        return line;
    };
    for (const oracle_case& c : oracle_cases) {
        bytes input = from_hex(next_line()), want = from_hex(next_line());
        ASSERT_EQ(input.size(), std::size_t(c.n) * c.size);
        u32 flags = c.width | (c.fold ? fold : 0) | (c.reverse ? reverse : 0);
        for (sort_kind k : {sort_kind::stable, sort_kind::unstable}) {
            for (entry e : {entry::records, entry::order}) {
                SCOPED_TRACE(std::to_string(c.n) + " records of " + std::to_string(c.size) +
                             " flags " + std::to_string(flags) + " " + name_of(k) +
                             (e == entry::order ? " by order" : ""));
                bytes data = input;
                run_sort(k, e, data, c.size, flags);
                expect_sorted(k, data, want, c.size, flags);
            }
        }
    }
}

// --- shapes of input that defeat naive sorts, against std::stable_sort ---

struct shape {
    const char* name;
    std::function<u32(u32 i, u32 n, std::mt19937& rng)> key;
    bool linear; // already in order (either way) or all equal: a linear pass must do
};

const shape shapes[] = {
    {"ascending", [](u32 i, u32, std::mt19937&) { return i; }, true},
    {"descending", [](u32 i, u32 n, std::mt19937&) { return n - i; }, true},
    {"all equal", [](u32, u32, std::mt19937&) { return 7u; }, true},
    {"ascending with ties", [](u32 i, u32, std::mt19937&) { return i / 3; }, true},
    {"descending with ties", [](u32 i, u32 n, std::mt19937&) { return (n - i) / 3; }, false},
    {"few keys", [](u32, u32, std::mt19937& r) { return u32(r() % 50); }, false},
    {"random", [](u32, u32, std::mt19937& r) { return u32(r()); }, false},
    {"organ pipe", [](u32 i, u32 n, std::mt19937&) { return std::min(i, n - i); }, false},
    {"sawtooth", [](u32 i, u32, std::mt19937&) { return i % 1000; }, false},
    {"smallest last", [](u32 i, u32 n, std::mt19937&) { return i + 1 == n ? 0 : i + 1; }, false},
    {"nearly ascending", [](u32 i, u32, std::mt19937& r) { return r() % 100 == 0 ? u32(r()) : i; },
     false},
    {"nearly descending",
     [](u32 i, u32 n, std::mt19937& r) { return r() % 100 == 0 ? u32(r()) : n - i; }, false},
    {"sorted then random",
     [](u32 i, u32 n, std::mt19937& r) { return i < n / 10 * 9 ? i : u32(r()); }, false},
    {"short rise, then descending", [](u32 i, u32 n, std::mt19937&) { return i < 8 ? i : n - i; },
     false},
    {"one outlier", [](u32 i, u32 n, std::mt19937&) { return i == n / 2 ? 1u : 0u; }, false},
};

TEST(Sort, InputShapesSortCorrectlyFastAndShallow) {
    constexpr u32 n = 100000;
    const u64 n_log_n = u64(n * std::log2(double(n)));
    for (const shape& s : shapes) {
        std::mt19937 rng(42);
        std::vector<u32> keys(n);
        for (u32 i = 0; i < n; i++) keys[i] = s.key(i, n, rng);
        bytes input = tagged(keys);
        for (u32 flags : {tagged_key, tagged_key | reverse}) {
            bytes want = reference_sort(input, tagged_size, flags);
            for (sort_kind k : {sort_kind::stable, sort_kind::unstable}) {
                SCOPED_TRACE(std::string(s.name) + " " + name_of(k) +
                             (flags & reverse ? " reversed" : ""));
                bytes data = input;
                u64 used = 0;
                on_small_stack([&] {
                    comparisons = 0;
                    run_sort(k, entry::records, data, tagged_size, flags);
                    used = comparisons;
                });
                expect_sorted(k, data, want, tagged_size, flags);
                EXPECT_LE(used, 3 * n_log_n);
                // Reversed, runs of tied keys stop counting as one ordered run.
                if (s.linear && !(flags & reverse)) {
                    EXPECT_LE(used, 2u * n);
                }
            }
        }
    }
}

// --- comparators that fail ---

enum class failure { plain, std_exception, language_error, language_throw };

thread_local u64 calls_before_failure;
thread_local failure failure_kind;

i32 failing_by_key(const u8* a, const u8* b, u32 operation, u32 flags) {
    if (--calls_before_failure == 0) {
        switch (failure_kind) {
        case failure::plain:
            throw 7;
        case failure::std_exception:
            throw std::runtime_error("comparator failed");
        case failure::language_error:
            error::raise(err::E("script", "invalid-arg"));
        case failure::language_throw:
            throw unwind{throw_code::throw_};
        }
    }
    return by_key(a, b, operation, flags);
}

TEST(Sort, ThrowingComparatorLeavesRecordsAsTheyWere) {
    constexpr u32 n = 5000;
    std::mt19937 rng(7);
    std::vector<u32> keys(n);
    for (u32& k : keys) k = rng() % 40;
    const bytes input = tagged(keys);
    for (sort_kind k : {sort_kind::stable, sort_kind::unstable}) {
        bytes data = input;
        comparisons = 0;
        run_sort(k, entry::records, data, tagged_size, tagged_key);
        const u64 total = comparisons;
        for (failure f : {failure::plain, failure::std_exception, failure::language_error,
                          failure::language_throw}) {
            for (u64 at : {u64(1), u64(2), u64(n / 2), u64(n), total / 2, total - 1, total}) {
                SCOPED_TRACE(std::string(name_of(k)) + " failing at call " + std::to_string(at) +
                             " of " + std::to_string(total) + ", kind " + std::to_string(int(f)));
                data = input;
                calls_before_failure = at;
                failure_kind = f;
                EXPECT_ANY_THROW(
                    run_sort(k, entry::records, data, tagged_size, tagged_key, failing_by_key));
                EXPECT_TRUE(data == input);
            }
        }
    }
}

// --- comparators that answer at random ---

thread_local std::mt19937 chaos;
thread_local const u8* bounds_lo;
thread_local const u8* bounds_hi;
thread_local u64 strays;

thread_local u32 chaos_bias; // percent of answers that say "after"

i32 random_answer() {
    u32 r = chaos() % 100;
    if (r < chaos_bias) return r % 2 ? 1 : INT_MAX;
    if (r < chaos_bias + 10) return 0;
    return r % 2 ? -1 : INT_MIN;
}

i32 random_by_address(const u8* a, const u8* b, u32, u32) {
    for (const u8* p : {a, b})
        if (p < bounds_lo || p >= bounds_hi || (p - bounds_lo) % record_size != 0) strays++;
    return random_answer();
}

thread_local u32 index_limit;

i32 random_by_index(u32 a, u32 b, u32, u32) {
    if (a >= index_limit || b >= index_limit) strays++;
    return random_answer();
}

// Under the sanitizer a read or write past either end would stop the test; without it the
// comparator still sees every address it is given.
TEST(Sort, InconsistentComparatorStaysInBoundsAndKeepsEveryRecord) {
    for (u32 size : {4u, 5u, 16u}) {
        for (u32 n : {2u, 3u, 8u, 25u, 64u, 600u, 5000u, 40000u}) {
            for (u32 bias : {10u, 45u, 85u}) {
                for (sort_kind k : {sort_kind::stable, sort_kind::unstable}) {
                    SCOPED_TRACE(std::to_string(n) + " records of " + std::to_string(size) + " " +
                                 name_of(k) + ", " + std::to_string(bias) + "% after");
                    chaos.seed(n * 31 + size + bias);
                    chaos_bias = bias;
                    auto data = std::make_unique<u8[]>(std::size_t(n) * size);
                    for (u32 i = 0; i < n; i++) std::memcpy(data.get() + i * size, &i, 4);
                    bounds_lo = data.get();
                    bounds_hi = data.get() + std::size_t(n) * size;
                    record_size = size;
                    strays = 0;
                    auto sort = k == sort_kind::stable ? record_sort::merge_stable
                                                       : record_sort::quick_unstable;
                    sort(data.get(), i32(n), size, 0, 0, random_by_address);
                    EXPECT_EQ(strays, 0u);
                    std::vector<u32> tags(n);
                    for (u32 i = 0; i < n; i++) std::memcpy(&tags[i], data.get() + i * size, 4);
                    std::sort(tags.begin(), tags.end());
                    for (u32 i = 0; i < n; i++) ASSERT_EQ(tags[i], i) << "records lost or doubled";

                    index_limit = n;
                    std::vector<u32> order(n);
                    auto sort_order = k == sort_kind::stable ? record_sort::merge_stable_order
                                                             : record_sort::quick_unstable_order;
                    sort_order(order.data(), i32(n), 0, 0, random_by_index);
                    EXPECT_EQ(strays, 0u);
                    std::sort(order.begin(), order.end());
                    for (u32 i = 0; i < n; i++) ASSERT_EQ(order[i], i) << "indexes lost or doubled";
                }
            }
        }
    }
}

// --- records that move while the sort runs ---

// Stands in for a series whose buffer moves whenever language code runs (a collection, or the
// comparator growing the series): each comparison copies the records to a new allocation and
// frees the old one, so a sort that held an address across the call would read freed memory.
struct moving_records {
    std::unique_ptr<u8[]> data;
    std::size_t bytes = 0;
    void move() {
        auto fresh = std::make_unique<u8[]>(bytes);
        std::memcpy(fresh.get(), data.get(), bytes);
        data = std::move(fresh);
    }
};

thread_local moving_records* moving;

i32 moving_by_key(u32 a, u32 b, u32, u32 flags) {
    moving->move();
    const u8* base = moving->data.get();
    return compare_keys(base + a * tagged_size, base + b * tagged_size, flags);
}

TEST(Sort, OrderEntriesSortRecordsThatMoveDuringComparison) {
    constexpr u32 n = 3000;
    std::mt19937 rng(3);
    std::vector<u32> keys(n);
    for (u32& k : keys) k = rng() % 30;
    const bytes input = tagged(keys);
    const bytes want = reference_sort(input, tagged_size, tagged_key);
    for (sort_kind k : {sort_kind::stable, sort_kind::unstable}) {
        SCOPED_TRACE(name_of(k));
        moving_records recs;
        recs.bytes = input.size();
        recs.data = std::make_unique<u8[]>(recs.bytes);
        std::memcpy(recs.data.get(), input.data(), recs.bytes);
        moving = &recs;
        std::vector<u32> order(n);
        auto sort = k == sort_kind::stable ? record_sort::merge_stable_order
                                           : record_sort::quick_unstable_order;
        sort(order.data(), i32(n), 0, tagged_key, moving_by_key);
        record_sort::apply_order(recs.data.get(), order.data(), i32(n), tagged_size);
        bytes got(recs.data.get(), recs.data.get() + recs.bytes);
        expect_sorted(k, got, want, tagged_size, tagged_key);
    }
}

// --- a comparator that fixes its answers so as to make every pivot a bad one ---

// Records start as "gas", above every fixed value; when two gas records meet, one is frozen to
// the next lowest value, preferring the one that looked like a pivot. The answers stay a
// consistent order, yet a quicksort without a fallback does quadratic work against them.
struct adversary {
    std::vector<u32> value;
    u32 gas, fixed = 0, candidate = UINT32_MAX;
    explicit adversary(u32 n) : value(n, n), gas(n) {}
    int compare(u32 x, u32 y) {
        if (value[x] == gas && value[y] == gas) value[x == candidate ? x : y] = fixed++;
        if (value[x] == gas) {
            candidate = x;
        } else if (value[y] == gas) {
            candidate = y;
        }
        return value[x] == value[y] ? 0 : value[x] < value[y] ? -1 : 1;
    }
};

adversary* opponent;
u64 adversary_calls;

i32 adversary_compare(u32 a, u32 b, u32, u32) {
    adversary_calls++;
    return opponent->compare(a, b);
}

TEST(Sort, HostileComparatorKeepsTheSortShallowAndBounded) {
    constexpr u32 n = 100000;
    for (sort_kind k : {sort_kind::stable, sort_kind::unstable}) {
        SCOPED_TRACE(name_of(k));
        adversary opp(n);
        opponent = &opp;
        adversary_calls = 0;
        std::vector<u32> order(n);
        auto sort = k == sort_kind::stable ? record_sort::merge_stable_order
                                           : record_sort::quick_unstable_order;
        on_small_stack([&] { sort(order.data(), i32(n), 0, 0, adversary_compare); });
        EXPECT_LE(adversary_calls, u64(4 * n * std::log2(double(n))));
        for (u32 i = 1; i < n; i++) {
            ASSERT_LE(opp.value[order[i - 1]], opp.value[order[i]]) << "unsorted at " << i;
        }
    }
}

TEST(Sort, FewerThanTwoRecordsCallNoComparator) {
    for (i32 n : {-1, 0, 1}) {
        for (sort_kind k : {sort_kind::stable, sort_kind::unstable}) {
            bytes data = {9, 8, 7, 6};
            comparisons = 0;
            auto sort =
                k == sort_kind::stable ? record_sort::merge_stable : record_sort::quick_unstable;
            sort(data.data(), n, 4, 0, 1, by_key);
            u32 order[1] = {5};
            auto sort_order = k == sort_kind::stable ? record_sort::merge_stable_order
                                                     : record_sort::quick_unstable_order;
            sort_order(order, n, 0, 1, by_key_at);
            EXPECT_EQ(comparisons, 0u) << n << " " << name_of(k);
            EXPECT_EQ(data, (bytes{9, 8, 7, 6}));
            if (n == 1) {
                EXPECT_EQ(order[0], 0u);
            }
        }
    }
}

} // namespace
