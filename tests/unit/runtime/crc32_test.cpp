// CRC-32 takes one of two roads: carry-less folding where the processor has it, tables elsewhere.
// Both must agree on every length and alignment, whichever one this machine runs.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "runtime/checksum.hpp"

using namespace zel;

TEST(Crc32, FoldedAndTabledAgree) {
    std::mt19937 gen(7);
    std::vector<u8> data(1 << 20);
    for (u8& b : data) b = static_cast<u8>(gen());
    const u8 check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(checksum::crc32(check, 9), 0xCBF43926u);
    EXPECT_EQ(checksum::detail::crc32_tabled(check, 9), 0xCBF43926u);
    for (std::size_t offset = 0; offset < 16; offset += 5)
        for (std::size_t n = 0; n < 600; n++)
            ASSERT_EQ(checksum::crc32(data.data() + offset, n),
                      checksum::detail::crc32_tabled(data.data() + offset, n))
                << "length " << n << " offset " << offset;
    EXPECT_EQ(checksum::crc32(data.data() + 3, data.size() - 3),
              checksum::detail::crc32_tabled(data.data() + 3, data.size() - 3));
}
