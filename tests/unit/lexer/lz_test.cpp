// The boot payload's LZ codec: round trips over the chunk and window limits, the stream's own
// examples, and blocks whose sizes, chunks or copies lie.
#include "lexer/lz.hpp"

#include <gtest/gtest.h>

#include <random>

namespace zel {
namespace {

using bytes = std::vector<std::uint8_t>;

bytes sample(std::size_t n, unsigned seed, int alphabet) {
    std::mt19937 rng(seed);
    bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng() % alphabet);
    return b;
}

TEST(Lz, RoundTripsAcrossChunksAndWindows) {
    bytes text = sample(3'300'000, 7, 6); // several chunks, copies at every distance
    bytes repeated;
    bytes unit = sample(200'000, 9, 256); // copies from near the window's far end
    for (int i = 0; i < 3; i++) repeated.insert(repeated.end(), unit.begin(), unit.end());
    for (const bytes* source : {&text, &repeated}) {
        auto packed = lz::compress(source->data(), source->size());
        ASSERT_TRUE(packed);
        auto back = lz::decompress(packed->data(), packed->size(), source->size());
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, *source);
    }
}

TEST(Lz, StreamExamples) {
    // 600 equal bytes: one literal, then copies from one byte back (e = 0, then three zero bits).
    bytes run(600, 'q');
    auto packed = lz::compress(run.data(), run.size());
    ASSERT_TRUE(packed);
    const auto& p = *packed;
    EXPECT_EQ(p[8] | p[9] << 8 | p[10] << 16, 600);
    // Bits from byte 12: 0 + 'q' (a literal), then 1 (a copy), length prefix 00000 + 9 bits
    // (511 for 566 bytes), distance e = 0 and d = 0.
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; i++) bits |= std::uint64_t(p[12 + i]) << (8 * i);
    EXPECT_EQ(bits & 0x1FF, std::uint64_t('q') << 1);
    EXPECT_EQ((bits >> 9) & 1, 1u);
    EXPECT_EQ((bits >> 10) & 0x1F, 0u);
    EXPECT_EQ((bits >> 15) & 0x1FF, 511u);
    EXPECT_EQ((bits >> 24) & 0x7F, 0u);
    EXPECT_EQ(*lz::decompress(p.data(), p.size(), 600), run);

    bytes short_one(127, 'a');
    EXPECT_FALSE(lz::compress(short_one.data(), short_one.size()));
    bytes noise = sample(4000, 3, 256);
    EXPECT_FALSE(lz::compress(noise.data(), noise.size())); // would not be shorter
}

TEST(Lz, RefusesBlocksThatLie) {
    bytes run(1000, 'z');
    bytes good = *lz::compress(run.data(), run.size());
    auto refuses = [](bytes b, std::size_t max = 1 << 24) {
        return !lz::decompress(b.data(), b.size(), max);
    };
    auto with_u32 = [&](std::size_t at, std::uint32_t v) {
        bytes b = good;
        for (int i = 0; i < 4; i++) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        return b;
    };
    EXPECT_TRUE(refuses(with_u32(8, 0)));       // chunk of 0 bytes
    EXPECT_TRUE(refuses(with_u32(8, 1048577))); // chunk over 1 MiB
    EXPECT_TRUE(refuses(with_u32(0, 1 << 20))); // packed size past the input
    EXPECT_TRUE(refuses(with_u32(4, 999)));     // fewer bytes than stated
    EXPECT_TRUE(refuses(with_u32(4, 1001)));    // more stated than the chunks make
    EXPECT_TRUE(refuses(good, 999));            // stated size above the caller's bound
    EXPECT_TRUE(refuses(bytes(good.begin(), good.end() - 1)));
    for (std::size_t cut = 0; cut < good.size(); cut++) {
        bytes b(good.begin(), good.begin() + cut);
        EXPECT_TRUE(refuses(b)) << cut;
    }
    // A copy before the chunk's first byte: a chunk that starts with a copy.
    bytes copy_first = {0, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 0x03, 0x00, 0x00};
    copy_first[0] = static_cast<std::uint8_t>(copy_first.size() - 8);
    EXPECT_TRUE(refuses(copy_first));
}

} // namespace
} // namespace zel
